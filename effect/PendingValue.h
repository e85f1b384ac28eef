// A loop-relative parameter's value, held from its setting until the
// effect's first tempo query, when the loop it was meant for is known.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

// A host restores a session by setting every parameter on a new instance
// before any audio runs, while the loop length is still the placeholder of
// construction. "st rate", "pos" and "len" are counts of samples of that
// loop, so each keeps the value it was set to until the first tempo query
// has derived the real loop, and is converted again against that loop then.
//
// The state is one 32-bit word. A value from 0 to 1 is the bit pattern of
// its float, at most 0x3F800000, which leaves the two top bits to mark the
// other states:
//   kEmpty             nothing pending, first query not yet made
//   value              pending: getParameter answers it
//   kAdopting | value  the first query is converting it (audio thread)
//   kClosed            after the first query: the field alone counts
// Closed and Adopting are never left for Empty or a value again, so a
// compare-and-swap from an open state cannot succeed after the query.
//
// Why a setting racing the first query is neither lost nor converted
// against the wrong loop. The audio thread stores the new loop length, then
// turns the word to Adopting or Closed in one fetch_or; a value it finds
// there it converts and stores in the field, then it stores kClosed. A
// setter stores its field against the loop in force and then tries to
// publish its value with a compare-and-swap from the open state it saw:
// - If the swap lands before the fetch_or, the fetch_or reads this value or
//   a later one (release, then acquire on the same word), so the setter's
//   field store happens before the audio thread's, whose conversion of the
//   newest value is what stays.
// - If the fetch_or lands first, the swap fails; the setter waits out
//   Adopting, sees kClosed (which synchronises with the audio thread's
//   stores of the loop and the field) and stores its field again against
//   the new loop, after the audio thread's store.
// Either way the field ends as the last value converted against the new
// loop, by exactly one of the two, and nothing remains pending. The audio
// thread never waits: it makes one read-modify-write and at most one store
// per word. Only a setter may wait, for the few instructions of one
// conversion.
class PendingValue {
 public:
  // any thread: `value` (0 to 1) becomes the parameter's setting; `store`
  // converts it against the loop length in force and stores the field, as
  // for any other parameter. Before the first query the value is also kept.
  template <typename Store>
  void set(float value, Store store) {
    const uint32_t bits = bitsOf(value);
    uint32_t seen = word_.load(std::memory_order_acquire);
    for (;;) {
      if (seen == kClosed) {
        store();
        return;
      }
      if ((seen & kAdopting) != 0) {  // only for the length of one conversion
        std::this_thread::yield();
        seen = word_.load(std::memory_order_acquire);
        continue;
      }
      store();
      if (word_.compare_exchange_weak(seen, bits, std::memory_order_release,
                                      std::memory_order_acquire)) {
        return;
      }
    }
  }

  // any thread: the value set before the first query, while it is pending.
  bool read(float& value) const {
    const uint32_t seen = word_.load(std::memory_order_acquire);
    if ((seen & kEmpty) != 0) return false;  // empty or closed
    value = valueOf(seen & kValueBits);
    return true;
  }

  // audio thread, once: at the first tempo query, after the new loop length
  // has been stored. `convert` stores the field for a pending value.
  template <typename Convert>
  void adopt(Convert convert) {
    const uint32_t seen = word_.fetch_or(kAdopting, std::memory_order_acq_rel);
    if ((seen & kEmpty) != 0) return;  // Empty has become Closed
    convert(valueOf(seen));
    word_.store(kClosed, std::memory_order_release);
  }

 private:
  static constexpr uint32_t kValueBits = 0x3FFFFFFFu;
  static constexpr uint32_t kAdopting = 0x40000000u;
  static constexpr uint32_t kEmpty = 0x80000000u;
  static constexpr uint32_t kClosed = kEmpty | kAdopting;

  static uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
  }
  static float valueOf(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  static_assert(std::atomic<uint32_t>::is_always_lock_free,
                "the state word must be lock-free");
  std::atomic<uint32_t> word_{kEmpty};
};
