// A field that one thread writes while another reads it, with relaxed loads
// and stores only: the effect's parameter fields, the sample rate and block
// size of the interface layer.
#pragma once

#include <atomic>

// Why relaxed order is enough: a 4-byte aligned atomic is lock-free on the
// supported targets (x86 and x86-64) and its relaxed load or store is one
// plain move, so the audio thread never waits and never sees a torn value.
// Every value a parameter call can store is sound on its own (setParameter
// clamps before it stores, and grain reads outside the buffers read as
// silence), so a change landing between two reads, even between the draws
// of one grain start, can only mix an old and a new setting, never produce
// an unsafe one. Such a field orders no other memory; what must be read
// together with other state (the loop settings, the prepared rate) lives in
// atomics of its own with the orders they need.
template <typename T>
class RelaxedAtomic {
 public:
  RelaxedAtomic() = default;
  explicit RelaxedAtomic(T value) : value_(value) {}
  RelaxedAtomic(const RelaxedAtomic&) = delete;
  RelaxedAtomic& operator=(const RelaxedAtomic&) = delete;

  T load() const { return value_.load(std::memory_order_relaxed); }
  void store(T value) { value_.store(value, std::memory_order_relaxed); }

 private:
  static_assert(std::atomic<T>::is_always_lock_free,
                "a relaxed field must be lock-free");
  std::atomic<T> value_{};
};
