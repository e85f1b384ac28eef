// korvane.so and korvane.lv2 under the same host session give the same
// samples, bit for bit: settings before audio and between blocks, tempo
// changes inside blocks, the seed, at two rates and three block sizes, and
// with the LV2 host's own ways (in place, seed as state, a new activation).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "AllocationCounter.h"
#include "Faces.h"
#include "parameterIndex.h"

namespace {
// Ports in units next to the VST 2 values for the same fields: 4
// sixteenths is (4 - 1) / 63, 5 semitones (5 + 24) / 48, env 2.5 (2.5 - 1) / 5.
Session busy(double rate, uint32_t block) {
  using namespace Param;
  return {rate,
          block,
          3 * 16384,
          {setting(0, kBufferSixteenths, 4, 3.0 / 63),
           setting(0, kRecordThreshold, 0.1f, 0.1f),
           setting(0, kStartInterval, 0.3f, 0.3f),
           setting(0, kStartJitter, 0.5f, 0.5f),
           setting(0, kGrainOffset, 0.25f, 0.25f),
           setting(0, kPositionJitter, 0.3f, 0.3f),
           setting(0, kLengthBase, 0.4f, 0.4f),
           setting(0, kLengthJitter, 0.4f, 0.4f),
           setting(0, kTranspose, 5, 29.0 / 48),
           setting(0, kPitchJitter, 0.2f, 0.2f),
           setting(0, kEnvelopeCeiling, 2.5f, 1.5 / 5),
           seed(0, 0x1234567890LL),  // the low 32 bits count
           tempo(0, 100),
           setting(16384, kGrainOffset, 0.6f, 0.6f),
           setting(16384, kTranspose, -3, 21.0 / 48),
           setting(16384, kBufferSixteenths, 6, 5.0 / 63),
           tempo(20001, 140.5),
           seed(24577, 99),
           setting(32768, kStartInterval, 0.1f, 0.1f),
           tempo(40000, 90)}};
}

Session without(Session s, Action::Kind kind) {
  s.actions.erase(
      std::remove_if(s.actions.begin(), s.actions.end(),
                     [&](const Action& a) { return a.kind == kind; }),
      s.actions.end());
  return s;
}

void expectSameBits(const std::vector<float>& lv2,
                    const std::vector<float>& vst) {
  ASSERT_EQ(lv2.size(), vst.size());
  for (std::size_t i = 0; i < lv2.size(); ++i) {
    ASSERT_EQ(std::memcmp(&lv2[i], &vst[i], sizeof(float)), 0)
        << "frame " << i / 2 << ": " << lv2[i] << " against " << vst[i];
  }
  EXPECT_TRUE(std::any_of(vst.begin(), vst.end(), [](float v) { return v; }));
}

class SideBySide
    : public ::testing::TestWithParam<std::tuple<double, uint32_t>> {};

TEST_P(SideBySide, EverySampleEqual) {
  const Session s = busy(std::get<0>(GetParam()), std::get<1>(GetParam()));
  expectSameBits(renderLv2(s), renderVst2(s));
}
INSTANTIATE_TEST_SUITE_P(RatesAndBlocks, SideBySide,
                         ::testing::Combine(::testing::Values(44100.0, 48000.0),
                                            ::testing::Values(1u, 64u, 4096u)));

// A host that processes in place, never sends a tempo (120 bpm) or leaves
// the settings at their defaults.
TEST(SideBySideHosts, InPlaceNoTempoAndDefaults) {
  Lv2Quirks inPlace;
  inPlace.inPlace = true;
  const Session s = busy(48000, 256), untimed = without(s, Action::kTempo);
  expectSameBits(renderLv2(s, inPlace), renderVst2(s));
  expectSameBits(renderLv2(untimed), renderVst2(untimed));
  const Session defaults = {44100, 512, 3 * 16384, {seed(0, 7)}};
  expectSameBits(renderLv2(defaults), renderVst2(defaults));
}

// The seed restored as state acts as the seed call before audio, stays with
// the instance when a new activation forgets the history, and is saved
// (Faces.cpp checks); `run` allocates nothing, in either activation.
TEST(SideBySideHosts, SeedAsStateReactivationNoAllocation) {
  const Session lv2 = without(busy(44100, 512), Action::kSeed);
  Session vst = lv2;
  vst.actions.insert(vst.actions.begin(), seed(0, 0x100001092LL));
  int allocations = 0;
  Lv2Quirks state;
  state.stateSeed = 0x100001092LL;
  state.runAllocations = &allocations;
  expectSameBits(renderLv2(lv2, state), renderVst2(vst));
  state.reactivate = true;
  expectSameBits(renderLv2(lv2, state), renderVst2(vst));
  EXPECT_EQ(allocations, 0);
}
}  // namespace
