// Draws the values a careless or hostile host may send: special floats and
// doubles, raw bit patterns, indexes and opcodes around and far outside the
// valid ranges.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <limits>

namespace hostile {

// A value of type T made of any bits that Bits (an integer of T's size) holds.
template <typename T, typename Bits>
T anyBits(FuzzedDataProvider& in) {
  static_assert(sizeof(T) == sizeof(Bits), "one bit pattern per value");
  const Bits bits = in.ConsumeIntegral<Bits>();
  T value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Special values first; otherwise any bit pattern (every NaN payload,
// denormal and infinity included).
inline float floatValue(FuzzedDataProvider& in) {
  using F = std::numeric_limits<float>;
  static constexpr float kSpecial[] = {0.0f,
                                       -0.0f,
                                       1.0f,
                                       0.5f,
                                       1.0f - F::epsilon(),
                                       1.0f + F::epsilon(),
                                       -1.0f,
                                       F::quiet_NaN(),
                                       -F::quiet_NaN(),
                                       F::infinity(),
                                       -F::infinity(),
                                       F::denorm_min(),
                                       -F::denorm_min(),
                                       F::min() / 2.0f,
                                       F::max(),
                                       -F::max(),
                                       1e30f,
                                       -1e30f,
                                       44100.0f,
                                       1e7f,
                                       -1e6f};
  if (in.ConsumeBool()) return in.PickValueInArray(kSpecial);
  return anyBits<float, uint32_t>(in);
}

// A host tempo in beats per minute: the musical ones, the absurd ones and any
// bit pattern.
inline double tempo(FuzzedDataProvider& in) {
  using D = std::numeric_limits<double>;
  static constexpr double kSpecial[] = {
      20.0,          60.0,           120.0,
      300.0,         999.0,          0.5,
      0.0,           -0.0,           -120.0,
      1e-300,        1e300,          D::denorm_min(),
      D::max(),      D::quiet_NaN(), D::infinity(),
      -D::infinity()};
  if (in.ConsumeBool()) return in.PickValueInArray(kSpecial);
  return anyBits<double, uint64_t>(in);
}

// Mostly near the valid range, sometimes anything.
inline int32_t index(FuzzedDataProvider& in) {
  if (in.ConsumeIntegralInRange(0, 7) != 0) {
    return in.ConsumeIntegralInRange<int32_t>(-2, 12);
  }
  return in.ConsumeIntegral<int32_t>();
}

inline intptr_t value(FuzzedDataProvider& in) {
  if (in.ConsumeBool()) return in.ConsumeIntegralInRange<intptr_t>(-2, 64);
  return in.ConsumeIntegral<intptr_t>();
}

// Mostly the defined opcodes and their neighbours, sometimes anything.
inline int32_t opcode(FuzzedDataProvider& in) {
  if (in.ConsumeIntegralInRange(0, 15) != 0) {
    return in.ConsumeIntegralInRange<int32_t>(-1, 80);
  }
  return in.ConsumeIntegral<int32_t>();
}

// Frame counts: none, negative, or up to `most`.
inline int32_t frames(FuzzedDataProvider& in, int32_t most) {
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
      return in.PickValueInArray({0, -1, std::numeric_limits<int32_t>::min()});
    case 1:
      return most;
    default:
      return in.ConsumeIntegralInRange<int32_t>(1, most);
  }
}

}  // namespace hostile
