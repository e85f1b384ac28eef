// korvane.so and korvane.lv2 under the same host session give the same
// samples, bit for bit: settings before audio and between blocks, tempo
// changes inside blocks, the seed, at two rates and three block sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "Faces.h"
#include "parameterIndex.h"

namespace {
Action setting(int64_t frame, int32_t index, float port, double normalised) {
  return {Action::kSetting, frame, index, port, static_cast<float>(normalised)};
}
Action tempo(int64_t frame, double bpm) {
  return {Action::kTempo, frame, 0, 0, 0, bpm};
}
Action seed(int64_t frame, int64_t value) {
  return {Action::kSeed, frame, 0, 0, 0, 0, value};
}

// The port values in units and the VST 2 values that give the same fields:
// 4 sixteenths is (4 - 1) / 63, 5 semitones (5 + 24) / 48, env 2.5 is
// (2.5 - 1) / 5.
Session busySession(double rate, uint32_t block) {
  using namespace Param;
  Session s{rate, block, 3 * 16384, {}};
  s.actions = {
      setting(0, kBufferSixteenths, 4, 3.0 / 63),
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
      tempo(40000, 90),
  };
  return s;
}

void expectSameBits(const std::vector<float>& lv2,
                    const std::vector<float>& vst) {
  ASSERT_EQ(lv2.size(), vst.size());
  bool sounding = false;
  for (std::size_t i = 0; i < lv2.size(); ++i) {
    sounding = sounding || vst[i] != 0.0f;
    if (std::memcmp(&lv2[i], &vst[i], sizeof(float)) != 0) {
      FAIL() << "frame " << i / 2 << " channel " << i % 2 << ": " << lv2[i]
             << " against " << vst[i];
    }
  }
  EXPECT_TRUE(sounding) << "the session plays no grain";
}

class SideBySide
    : public ::testing::TestWithParam<std::tuple<double, uint32_t>> {};

TEST_P(SideBySide, EverySampleEqual) {
  const auto [rate, block] = GetParam();
  const Session session = busySession(rate, block);
  expectSameBits(renderLv2(session), renderVst2(session));
}

// A host that processes in place, or never sends a tempo (120 bpm), or
// leaves the settings at their defaults.
TEST(SideBySideHosts, InPlaceNoTempoAndDefaults) {
  Session s = busySession(48000, 256);
  Lv2Quirks inPlace;
  inPlace.inPlace = true;
  expectSameBits(renderLv2(s, inPlace), renderVst2(s));
  s.actions.erase(
      std::remove_if(s.actions.begin(), s.actions.end(),
                     [](const Action& a) { return a.kind == Action::kTempo; }),
      s.actions.end());
  expectSameBits(renderLv2(s), renderVst2(s));
  s.actions = {seed(0, 7)};
  expectSameBits(renderLv2(s), renderVst2(s));
}

// The seed restored as state acts as the seed call before audio, and stays
// with the instance when an activation starts it afresh; the state saves
// the seed in force.
TEST(SideBySideHosts, SeedAsStateAndReactivation) {
  Session vst = busySession(44100, 512), lv2 = vst;
  lv2.actions.erase(
      std::remove_if(lv2.actions.begin(), lv2.actions.end(),
                     [](const Action& a) { return a.kind == Action::kSeed; }),
      lv2.actions.end());
  vst.actions = lv2.actions;
  vst.actions.insert(vst.actions.begin(), seed(0, 4242));
  Lv2Quirks state;
  state.stateSeed = 4242;
  expectSameBits(renderLv2(lv2, state), renderVst2(vst));
  state.reactivate = true;
  expectSameBits(renderLv2(lv2, state), renderVst2(vst));
  EXPECT_EQ(lv2SeedSavedAfter(0x100000007LL), 7);
}

INSTANTIATE_TEST_SUITE_P(RatesAndBlocks, SideBySide,
                         ::testing::Combine(::testing::Values(44100.0, 48000.0),
                                            ::testing::Values(1u, 64u, 4096u)));
}  // namespace
