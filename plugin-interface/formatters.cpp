// The five value formatters of the base effect class: short texts of at most
// eight characters that the host shows next to a parameter.
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "AudioEffect.h"

namespace {

// Every value text has at most this many characters plus its terminator.
constexpr int kValueChars = 8;
// The first magnitudes whose integer part no longer fits beside the point:
// seven digits for a non-negative value, six beside a minus sign.
constexpr double kFirstHugePositive = 10000000.0;
constexpr double kFirstHugeNegative = 1000000.0;
// long2string's bounds: eight digits, or seven beside a minus sign.
constexpr int32_t kFirstHugeLong = 100000000;
constexpr int32_t kLastShownNegativeLong = -9999999;
constexpr double kMillisecondsPerSecond = 1000.0;

constexpr char kHugeText[] = "Huge!";
constexpr char kNotANumberText[] = "NaN";
constexpr char kMinusInfinityText[] = "-oo";

// Copies at most kValueChars characters and a terminator; a null buffer is
// ignored.
void putText(char* text, const char* source) {
  if (text == nullptr) return;
  std::size_t length = 0;
  while (length < kValueChars && source[length] != '\0') ++length;
  std::memcpy(text, source, length);
  text[length] = '\0';
}

// The last decimal digit of a non-negative finite number, truncated.
char lastDigit(double x) {
  return static_cast<char>('0' + static_cast<int>(std::fmod(x, 10.0)));
}

}  // namespace

// Digits are truncated, never rounded, and the text always has exactly eight
// characters: the fraction gets whatever the sign and integer part leave.
void AudioEffect::float2string(float value, char* text) {
  if (text == nullptr) return;
  double v = value;
  if (std::isnan(v)) {
    putText(text, kNotANumberText);
    return;
  }
  const bool negative = v < 0.0;
  int count = 0;
  if (negative) {
    v = -v;
    count = 1;
  }
  if (v >= (negative ? kFirstHugeNegative : kFirstHugePositive)) {
    putText(text, kHugeText);
    return;
  }

  // The integer part, built from the point leftwards.
  char scratch[32];
  char* first = scratch + sizeof scratch;
  *--first = '\0';
  *--first = '.';
  ++count;
  double integer = std::floor(v);
  do {
    *--first = lastDigit(integer);
    integer /= 10.0;
    ++count;
  } while (integer >= 1.0 && count < kValueChars);
  if (negative) *--first = '-';

  char result[kValueChars + 1];
  const int integerChars = count;
  std::memcpy(result, first, static_cast<std::size_t>(integerChars));

  // The fraction, built from its least significant digit leftwards.
  const int fractionChars = kValueChars - count;
  double fraction = std::fmod(v, 1.0) * std::pow(10.0, fractionChars);
  for (int i = kValueChars - 1; i >= integerChars; --i) {
    if (fraction <= 0.0) {
      result[i] = '0';
    } else {
      result[i] = lastDigit(fraction);
      fraction /= 10.0;
    }
  }
  result[kValueChars] = '\0';
  putText(text, result);
}

void AudioEffect::long2string(int32_t value, char* text) {
  if (text == nullptr) return;
  if (value >= kFirstHugeLong || value < kLastShownNegativeLong) {
    putText(text, kHugeText);
    return;
  }
  char scratch[32];
  std::snprintf(scratch, sizeof scratch, "%7d", static_cast<int>(value));
  putText(text, scratch);
}

void AudioEffect::dB2string(float value, char* text) {
  if (value <= 0.0f) {
    putText(text, kMinusInfinityText);
    return;
  }
  float2string(
      static_cast<float>(20.0 * std::log10(static_cast<double>(value))), text);
}

// Follows the rate the host last set, through getSampleRate().
void AudioEffect::Hz2string(float samples, char* text) {
  if (samples == 0.0f) {
    float2string(0.0f, text);
    return;
  }
  float2string(static_cast<float>(static_cast<double>(getSampleRate()) /
                                  static_cast<double>(samples)),
               text);
}

void AudioEffect::ms2string(float samples, char* text) {
  float2string(
      static_cast<float>(static_cast<double>(samples) * kMillisecondsPerSecond /
                         static_cast<double>(getSampleRate())),
      text);
}
