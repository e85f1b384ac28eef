// Checks of the engine's rounding points, each with a setting found so that
// rounding at a different point (or not rounding) changes a stored result.
// The subject is fresh from `make()`, offers seed(uint32_t) besides the
// calls that WorkedExamples.h names, and keeps the settings after
// construction; its first grain starts on index 882 with a loop of 88200.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

#include "ReferenceEngine.h"
#include "WorkedExamples.h"
#include "parameterIndex.h"

namespace reference {

// The four draws of the first start decision: r1, r2, r3 of the grain and r
// of the re-arming.
struct FirstDraws {
  float r1, r2, r3, r;
  explicit FirstDraws(uint32_t seed) {
    ReferenceRandom random;
    random.seed(seed);
    r1 = random.fraction();
    r2 = random.fraction();
    r3 = random.fraction();
    r = random.fraction();
  }
};

// The first (seed, value) from a fixed search for which `differs` holds;
// values are multiples of 1/4096 in (0, 1), seeds spread over 32 bits (the
// first draw after a small seed is small).
inline bool findSetting(
    const std::function<bool(const FirstDraws&, float)>& differs,
    uint32_t& seed, float& value) {
  for (uint32_t k = 1; k <= 64; ++k) {
    seed = k * 2654435761u;
    const FirstDraws draws(seed);
    for (int32_t i = 1; i < 4096; ++i) {
      value = static_cast<float>(i) / 4096.0f;
      if (differs(draws, value)) return true;
    }
  }
  return false;
}

// Runs the subject to just past its first start decision.
template <class Subject>
void toFirstGrain(Subject& subject) {
  runReplacing(subject, Signal(883, 0.0f, 0.0f), HostTempo(120.0));
}

// On a fresh subject seeded and set as a search found, with parameter
// `index` at the value found and "tp" at `tp`, runs to the first grain and
// hands its state to `check`.
template <class Make, class Check>
void atFirstGrain(Make make, int32_t index, float tp,
                  const std::function<bool(const FirstDraws&, float)>& differs,
                  Check check) {
  uint32_t seed = 0;
  float v = 0.0f;
  ASSERT_TRUE(findSetting(differs, seed, v)) << "parameter " << index;
  auto subject = make();
  subject->seed(seed);
  subject->setParameter(Param::kTranspose, tp);
  subject->setParameter(index, v);
  toFirstGrain(*subject);
  check(subject->state(), FirstDraws(seed), v);
}

template <class Make>
void checkRoundingPoints(Make make) {
  const float noTranspose = 0.5f;
  // p = positionJitter * r1 is rounded to single before it scales L / 4.
  auto jitter = [](const FirstDraws& d, float v) {
    return trunc32(22050.0 * single(double(v) * d.r1));
  };
  atFirstGrain(
      make, 5, noTranspose,
      [&](const FirstDraws& d, float v) {
        return jitter(d, v) != trunc32(22050.0 * (double(v) * d.r1));
      },
      [&](const EngineState& s, const FirstDraws& d, float v) {
        EXPECT_EQ(s.grainJitter[0], jitter(d, v));
      });

  // q = lengthJitter * r2 likewise, against L / 16.
  auto spread = [](const FirstDraws& d, float v) {
    return trunc32(5512.0 * single(double(v) * d.r2));
  };
  atFirstGrain(
      make, 7, noTranspose,
      [&](const FirstDraws& d, float v) {
        return spread(d, v) != trunc32(5512.0 * (double(v) * d.r2));
      },
      [&](const EngineState& s, const FirstDraws& d, float v) {
        EXPECT_EQ(s.grainLength[0], spread(d, v) + 4000);
      });

  // The start-counter product startJitter * r * startInterval is not
  // rounded before it is cut to an integer.
  auto counter = [](const FirstDraws& d, float v) {
    return trunc32(double(v) * d.r * 882.0);
  };
  atFirstGrain(
      make, 3, noTranspose,
      [&](const FirstDraws& d, float v) {
        return counter(d, v) !=
               trunc32(double(single(double(v) * d.r)) * 882.0);
      },
      [&](const EngineState& s, const FirstDraws& d, float v) {
        EXPECT_EQ(s.startCounter, counter(d, v) - 441 + 1);
      });

  // The rate is rounded after the transposition and again after the pitch
  // spread: +7 semitones then pitchJitter.
  const float plusSeven = 31.5f / 48.0f;
  const double transposed = 0.25 * std::pow(kReplacingBase, 31.0);
  auto rate = [&](const FirstDraws& d, float v) {
    return single(double(single(transposed)) +
                  (2.0 * d.r3 - 0.5) * (2.0 * double(v)));
  };
  atFirstGrain(
      make, 9, plusSeven,
      [&](const FirstDraws& d, float v) {
        return rate(d, v) !=
               single(transposed + (2.0 * d.r3 - 0.5) * (2.0 * double(v)));
      },
      [&](const EngineState& s, const FirstDraws& d, float v) {
        EXPECT_EQ(s.grainRate[0], std::max(rate(d, v), 0.125f));
      });

  // The level step is rate * (1 / (length / 2)) with a real halving and a
  // single rounding: at +7 semitones and an odd length for which rounding
  // the reciprocal first would give another step.
  int32_t length = 0;
  const float sevenUp = single(transposed);
  for (int32_t n = 43; n < 11067 && length == 0; n += 2) {
    if (single(double(sevenUp) * (1.0 / (n / 2.0))) !=
        single(double(sevenUp) * single(1.0 / (n / 2.0)))) {
      length = n;
    }
  }
  ASSERT_NE(length, 0);
  {
    auto subject = make();
    subject->setParameter(Param::kTranspose, plusSeven);
    // "len" set before the first sample maps v to trunc(22050 * v) + 42
    // against the loop of 88200 that the first tempo query derives.
    float lengthValue = (length - 42 + 0.5f) / 22050.0f;
    subject->setParameter(Param::kLengthBase, lengthValue);
    toFirstGrain(*subject);
    ASSERT_EQ(subject->state().lengthBase, length);
    EXPECT_EQ(subject->state().grainLevelStep[0],
              single(double(sevenUp) * (1.0 / (length / 2.0))));
  }
}

// The change test compares the exact difference with the threshold: from a
// mono value of -2^-30 to 1 the change is 1 + 2^-30, above a threshold of 1,
// though in single precision it would round to 1.
template <class Subject>
void checkExactChangeTest(Subject& subject) {
  subject.setParameter(Param::kRecordThreshold, 1.0f);
  Signal in(2, std::ldexp(-1.0f, -30), std::ldexp(-1.0f, -30));
  in.left[1] = 1.0f;
  in.right[1] = 1.0f;
  runReplacing(subject, in, HostTempo(120.0));
  EXPECT_EQ(subject.state().recordPosition, 1);  // cell 0 now holds 1.0
}

}  // namespace reference
