// A capture's whole life as a host sees it: a step in the input records
// exactly two loops, the effect then listens again (it asks for the tempo on
// every sample), and the next step records anew from the first cell.
#include <gtest/gtest.h>

#include <vector>

#include "TestHost.h"
#include "opcodes.h"
#include "parameterIndex.h"

namespace {

// Feeds one constant stereo sample per processing call and tells whether the
// effect asked the host for the time during it.

class OneSampleHost {
 public:
  OneSampleHost() : effect(host.load()) {}

  bool step(float input, float* output = nullptr) {
    const int before = host.count(HostOpcode::kGetTime);
    float inL = input, inR = input, outL = 0.0f, outR = 0.0f;
    float* in[] = {&inL, &inR};
    float* out[] = {&outL, &outR};
    effect->processReplacing(effect.effect, in, out, 1);
    if (output != nullptr) *output = outL;
    return host.count(HostOpcode::kGetTime) == before + 1;
  }

  TestHost host;
  EffectHandle effect;
};

// Counts the samples without a tempo query that follow a step from the
// current input to `level`; the step itself must query.
int32_t samplesRecordedAfterStep(OneSampleHost& h, float level) {
  EXPECT_TRUE(h.step(level)) << "the step starts a capture and asks the tempo";
  int32_t quiet = 1;  // the step's own sample was recorded
  while (!h.step(level)) {
    ++quiet;
    if (quiet > 400000) break;  // longer than any capture
  }
  return quiet;
}

}  // namespace

TEST(CaptureStory, EachStepRecordsTwoLoopsThenTheNextStartsAtCellZero) {
  OneSampleHost h;
  h.host.tempo = 120.0;
  AEffect* e = h.effect.effect;
  e->setParameter(e, Param::kRecordThreshold, 0.5f);
  e->setParameter(e, Param::kBufferSixteenths, 0.0f);  // one sixteenth

  for (int k = 0; k < 100; ++k)
    ASSERT_TRUE(h.step(0.0f)) << "idle sample " << k;

  // One sixteenth at 120 bpm is 5512 samples; the capture is two of them.
  EXPECT_EQ(samplesRecordedAfterStep(h, 0.8f), 2 * 5512);
  for (int k = 0; k < 50; ++k) ASSERT_TRUE(h.step(0.8f)) << "listening " << k;

  // The tempo halves: the next capture's loop is 11025 samples.
  h.host.tempo = 60.0;
  EXPECT_EQ(samplesRecordedAfterStep(h, -0.8f), 2 * 11025);

  // Every grain started after the second step reads the new capture from its
  // first cell on (the write is always ahead of the read at rate 1), and the
  // grains started before it (4000 samples long) have ended by now: a grain
  // that read a cell left from the first capture would add a positive sample.
  float out = 0.0f;
  int32_t negative = 0;
  for (int k = 0; k < 8000; ++k) {
    h.step(-0.8f, &out);
    ASSERT_LE(out, 0.0f) << "sample " << k << " after the second capture";
    negative += out < 0.0f;
  }
  EXPECT_GT(negative, 4000);
}
