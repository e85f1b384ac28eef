// The value formatters: exact texts, the "Huge!" bounds, NaN, and that no
// text ever passes its eight characters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "ProbeEffect.h"
#include "opcodes.h"

namespace {

// A buffer wider than the nine bytes a value text needs, whose tail must stay
// untouched.
constexpr std::size_t kGuardedBytes = 16;
constexpr std::size_t kValueTextBytes = 9;

class Formatters : public ::testing::Test {
 protected:
  template <typename Format>
  std::string guarded(Format format) {
    char text[kGuardedBytes];
    std::memset(text, '#', sizeof text);
    format(text);
    for (std::size_t i = kValueTextBytes; i < kGuardedBytes; ++i) {
      EXPECT_EQ(text[i], '#') << "written past the value text";
    }
    return std::string(text, std::find(text, text + kValueTextBytes, '\0'));
  }
  std::string float2string(float value) {
    return guarded([&](char* t) { effect.float2string(value, t); });
  }
  std::string long2string(int32_t value) {
    return guarded([&](char* t) { effect.long2string(value, t); });
  }
  std::string dB2string(float value) {
    return guarded([&](char* t) { effect.dB2string(value, t); });
  }
  std::string Hz2string(float samples) {
    return guarded([&](char* t) { effect.Hz2string(samples, t); });
  }
  std::string ms2string(float samples) {
    return guarded([&](char* t) { effect.ms2string(samples, t); });
  }

  PlainEffect effect{nullptr, 1, 11};
};

TEST_F(Formatters, Float2stringTruncatesToEightCharacters) {
  EXPECT_EQ(float2string(0.0f), "0.000000");
  EXPECT_EQ(float2string(-0.0f), "0.000000");
  EXPECT_EQ(float2string(0.5f), "0.500000");
  EXPECT_EQ(float2string(0.7f), "0.699999");
  EXPECT_EQ(float2string(3.14159265f), "3.141592");
  EXPECT_EQ(float2string(1.5f), "1.500000");
  EXPECT_EQ(float2string(100.0f), "100.0000");
  EXPECT_EQ(float2string(123.456f), "123.4560");
  EXPECT_EQ(float2string(1234567.0f), "1234567.");
  EXPECT_EQ(float2string(9999999.0f), "9999999.");
  EXPECT_EQ(float2string(-0.5f), "-0.50000");
  EXPECT_EQ(float2string(-123456.0f), "-123456.");
  EXPECT_EQ(float2string(-999999.0f), "-999999.");
}

TEST_F(Formatters, Float2stringShowsHugeWhenTheIntegerPartDoesNotFit) {
  EXPECT_EQ(float2string(10000000.0f), "Huge!");
  EXPECT_EQ(float2string(99999999.0f), "Huge!");
  EXPECT_EQ(float2string(100000000.0f), "Huge!");
  EXPECT_EQ(float2string(-1000000.0f), "Huge!");
  EXPECT_EQ(float2string(-10000000.0f), "Huge!");
  EXPECT_EQ(float2string(std::numeric_limits<float>::infinity()), "Huge!");
  EXPECT_EQ(float2string(-std::numeric_limits<float>::infinity()), "Huge!");
  EXPECT_EQ(float2string(std::numeric_limits<float>::max()), "Huge!");
  EXPECT_EQ(float2string(std::nanf("")), "NaN");
}

// Every finite value that fits gives exactly eight characters, and reading
// the text back never exceeds the value: digits are cut, never rounded up.
TEST_F(Formatters, Float2stringNeverRoundsAcrossMagnitudes) {
  for (int exponent = -30; exponent <= 23; ++exponent) {
    for (float mantissa : {1.0f, 1.2345679f, 1.9999999f, 1.5f, 1.1f}) {
      for (float sign : {1.0f, -1.0f}) {
        const float value = sign * std::ldexp(mantissa, exponent);
        const std::string text = float2string(value);
        if (text == "Huge!") {
          EXPECT_GE(std::fabs(value), sign > 0 ? 1.0e7f : 1.0e6f) << value;
          continue;
        }
        ASSERT_EQ(text.size(), 8u) << value << " -> " << text;
        const double shown = std::strtod(text.c_str(), nullptr);
        EXPECT_LE(std::fabs(shown), std::fabs(static_cast<double>(value)))
            << value << " -> " << text;
      }
    }
  }
}

TEST_F(Formatters, Long2stringRightAlignsInSevenColumns) {
  EXPECT_EQ(long2string(0), "      0");
  EXPECT_EQ(long2string(16), "     16");
  EXPECT_EQ(long2string(-5), "     -5");
  EXPECT_EQ(long2string(12345678), "12345678");
  EXPECT_EQ(long2string(99999999), "99999999");
  EXPECT_EQ(long2string(100000000), "Huge!");
  EXPECT_EQ(long2string(INT32_MAX), "Huge!");
  EXPECT_EQ(long2string(-9999999), "-9999999");
  EXPECT_EQ(long2string(-10000000), "Huge!");
  EXPECT_EQ(long2string(INT32_MIN), "Huge!");
}

TEST_F(Formatters, DecibelsOfAGain) {
  EXPECT_EQ(dB2string(1.0f), "0.000000");
  EXPECT_EQ(dB2string(0.5f), "-6.02059");
  EXPECT_EQ(dB2string(2.0f), "6.020599");
  EXPECT_EQ(dB2string(0.0f), "-oo");
  EXPECT_EQ(dB2string(-1.0f), "-oo");
  EXPECT_EQ(dB2string(std::nanf("")), "NaN");
  EXPECT_EQ(dB2string(std::numeric_limits<float>::infinity()), "Huge!");
}

TEST_F(Formatters, HertzAndMillisecondsAt44100) {
  EXPECT_EQ(Hz2string(0.0f), "0.000000");
  EXPECT_EQ(Hz2string(100.0f), "441.0000");
  EXPECT_EQ(Hz2string(1.0f), "44100.00");
  EXPECT_EQ(ms2string(44100.0f), "1000.000");
  EXPECT_EQ(ms2string(441.0f), "10.00000");
  EXPECT_EQ(ms2string(1.0f), "0.022675");
}

TEST_F(Formatters, HertzAndMillisecondsFollowTheHostsRate) {
  effect.dispatcher(EffectOpcode::kSetSampleRate, 0, 0, nullptr, 48000.0f);
  EXPECT_EQ(Hz2string(100.0f), "480.0000");
  EXPECT_EQ(ms2string(480.0f), "10.00000");
}

TEST_F(Formatters, NullBuffersAreIgnored) {
  effect.float2string(1.0f, nullptr);
  effect.long2string(1, nullptr);
  effect.dB2string(0.0f, nullptr);
  effect.dB2string(1.0f, nullptr);
  effect.Hz2string(1.0f, nullptr);
  effect.ms2string(1.0f, nullptr);
}

}  // namespace
