// The effect's own random generator: one per effect object, lock-free and
// never shared, so instances and threads cannot disturb each other's draws.
#pragma once

#include <cstdint>

class RandomGenerator {
 public:
  static constexpr int32_t kMax = 32767;

  void seed(uint32_t value) { state_ = value; }

  // The next draw, 0 to kMax.
  int32_t next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int32_t>((state_ >> 16) & 0x7FFFu);
  }

 private:
  uint32_t state_ = 0;
};
