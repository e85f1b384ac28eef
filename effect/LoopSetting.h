// A setting counted in samples of the loop ("st rate", "pos", "len"): one
// 64-bit word that parameter calls change by compare-and-swap and that the
// audio side rewrites when the loop's meaning changes.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

// Two events change what such a count means: the first tempo query, which
// converts the values set before it against the loop it derives, and the
// adoption of a new sample rate, which scales the counts. Both run on the
// audio side (the audio thread, or a resume), while parameter calls may run
// on other threads. The protocol that keeps every parameter call wholly
// before or wholly after such a rewrite:
// - The word holds the count (or, before the first query, the value a host
//   set, kept pending) and a stamp that every rewrite changes.
// - A rewrite marks the word busy (`beginRewrite`), then changes the loop
//   length and the rate, then stores the new word (`endRewrite`).
// - A parameter call reads the word, then the loop length or rate it needs,
//   then commits by a compare-and-swap against the word it read (a setter)
//   or by finding it unchanged (a getter); otherwise it starts again, and it
//   waits while the word is busy. A call that saw the new loop saw the mark
//   too (the rewrite's release fence, the call's acquire fence), so its
//   commit fails; a call that committed before the mark had its result taken
//   up by the rewrite. The stamp makes a word that a rewrite left with the
//   same count differ from the one read before it.
// The audio thread never waits: a rewrite is one read-modify-write and one
// store per word. Only a parameter call may wait, for the length of one
// rewrite.
class LoopSetting {
 public:
  class Word {
   public:
    Word() = default;
    // Until the first tempo query the word is open: its count is answered
    // against the placeholder loop, or it holds a pending value instead.
    bool open() const { return (tag() & kOpen) != 0; }
    bool pending() const { return (tag() & kPending) != 0; }
    int32_t count() const { return static_cast<int32_t>(payload()); }
    float value() const {
      const uint32_t bits = payload();
      float v;
      std::memcpy(&v, &bits, sizeof v);
      return v;
    }
    // The same stamp and state, with another count or a pending value.
    Word withCount(int32_t count) const {
      return Word(tag() & ~kPending, static_cast<uint32_t>(count));
    }
    Word withPending(float v) const {
      uint32_t bits;
      std::memcpy(&bits, &v, sizeof bits);
      return Word(tag() | kPending, bits);
    }
    // Closed: after the first tempo query.
    Word closed() const { return Word(tag() & ~kOpen, payload()); }

   private:
    friend class LoopSetting;
    static constexpr uint32_t kBusy = 1;
    static constexpr uint32_t kOpen = 2;
    static constexpr uint32_t kPending = 4;
    static constexpr uint32_t kStampStep = 8;

    Word(uint32_t tag, uint32_t payload)
        : bits_(uint64_t{tag} << 32 | payload) {}
    explicit Word(uint64_t bits) : bits_(bits) {}
    uint32_t tag() const { return static_cast<uint32_t>(bits_ >> 32); }
    uint32_t payload() const { return static_cast<uint32_t>(bits_); }
    bool busy() const { return (tag() & kBusy) != 0; }

    uint64_t bits_ = 0;
  };

  LoopSetting() = default;
  LoopSetting(const LoopSetting&) = delete;
  LoopSetting& operator=(const LoopSetting&) = delete;

  // audio thread: the count the engine uses (after the first tempo query).
  int32_t load() const {
    return Word(word_.load(std::memory_order_relaxed)).count();
  }

  // host's main thread during construction: an open, untouched count.
  void reset(int32_t count) {
    word_.store(Word(Word::kOpen, static_cast<uint32_t>(count)).bits_,
                std::memory_order_relaxed);
  }

  // any thread: the word, once no rewrite is marking it busy.
  Word read() const {
    for (;;) {
      const Word seen(word_.load(std::memory_order_acquire));
      if (!seen.busy()) return seen;
      std::this_thread::yield();
    }
  }
  // any thread: whether the word is still `seen`, after reads of the loop
  // length or rate made since `read` answered it.
  bool unchanged(Word seen) const {
    std::atomic_thread_fence(std::memory_order_acquire);
    return word_.load(std::memory_order_relaxed) == seen.bits_;
  }
  // any thread: `next` replaces `seen`, unless the word has changed since.
  bool replace(Word seen, Word next) {
    std::atomic_thread_fence(std::memory_order_acquire);
    return word_.compare_exchange_strong(seen.bits_, next.bits_,
                                         std::memory_order_acq_rel,
                                         std::memory_order_relaxed);
  }

  // audio side: marks the word busy and answers it as it was. The caller
  // issues a release fence after its last mark, before it changes the loop
  // length or rate.
  Word beginRewrite() {
    return Word(
        word_.fetch_or(uint64_t{Word::kBusy} << 32, std::memory_order_acq_rel));
  }
  // audio side: stores `next`, a word derived from what `beginRewrite`
  // answered, with a new stamp.
  void endRewrite(Word next) {
    const uint32_t tag = (next.tag() & ~Word::kBusy) + Word::kStampStep;
    word_.store(Word(tag, next.payload()).bits_, std::memory_order_release);
  }

 private:
  static_assert(std::atomic<uint64_t>::is_always_lock_free,
                "a loop setting's word must be lock-free");
  std::atomic<uint64_t> word_{0};
};
