// The settings counted in samples of the loop ("st rate", "pos", "len") and
// everything a parameter call needs to read or set them, kept so that a
// parameter call never waits for another thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

// Two events change what such a count means: the first tempo query, which
// converts the values set before it against the loop it derives, and the
// adoption of a new sample rate, which scales the counts. Both happen on the
// audio side (the audio thread, or a resume), while parameter calls may run
// on other threads at any priority. The protocol:
// - One 64-bit frame holds what the counts are read against: "bsize", the
//   rate, the loop length, whether the first query is still to come, a busy
//   mark and a serial. Each count lives in a word of its own that carries
//   the serial of the frame it belongs to.
// - An adoption writes what it needs to know (`Adoption`), then marks the
//   frame busy in one fetch_or: that is the moment it takes effect, and the
//   frame it marked fixes "bsize", the rate and the loop it starts from.
// - Any thread that finds the frame busy completes the adoption itself
//   (`complete`): it converts each word still at the marked serial by
//   compare-and-swap, then replaces the marked frame by the next one. Every
//   step is a pure function of the marked frame and the adoption, so all
//   threads that take it write the same; a step someone else took first
//   makes the compare-and-swap fail, and that is the end of it.
// - A parameter call reads the frame, then its word, then the frame again;
//   it answers or commits (by compare-and-swap on the word) only what it
//   read with a frame unchanged and not busy. A set that read the frame just
//   before an adoption's mark may still commit its word after it: it then
//   counts as set before the adoption, which converts it, since any call
//   that looked at the word after the mark converted it first and so made
//   the late commit fail.
// Nobody waits: a parameter call starts again only when another thread got
// something done (an adoption, a loop change, a set), and the audio side
// converts a word again only when a set that began before the mark committed
// in between, at most once per such set.
struct myfxProbe;

namespace loop {

// The fields of a frame, packed into one word. The loop length is lowest,
// so that the audio thread can move it by one atomic add.
class Frame {
 public:
  static constexpr int kLoopBits = 22;  // up to 8 s at 384 kHz
  static constexpr int kRateBits = 19;  // up to 384000 Hz
  static constexpr int kSixteenthBits = 7;
  static constexpr int kSerialBits = 14;

  Frame() = default;
  explicit Frame(uint64_t bits) : bits_(bits) {}
  static Frame make(int32_t loop, int32_t rate, int32_t sixteenths, bool open) {
    return Frame(
        uint64_t(uint32_t(loop)) | uint64_t(uint32_t(rate)) << kRateShift |
        uint64_t(uint32_t(sixteenths)) << kSixteenthShift | (open ? kOpen : 0));
  }

  int32_t loop() const { return field(0, kLoopBits); }
  int32_t rate() const { return field(kRateShift, kRateBits); }
  int32_t sixteenths() const { return field(kSixteenthShift, kSixteenthBits); }
  // Until the first tempo query.
  bool open() const { return (bits_ & kOpen) != 0; }
  bool busy() const { return (bits_ & kBusy) != 0; }
  uint32_t serial() const { return uint32_t(bits_ >> kSerialShift); }

  Frame withLoop(int32_t loop) const { return with(0, kLoopBits, loop); }
  Frame withRate(int32_t rate) const {
    return with(kRateShift, kRateBits, rate);
  }
  Frame withSixteenths(int32_t s) const {
    return with(kSixteenthShift, kSixteenthBits, s);
  }
  Frame closed() const { return Frame(bits_ & ~kOpen); }
  // The frame that ends an adoption: not busy, the next serial.
  Frame next() const { return Frame((bits_ & ~kBusy) + kSerialStep); }

  uint64_t bits() const { return bits_; }
  bool operator==(Frame other) const { return bits_ == other.bits_; }
  bool operator!=(Frame other) const { return bits_ != other.bits_; }

  static constexpr uint64_t kBusy = uint64_t{1} << 49;

 private:
  static constexpr int kRateShift = kLoopBits;
  static constexpr int kSixteenthShift = kRateShift + kRateBits;
  static constexpr uint64_t kOpen = uint64_t{1} << 48;
  static constexpr int kSerialShift = 50;
  static constexpr uint64_t kSerialStep = uint64_t{1} << kSerialShift;
  static_assert(kSixteenthShift + kSixteenthBits <= 48, "fields overlap");
  static_assert(kSerialShift + kSerialBits == 64, "the serial fills the top");

  int32_t field(int shift, int width) const {
    return int32_t((bits_ >> shift) & ((uint64_t{1} << width) - 1));
  }
  Frame with(int shift, int width, int32_t value) const {
    const uint64_t mask = ((uint64_t{1} << width) - 1) << shift;
    return Frame((bits_ & ~mask) | (uint64_t(uint32_t(value)) << shift & mask));
  }

  uint64_t bits_ = 0;
};

// A count, or before the first tempo query a value a host set and that
// waits to be converted, with the serial of its frame.
class Word {
 public:
  Word() = default;
  explicit Word(uint64_t bits) : bits_(bits) {}
  static Word count(int32_t count, uint32_t serial) {
    return Word(uint64_t(serial) << kSerialShift | uint32_t(count));
  }
  static Word pending(float value, uint32_t serial) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return Word(uint64_t(serial) << kSerialShift | kPending | bits);
  }

  bool isPending() const { return (bits_ & kPending) != 0; }
  int32_t count() const { return int32_t(uint32_t(bits_)); }
  float value() const {
    const uint32_t bits = uint32_t(bits_);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  uint32_t serial() const { return uint32_t(bits_ >> kSerialShift); }
  uint64_t bits() const { return bits_; }

 private:
  static constexpr uint64_t kPending = uint64_t{1} << 32;
  static constexpr int kSerialShift = 33;
  uint64_t bits_ = 0;
};

// What an adoption changes: written by the audio side before it marks the
// frame, read by every thread that completes it.
struct Adoption {
  enum Kind : int32_t { kFirstQuery, kNewRate };
  std::atomic<int32_t> kind{kFirstQuery};
  std::atomic<uint64_t> tempoBits{0};  // the first query's tempo, a double
  std::atomic<int32_t> rate{0};        // the new rate

  double tempo() const {
    const uint64_t bits = tempoBits.load(std::memory_order_relaxed);
    double t;
    std::memcpy(&t, &bits, sizeof t);
    return t;
  }
  void setTempo(double t) {
    uint64_t bits;
    std::memcpy(&bits, &t, sizeof bits);
    tempoBits.store(bits, std::memory_order_relaxed);
  }
};

// The frame and the three words.
class Settings {
 public:
  static constexpr int kCount = 3;

  Settings() = default;
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  // host's main thread during construction.
  void reset(Frame frame, const int32_t (&counts)[kCount]) {
    frame_.store(frame.bits(), std::memory_order_relaxed);
    for (int i = 0; i < kCount; ++i) {
      words_[i].store(Word::count(counts[i], frame.serial()).bits(),
                      std::memory_order_relaxed);
    }
  }

  // audio thread: the frame and a count as the engine uses them, with
  // relaxed loads (the engine wrote the one, converted the other itself).
  Frame frame() const { return Frame(frame_.load(std::memory_order_relaxed)); }
  int32_t count(int i) const {
    return Word(words_[i].load(std::memory_order_relaxed)).count();
  }
  // audio thread, outside an adoption: the engine's new loop length.
  void moveLoop(int32_t from, int32_t to) {
    frame_.fetch_add(uint64_t(int64_t(to) - from), std::memory_order_release);
  }

  // The state of one word as a parameter call may use it: the word and a
  // frame, not busy, that it belongs to, both current at one moment.
  struct Snapshot {
    Word word;
    Frame frame;
  };
  // any thread; `complete(marked)` completes an adoption found under way.
  template <typename Complete>
  Snapshot snapshot(int i, Complete complete) const {
    for (;;) {
      const Frame frame(frame_.load(std::memory_order_acquire));
      if (frame.busy()) {
        complete(frame);
        continue;
      }
      const Word word(words_[i].load(std::memory_order_acquire));
      if (word.serial() == frame.serial() &&
          frame_.load(std::memory_order_acquire) == frame.bits()) {
        return {word, frame};
      }
    }
  }
  // any thread: `next` replaces what `seen` read, unless the word changed.
  bool replace(int i, const Snapshot& seen, Word next) {
    uint64_t expected = seen.word.bits();
    return words_[i].compare_exchange_strong(expected, next.bits(),
                                             std::memory_order_acq_rel,
                                             std::memory_order_relaxed);
  }
  // any thread: "bsize" is set in the frame; an adoption under way is
  // completed first, since it reads "bsize" from the frame it marked.
  template <typename Complete>
  void setSixteenths(int32_t sixteenths, Complete complete) {
    uint64_t seen = frame_.load(std::memory_order_acquire);
    for (;;) {
      const Frame frame(seen);
      if (frame.busy()) {
        complete(frame);
        seen = frame_.load(std::memory_order_acquire);
      } else if (frame_.compare_exchange_weak(
                     seen, frame.withSixteenths(sixteenths).bits(),
                     std::memory_order_acq_rel, std::memory_order_acquire)) {
        return;
      }
    }
  }

  // audio side: marks the frame busy; answers it as marked.
  Frame mark() {
    return Frame(frame_.fetch_or(Frame::kBusy, std::memory_order_acq_rel) |
                 Frame::kBusy);
  }
  // any thread, for the adoption that marked `marked`: word i, if still at
  // the marked serial, becomes `convert(word)`. Repeats only when a set
  // that read the frame before the mark committed in between.
  template <typename Convert>
  void convert(int i, Frame marked, Convert convert) {
    uint64_t seen = words_[i].load(std::memory_order_acquire);
    while (Word(seen).serial() == marked.serial()) {
      const Word next = convert(Word(seen));
      if (words_[i].compare_exchange_weak(seen, next.bits(),
                                          std::memory_order_acq_rel,
                                          std::memory_order_acquire)) {
        return;
      }
    }
  }
  // any thread, after converting the three words: the adoption ends.
  void finish(Frame marked, Frame next) {
    uint64_t expected = marked.bits();
    frame_.compare_exchange_strong(expected, next.bits(),
                                   std::memory_order_acq_rel,
                                   std::memory_order_relaxed);
  }

  Adoption adoption;

 private:
  friend struct ::myfxProbe;  // tests read a word as it stands

  static_assert(std::atomic<uint64_t>::is_always_lock_free,
                "the frame and the words must be lock-free");
  std::atomic<uint64_t> frame_{0};
  std::atomic<uint64_t> words_[kCount] = {};
};
}  // namespace loop
