// Hand-worked engine examples, written once and run against both the model
// and the effect. A subject offers:
//   replacing(inL, inR, outL, outR, frames, hostTempo), accumulating(...)
//   setParameter(index, v), getParameter(index), state() -> EngineState.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <type_traits>
#include <vector>

#include "ReferenceEngine.h"
#include "parameterIndex.h"

namespace reference {

// Stereo blocks for feeding a subject.
struct Signal {
  std::vector<float> left, right;
  Signal(int32_t frames, float l, float r)
      : left(frames, l), right(frames, r) {}
  int32_t frames() const { return static_cast<int32_t>(left.size()); }
};

template <class Subject>
Signal runReplacing(Subject& subject, const Signal& in, HostTempo tempo) {
  Signal out(in.frames(), 0.0f, 0.0f);
  subject.replacing(in.left.data(), in.right.data(), out.left.data(),
                    out.right.data(), in.frames(), tempo);
  return out;
}

// Settings after construction and an input that triggers a recording: the
// first grain starts on sample 883 (index 882) at cell 0 with rate 1, its
// gain is 0.0005 on its first sample, it peaks at 1 in its middle, it sounds
// exactly 4000 samples, and the next decision comes 1323 samples later.
template <class Subject>
void checkFirstGrain(Subject& subject) {
  const HostTempo tempo = 120.0;
  Signal lead = runReplacing(subject, Signal(882, 0.75f, -0.5f), tempo);
  for (int32_t k = 0; k < lead.frames(); ++k) {
    ASSERT_EQ(lead.left[k], 0.0f) << k;
    ASSERT_EQ(lead.right[k], 0.0f) << k;
  }
  EngineState s = subject.state();
  EXPECT_EQ(s.loopLength, 88200);
  EXPECT_EQ(s.recordLength, 176400);
  EXPECT_EQ(s.recordPosition, 882);
  EXPECT_EQ(s.startCounter, 882);
  for (float position : s.grainPosition) EXPECT_EQ(position, kFree);

  Signal first = runReplacing(subject, Signal(1, 0.75f, -0.5f), tempo);
  s = subject.state();
  EXPECT_EQ(s.grainStart[0], 0.0f);
  EXPECT_EQ(s.grainPosition[0], 1.0f);  // read cell 0, then moved on by 1
  EXPECT_EQ(s.grainRate[0], 1.0f);
  EXPECT_EQ(s.grainLength[0], 4000);
  EXPECT_EQ(s.grainLevel[0], 0.0005f);
  EXPECT_EQ(s.grainLevelStep[0], 0.0005f);
  EXPECT_EQ(s.grainPosition[1], kFree);
  EXPECT_EQ(s.startCounter, -440);  // re-armed at -441, then counted
  EXPECT_FLOAT_EQ(first.left[0], 0.75f * 0.0005f / 3.0f);
  EXPECT_FLOAT_EQ(first.right[0], -0.5f * 0.0005f / 3.0f);

  // One sample at a time from index 883 on: slot 0's level touches 1 once,
  // in its middle, and turns; slot 1 starts on index 2205; slot 0 sounds
  // through index 4881, its 4000th sample, and is then free.
  float peak = 0.0f;
  int32_t peakAt = 0;
  for (int32_t k = 883; k <= 4881; ++k) {
    runReplacing(subject, Signal(1, 0.75f, -0.5f), tempo);
    s = subject.state();
    if (s.grainLevel[0] > peak) peak = s.grainLevel[0], peakAt = k;
    if (k == 2204) {
      EXPECT_EQ(s.grainPosition[1], kFree);
    }
    if (k == 2205) {
      EXPECT_EQ(s.grainStart[1], 0.0f);
      EXPECT_EQ(s.grainPosition[1], 1.0f);
    }
    if (k == 4880) {
      EXPECT_EQ(s.grainPosition[0], 3999.0f);
    }
  }
  EXPECT_EQ(peak, 1.0f);
  EXPECT_GE(peakAt, 882 + 1999);  // the grain's 2000th or 2001st sample
  EXPECT_LE(peakAt, 882 + 2000);
  EXPECT_EQ(s.grainPosition[0], kFree);
}

// Tempo 60 with 64 sixteenths asks for 705600 samples of loop; both lengths
// stop at the buffer's 352800 cells.
template <class Subject>
void checkLoopClamp(Subject& subject) {
  subject.setParameter(Param::kBufferSixteenths, 1.0f);
  runReplacing(subject, Signal(1, 0.0f, 0.0f), HostTempo(60.0));
  EXPECT_EQ(subject.state().bufferSixteenths, 64);
  EXPECT_EQ(subject.state().loopLength, 352800);
  EXPECT_EQ(subject.state().recordLength, 352800);
  // A slower tempo than 32 bits of samples can count still stops there.
  runReplacing(subject, Signal(1, 0.0f, 0.0f), HostTempo(1e-6));
  EXPECT_EQ(subject.state().loopLength, 352800);
}

// A sum beyond three times full scale delivers exactly full scale; the
// accumulating call adds the clipped result to what the output held.
template <class Subject>
void checkClipAndAccumulate(Subject& subject) {
  const HostTempo tempo = 120.0;
  runReplacing(subject, Signal(882 + 1999, 10.0f, -8.0f), tempo);
  Signal peak = runReplacing(subject, Signal(1, 10.0f, -8.0f), tempo);
  EXPECT_EQ(peak.left[0], 1.0f);
  EXPECT_EQ(peak.right[0], -1.0f);
  const Signal in(1, 10.0f, -8.0f);
  Signal out(1, 0.5f, 0.5f);
  subject.accumulating(in.left.data(), in.right.data(), out.left.data(),
                       out.right.data(), 1, tempo);
  EXPECT_EQ(out.left[0], 1.5f);
  EXPECT_EQ(out.right[0], -0.5f);
}

// The two bases of the transposition give the same single-precision rate at
// every transposition except +13 semitones, where they differ in the last
// bit. `make` builds a fresh subject.
template <class Make>
void checkTransposeBases(Make make) {
  float replacing[49];
  float accumulating[49];
  for (int32_t semitones = -24; semitones <= 24; ++semitones) {
    for (int accumulate = 0; accumulate < 2; ++accumulate) {
      auto subject = make();
      subject->setParameter(Param::kTranspose,
                            (semitones + 24.5f) / 48.0f);  // 1 at +24
      ASSERT_EQ(subject->state().transpose, semitones);
      Signal in(883, 0.0f, 0.0f);
      Signal out(883, 0.0f, 0.0f);
      auto call =
          accumulate
              ? &std::remove_reference_t<decltype(*subject)>::accumulating
              : &std::remove_reference_t<decltype(*subject)>::replacing;
      ((*subject).*call)(in.left.data(), in.right.data(), out.left.data(),
                         out.right.data(), 883, 120.0);
      (accumulate ? accumulating : replacing)[semitones + 24] =
          subject->state().grainRate[0];
    }
  }
  for (int32_t i = 0; i <= 48; ++i) {
    if (i == 24 + 13) {
      EXPECT_EQ(std::nextafter(replacing[i], 10.0f), accumulating[i]);
    } else {
      EXPECT_EQ(replacing[i], accumulating[i]) << i - 24 << " semitones";
    }
  }
  EXPECT_EQ(replacing[0], 0.25f);
  EXPECT_EQ(replacing[24], 1.0f);
  EXPECT_EQ(replacing[48], 4.0f);
}

// Every example above, each on a fresh subject.
template <class Subject>
void checkWorkedExamples() {
  {
    Subject subject;
    checkFirstGrain(subject);
  }
  {
    Subject subject;
    checkLoopClamp(subject);
  }
  {
    Subject subject;
    checkClipAndAccumulate(subject);
  }
  checkTransposeBases([] { return std::make_unique<Subject>(); });
}

}  // namespace reference
