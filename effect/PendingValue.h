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
// has derived the real loop, and is converted against that loop then.
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
// The rule that makes every step safe: while the word is open (Empty or a
// value) nobody writes the field. A setter that finds the word open only
// publishes its value; whoever closes the word converts the value it finds
// there (the audio thread, in `adopt`), and a setter that finds it closed
// converts its own value against the loop in force, as for any parameter.
//
// What each side sees at every step. The audio thread stores the new loop
// length, turns the word to Adopting or Closed in one fetch_or, converts the
// value it found (if any) into the field and stores kClosed (release).
// - The engine reads the field only after its own fetch_or, so it reads the
//   construction value or a conversion against the new loop: never one
//   against the placeholder.
// - `answer` reads the word first (acquire). Empty: the field still holds
//   its construction value, answered against the placeholder loop (also in
//   the instant after the audio thread stored the new loop but before its
//   fetch_or). A value, adopting or not: that value. Closed: the field and
//   the loop length, which the audio thread stored before its release of
//   kClosed, or a setter stored after it.
// - A setter whose compare-and-swap lands before the fetch_or has its value
//   (or a later one) found there and converted against the new loop. If the
//   fetch_or lands first, the swap fails; the setter waits out Adopting,
//   sees kClosed (which synchronises with the audio thread's stores of the
//   loop and the field) and converts its value against the new loop, after
//   the audio thread's store.
// Either way the field ends as the last value converted against the new
// loop, by exactly one of the two, and nothing remains pending. The audio
// thread never waits: it makes one read-modify-write and at most one store
// per word. Only a setter may wait, for the few instructions of one
// conversion.
//
// A host that reads a value and writes it back before any audio changes
// nothing: a value equal to what Empty answers (the field against the
// placeholder loop) is not made pending, so it cannot be converted against
// the real loop into another count of samples.
class PendingValue {
 public:
  // any thread: `value` (0 to 1) becomes the parameter's setting.
  // `placeholderAnswer()` is what the untouched field answers before the
  // first query; `store()` converts the value against the loop length in
  // force and stores the field.
  template <typename PlaceholderAnswer, typename Store>
  void set(float value, PlaceholderAnswer placeholderAnswer, Store store) {
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
      if (seen == kEmpty && value == placeholderAnswer()) return;
      if (word_.compare_exchange_weak(seen, bits, std::memory_order_release,
                                      std::memory_order_acquire)) {
        return;
      }
    }
  }

  // any thread: what getParameter answers. `fieldAnswer(true)` answers the
  // field against the placeholder loop, `fieldAnswer(false)` against the
  // loop length in force.
  template <typename FieldAnswer>
  float answer(FieldAnswer fieldAnswer) const {
    const uint32_t seen = word_.load(std::memory_order_acquire);
    if (seen == kEmpty) return fieldAnswer(true);
    if (seen == kClosed) return fieldAnswer(false);
    return valueOf(seen & kValueBits);
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
