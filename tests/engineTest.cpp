// The grain engine through the record: block-size independence, the two
// delivery modes, in-place buffers, hostile input, the tempo query's pace and
// a processing path free of heap allocation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "AllocationCounter.h"
#include "TestHost.h"
#include "engineShared.h"
#include "myfxProbe.h"
#include "opcodes.h"
#include "parameterIndex.h"

namespace {

constexpr uint32_t kSeed = 12345;

// A deterministic stereo signal with sharp attacks, so captures retrigger.
std::vector<float> signal(int32_t frames, int channel) {
  std::vector<float> s(frames);
  uint32_t state = 777u + channel;
  for (int32_t k = 0; k < frames; ++k) {
    state = state * 1664525u + 1013904223u;
    const float noise = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
    const float burst = (k % 5000) < 300 ? 1.0f : 0.05f;
    s[k] = noise * burst;
  }
  return s;
}

AEffect* loadSeeded(TestHost& host) {
  AEffect* e = host.load();
  TestHost::seed(e, kSeed);
  return e;
}

// Some lively settings: threshold low enough to retrigger, full jitter.
void setLively(AEffect* e) {
  const float values[] = {0.1f, 0.3f, 0.05f, 0.8f, 0.2f, 0.7f,
                          0.1f, 0.6f, 0.6f,  0.3f, 0.4f};
  for (int32_t i = 0; i < Param::kCount; ++i) e->setParameter(e, i, values[i]);
}

struct Render {
  std::vector<float> left, right;
};

// Runs `frames` samples of `in` through a fresh effect in blocks of `block`.
Render render(int32_t frames, int32_t block, bool accumulate,
              float preset = 0.0f) {
  TestHost host;
  EffectHandle e(loadSeeded(host));
  setLively(e.effect);
  std::vector<float> inL = signal(frames, 0), inR = signal(frames, 1);
  Render out{std::vector<float>(frames, preset),
             std::vector<float>(frames, preset)};
  for (int32_t k = 0; k < frames; k += block) {
    const int32_t n = std::min(block, frames - k);
    float* inputs[] = {inL.data() + k, inR.data() + k};
    float* outputs[] = {out.left.data() + k, out.right.data() + k};
    if (accumulate) {
      e->process(e.effect, inputs, outputs, n);
    } else {
      e->processReplacing(e.effect, inputs, outputs, n);
    }
  }
  return out;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(Engine, BlockBoundariesDoNotMatter) {
  const int32_t frames = 20000;
  const Render whole = render(frames, frames, false);
  for (int32_t block : {1, 7, 4096}) {
    const Render split = render(frames, block, false);
    EXPECT_TRUE(sameBits(whole.left, split.left)) << block;
    EXPECT_TRUE(sameBits(whole.right, split.right)) << block;
  }
  double energy = 0;
  for (float s : whole.left) energy += s * s;
  EXPECT_GT(energy, 0.0);
}

TEST(Engine, ProcessAddsWhatProcessReplacingWrites) {
  // "tp" 0.6 is +4 semitones, where both transposition bases agree.
  const int32_t frames = 12000;
  const float x = 0.25f;
  const Render replaced = render(frames, 512, false);
  const Render added = render(frames, 512, true, x);
  for (int32_t k = 0; k < frames; ++k) {
    ASSERT_EQ(added.left[k], x + replaced.left[k]) << k;
    ASSERT_EQ(added.right[k], x + replaced.right[k]) << k;
  }
}

TEST(Engine, InputsAndOutputsMayBeTheSameArrays) {
  const int32_t frames = 9000;
  const Render separate = render(frames, 256, false);
  TestHost host;
  EffectHandle e(loadSeeded(host));
  setLively(e.effect);
  std::vector<float> left = signal(frames, 0), right = signal(frames, 1);
  for (int32_t k = 0; k < frames; k += 256) {
    float* io[] = {left.data() + k, right.data() + k};
    e->processReplacing(e.effect, io, io, std::min(256, frames - k));
  }
  EXPECT_TRUE(sameBits(separate.left, left));
  EXPECT_TRUE(sameBits(separate.right, right));
}

TEST(Engine, NoFramesTouchNothing) {
  TestHost host;
  EffectHandle e(host.load());
  float in[2][4] = {{1, 1, 1, 1}, {1, 1, 1, 1}};
  float out[2][4] = {{9, 9, 9, 9}, {9, 9, 9, 9}};
  float* inputs[] = {in[0], in[1]};
  float* outputs[] = {out[0], out[1]};
  const std::size_t callsBefore = host.calls.size();
  e->processReplacing(e.effect, inputs, outputs, 0);
  e->process(e.effect, inputs, outputs, -5);
  e->processReplacing(e.effect, inputs, outputs,
                      std::numeric_limits<int32_t>::min());
  EXPECT_EQ(host.calls.size(), callsBefore);
  for (auto& channel : out)
    for (float s : channel) EXPECT_EQ(s, 9.0f);
}

TEST(Engine, TempoIsAskedOnIdleAndTriggeringSamplesOnly) {
  TestHost host;
  EffectHandle e(host.load());
  const int32_t frames = 1000;
  std::vector<float> silence(frames, 0.0f), out(frames);
  float* inputs[] = {silence.data(), silence.data()};
  float* outputs[] = {out.data(), out.data()};
  e->processReplacing(e.effect, inputs, outputs, frames);
  EXPECT_EQ(host.count(HostOpcode::kGetTime), frames);
  for (const HostCall& call : host.calls) {
    if (call.opcode != HostOpcode::kGetTime) continue;
    EXPECT_EQ(call.value, TimeFlag::kTempoValid);
    EXPECT_EQ(call.effect, e.effect);
  }

  // One step up starts a recording of two loops: the triggering sample asks,
  // the rest of the recording does not.
  host.calls.clear();
  std::vector<float> step(frames, 0.5f);
  inputs[0] = inputs[1] = step.data();
  e->processReplacing(e.effect, inputs, outputs, frames);
  EXPECT_EQ(host.count(HostOpcode::kGetTime), 1);
}

TEST(Engine, HostileInputStaysFiniteAndInRange) {
  TestHost host;
  EffectHandle e(loadSeeded(host));
  setLively(e.effect);
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::max(),
                            -std::numeric_limits<float>::max(),
                            std::numeric_limits<float>::denorm_min(),
                            1e20f};
  const int32_t frames = 30000;
  std::vector<float> left(frames), right(frames), outL(frames), outR(frames);
  for (int32_t k = 0; k < frames; ++k) {
    left[k] = specials[k % 7];
    right[k] = specials[(k * 3 + 1) % 7];
  }
  float* inputs[] = {left.data(), right.data()};
  float* outputs[] = {outL.data(), outR.data()};
  e->processReplacing(e.effect, inputs, outputs, frames);
  for (int32_t k = 0; k < frames; ++k) {
    ASSERT_TRUE(std::isfinite(outL[k]) && std::isfinite(outR[k])) << k;
    ASSERT_LE(std::fabs(outL[k]), 1.0f);
    ASSERT_LE(std::fabs(outR[k]), 1.0f);
  }
}

TEST(Engine, HostileTempiKeepTheEngineSafe) {
  for (double tempo : {std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), 0.0, -120.0,
                       1e-300, 1e300, 0.5, 999.0}) {
    TestHost host;
    host.tempo = tempo;
    EffectHandle e(loadSeeded(host));
    setLively(e.effect);
    e->setParameter(e.effect, Param::kBufferSixteenths, 1.0f);  // 64 sixteenths
    e->setParameter(e.effect, Param::kGrainOffset,
                    1.0f);  // grains at the end of the loop
    e->setParameter(e.effect, Param::kLengthBase, 1.0f);
    const int32_t frames = 20000;
    std::vector<float> inL = signal(frames, 0), inR = signal(frames, 1);
    std::vector<float> outL(frames), outR(frames);
    float* inputs[] = {inL.data(), inR.data()};
    float* outputs[] = {outL.data(), outR.data()};
    e->processReplacing(e.effect, inputs, outputs, frames);
    for (int32_t k = 0; k < frames; ++k) {
      ASSERT_TRUE(std::isfinite(outL[k])) << tempo;
      ASSERT_LE(std::fabs(outL[k]), 1.0f) << tempo;
    }
  }
}

TEST(Engine, ProcessingAllocatesNothing) {
  TestHost host;
  host.calls.reserve(1 << 16);
  EffectHandle e(loadSeeded(host));
  setLively(e.effect);
  const int32_t frames = 8192;
  std::vector<float> inL = signal(frames, 0), inR = signal(frames, 1);
  std::vector<float> outL(frames), outR(frames);
  float* inputs[] = {inL.data(), inR.data()};
  float* outputs[] = {outL.data(), outR.data()};
  host.calls.clear();
  startCountingAllocations();
  for (int32_t k = 0; k < 4; ++k) {
    e->processReplacing(e.effect, inputs, outputs, frames / 4);
    e->process(e.effect, inputs, outputs, frames / 4);
  }
  EXPECT_EQ(stopCountingAllocations(), 0);
}

// Runs `frames` samples of a constant input through the effect.
void runConstant(AEffect* e, int32_t frames, float value = 0.5f) {
  std::vector<float> in(frames, value), out(frames);
  float* inputs[] = {in.data(), in.data()};
  float* outputs[] = {out.data(), out.data()};
  e->processReplacing(e, inputs, outputs, frames);
}

// Parameters changed between blocks take effect where the engine reads them:
// grain settings only for grains started afterwards, the envelope ceiling
// for every sounding grain at once.
TEST(Engine, ParameterChangesReachTheEngineWhereItReadsThem) {
  TestHost host;
  EffectHandle e(loadSeeded(host));
  const myfx& effect = e.object();
  runConstant(e.effect, 883);  // the first grain starts on sample 883
  ASSERT_NE(myfxProbe::state(effect).grainPosition[0], engine::kFreeSlot);
  EXPECT_EQ(myfxProbe::state(effect).grainRate[0], 1.0f);

  e->setParameter(e.effect, Param::kTranspose, 1.0f);   // "tp" +24: rate 4
  e->setParameter(e.effect, Param::kLengthBase, 0.0f);  // "len" 42
  runConstant(e.effect, 1);
  EXPECT_EQ(myfxProbe::state(effect).grainRate[0], 1.0f);
  EXPECT_EQ(myfxProbe::state(effect).grainLength[0], myfx::kDefaultGrainLength);

  const float levelBefore = myfxProbe::state(effect).grainLevel[0];
  e->setParameter(e.effect, Param::kEnvelopeCeiling,
                  1.0f);  // "env" 6: the level climbs 6x faster
  runConstant(e.effect, 1);
  EXPECT_FLOAT_EQ(myfxProbe::state(effect).grainLevel[0] - levelBefore,
                  6 * 0.0005f);

  runConstant(e.effect, 1322);  // the next decision: a grain in slot 1
  ASSERT_NE(myfxProbe::state(effect).grainPosition[1], engine::kFreeSlot);
  EXPECT_EQ(myfxProbe::state(effect).grainRate[1], 4.0f);
  EXPECT_EQ(myfxProbe::state(effect).grainLength[1], 42);
  EXPECT_EQ(myfxProbe::state(effect).grainRate[0], 1.0f);
}

}  // namespace
