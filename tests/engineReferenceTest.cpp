// The effect, driven as a host drives it, against the independent reference
// model: the same bits out, the same state, the same parameter answers and
// the same tempo queries, over many settings, tempi, inputs and block sizes.
#include <gtest/gtest.h>

#include <memory>

#include "parameterIndex.h"
#include "reference/RoundingPoints.h"
#include "reference/SideBySide.h"
#include "reference/WorkedExamples.h"

namespace reference {
namespace {

TEST(EngineMatchesModel, WorkedExamplesHoldForTheEffect) {
  checkWorkedExamples<EffectSubject>();
}

TEST(EngineMatchesModel, RoundingPointsHoldForTheEffect) {
  checkRoundingPoints([] { return std::make_unique<EffectSubject>(); });
  EffectSubject effect;
  checkExactChangeTest(effect);
}

// Values for the parameter sweep: every step edge of the quantised mappings
// under the loop L, with the floats on either side, plus a spread of plain
// values and values a host should not send.
std::vector<float> sweepValues(int32_t L) {
  std::vector<float> values = {NAN, INFINITY, -INFINITY, -1.0f, 2.0f, 1e-45f};
  auto edge = [&](double x) {
    const float v = static_cast<float>(x);
    values.push_back(v);
    values.push_back(std::nextafter(v, -1.0f));
    values.push_back(std::nextafter(v, 2.0f));
  };
  for (int32_t k = 0; k <= 63; ++k) edge(k / 63.0);
  for (int32_t k = 0; k <= 48; ++k) edge(k / 48.0);
  for (double divisor : {double(L / 16), double(L), L / 4.0}) {
    if (divisor < 1.0) continue;
    for (int32_t k = 0; k <= 100; ++k)
      edge(std::floor(divisor * k / 100) / divisor);
  }
  ScenarioMaker random(uint32_t(L) + 5);
  for (int32_t k = 0; k < 200; ++k) values.push_back(random.unit());
  return values;
}

// Every mapping at every step edge, under loops of 88200 (the default),
// 352800 (clamped), 10 (shorter than 16) and 0 samples and an odd length.
TEST(EngineMatchesModel, ParameterMappingsAtEveryStep) {
  const std::pair<HostTempo, float> loops[] = {{120.0, 15 / 63.0f},
                                               {60.0, 1.0f},
                                               {1e6, 0.0f},
                                               {1e300, 0.5f},
                                               {97.3, 0.3f}};
  for (const auto& [tempo, bsize] : loops) {
    EffectSubject effect;
    ReferenceEngine model;
    auto both = [&](int32_t index, float v) {
      effect.setParameter(index, v);
      model.setParameter(index, v);
      for (int32_t i = -1; i <= Param::kCount; ++i) {
        if (!sameBits(effect.getParameter(i), model.getParameter(i))) {
          return "getParameter(" + std::to_string(i) + ")";
        }
      }
      return StateDiff::first(model.s, effect.state());
    };
    ASSERT_EQ(both(0, bsize), "");
    float out[2];
    const float silence[1] = {0.0f};
    model.run(false, silence, silence, &out[0], &out[1], 1, tempo);
    effect.replacing(silence, silence, &out[0], &out[1], 1, tempo);
    ASSERT_EQ(StateDiff::first(model.s, effect.state()), "");
    const std::vector<float> values = sweepValues(model.s.loopLength);
    for (int32_t index = 0; index <= 10; ++index) {
      if (index == 0) continue;  // "bsize" last: it would move the loop
      for (float v : values) {
        ASSERT_EQ(both(index, v), "") << "parameter " << index << " = " << v
                                      << ", loop " << model.s.loopLength;
      }
    }
    for (float v : values) ASSERT_EQ(both(0, v), "") << "bsize = " << v;
  }
}

TEST(EngineMatchesModel, FixedSizesOfTheEffectItself) {
  EffectSubject effect;
  EXPECT_EQ(myfxProbe::sampleRateHz(effect.object()), kSampleRate);
  EXPECT_EQ(myfxProbe::bufferCapacity(effect.object()), kCapacity);
  const EngineState fresh;
  EngineState state = effect.state();
  state.recordLength = fresh.recordLength;  // no value before processing
  EXPECT_EQ(StateDiff::first(fresh, state), "");
}

// Construction's settings with a retriggering input, in blocks of 4096, 7,
// 1 and mixed sizes: block boundaries must not matter.
TEST(EngineMatchesModel, SettingsAfterConstructionInAnyBlocks) {
  const std::vector<std::vector<int32_t>> splits = {
      {4096}, {7}, {1}, {1, 7, 4096, 333, 64, 2}};
  for (const std::vector<int32_t>& sizes : splits) {
    const int32_t total = sizes == std::vector<int32_t>{1} ? 12000 : 40000;
    EXPECT_EQ(compareRun(7, retriggerScenario(sizes, total)), "")
        << "first block size " << sizes[0];
  }
}

TEST(EngineMatchesModel, RandomSettingsTempiInputsAndCalls) {
  Coverage total;
  for (uint32_t seed = 1; seed <= 16; ++seed) {
    Coverage c;
    EXPECT_EQ(compareRun(seed * 7919u, randomScenario(seed, 30), &c), "");
    total.samples += c.samples;
    total.noGrain += c.noGrain;
  }
  EXPECT_GT(total.samples, 300000);
  EXPECT_GT(total.noGrain, 0);
}

TEST(EngineMatchesModel, ExtremeSettingsFullSlotsAndReadsPastTheBuffer) {
  Coverage total;
  for (uint32_t seed = 101; seed <= 103; ++seed) {
    Coverage c;
    EXPECT_EQ(compareRun(seed, extremeScenario(seed, 30), &c), "");
    total.allSlotsBusy += c.allSlotsBusy;
    total.beyondBuffer += c.beyondBuffer;
  }
  EXPECT_GT(total.allSlotsBusy, 0);
  EXPECT_GT(total.beyondBuffer, 0);
}

TEST(EngineMatchesModel, GrainStormMeetsEveryRoundingPoint) {
  for (uint32_t seed = 301; seed <= 302; ++seed) {
    EXPECT_EQ(compareRun(seed, grainStormScenario(seed, 16)), "");
  }
}

TEST(EngineMatchesModel, LoopAndTempoChangesWhileRecording) {
  for (uint32_t seed = 201; seed <= 206; ++seed) {
    EXPECT_EQ(compareRun(seed, loopChangeScenario(seed, 120)), "");
  }
}

// The host's rate changed between blocks: adopted rates move the buffers,
// the loop and the loop-relative settings, other rates change nothing.
TEST(EngineMatchesModel, SampleRateChangesBetweenBlocks) {
  for (uint32_t seed = 401; seed <= 406; ++seed) {
    EXPECT_EQ(compareRun(seed, rateChangeScenario(seed, 25)), "");
  }
}

}  // namespace
}  // namespace reference
