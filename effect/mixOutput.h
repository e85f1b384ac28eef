// The last step of every sample: the channel sum divided by 3, rounded to
// single precision and clipped to -1..+1. Shared by both engines.
#pragma once

namespace mixOutput {
constexpr double kMixDivisor = 3.0;

// The division stays in double precision. Written plainly, GCC replaces
// single(double(sum) / 3) by the single-precision divide, which rounds the
// same but takes a slow microcode path on denormal sums (a fading tail); the
// empty assembly statement hides that the operand came from a float.
static inline float divided(float sum) {
  double wide = sum;
  __asm__("" : "+x"(wide));
  return static_cast<float>(wide / kMixDivisor);
}

static inline float clipToUnit(float value) {
  if (value > 1.0f) return 1.0f;
  if (value < -1.0f) return -1.0f;
  return value;
}

// One sample of both channel sums delivered over the outputs, or added to
// them. Both values are computed before either output is written, and the
// left one is written first: a host may hand one array for both outputs.
template <bool Accumulate>
inline void deliver(float sumLeft, float sumRight, float& outLeft,
                    float& outRight) {
  const float left = clipToUnit(divided(sumLeft));
  const float right = clipToUnit(divided(sumRight));
  if (Accumulate) {
    outLeft += left;
    outRight += right;
  } else {
    outLeft = left;
    outRight = right;
  }
}
}  // namespace mixOutput
