// What an LV2 host may get wrong is handled as the VST 2 face handles the
// like: settings out of range, NaN or infinite are clamped by the effect; a
// tempo that is no positive number falls back to 120 bpm; atoms whose sizes
// or types do not add up are ignored, and so is the control port without a
// URID map. Under the sanitizers a read outside the atoms fails.
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>

#include "AllocationCounter.h"
#include "Faces.h"
#include "parameterIndex.h"

namespace {
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr uint32_t kBlock = 500;

struct Case {
  const char* name;
  std::vector<Action> lv2;  // the LV2 host's actions
  Lv2Quirks quirks;
  std::vector<Action> vst;  // the VST 2 host's like
};

Lv2Quirks atoms(std::vector<uint32_t> events, const char* type = nullptr,
                uint32_t unit = 0, int64_t size = -1) {
  Lv2Quirks q;
  q.firstRun = sequence(events, type, unit, size);
  return q;
}
Lv2Quirks lacking(bool Lv2Quirks::*what) {
  Lv2Quirks q;
  q.*what = false;
  return q;
}
std::vector<uint32_t> floatTempo(int64_t frame, float bpm) {
  uint32_t bits;
  std::memcpy(&bits, &bpm, sizeof bits);
  return position(frame, 4, LV2_ATOM__Float, bits);
}
std::vector<uint32_t> join(std::vector<uint32_t> a,
                           const std::vector<uint32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Settings the effect clamps: each row's port value for the LV2 host and
// VST 2 value for the other, all before audio but the last, set later.
Case clamped(const char* name,
             std::vector<std::tuple<int32_t, float, float>> rows) {
  Case c{name, {}, {}, {}};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto [index, port, normalised] = rows[i];
    const int64_t at = i + 1 < rows.size() ? 0 : 5000;
    c.lv2.push_back(setting(at, index, port, 0));
    c.vst.push_back(setting(at, index, 0, normalised));
  }
  return c;
}

std::vector<Case> cases() {
  using namespace Param;
  const std::vector<uint32_t> other = {0, 0, 4, lv2Urid(LV2_ATOM__Int), 7, 0};
  return {
      // (index, port value, VST 2 value), the last one between blocks
      clamped("OutOfRange", {{kBufferSixteenths, 100, 1},
                             {kTranspose, 30, 1},
                             {kEnvelopeCeiling, 7, 1},
                             {kRecordThreshold, -1, 0},
                             {kStartInterval, 5, 1},
                             {kBufferSixteenths, -5, 0}}),
      clamped("NotFinite", {{kBufferSixteenths, kNaN, kNaN},
                            {kTranspose, -kInf, -kInf},
                            {kEnvelopeCeiling, kInf, kInf},
                            {kLengthBase, kNaN, kNaN},
                            {kGrainOffset, kInf, kInf},
                            {kTranspose, kNaN, kNaN}}),
      {"TempoZero", {tempo(0, 0)}, {}, {tempo(0, 0)}},
      {"TempoNegative", {tempo(0, -90)}, {}, {}},
      {"TempoNotFinite", {tempo(0, std::nan("")), tempo(3000, kInf)}, {}, {}},
      {"NoControlPort",
       {tempo(0, 90)},
       lacking(&Lv2Quirks::connectControl),
       {}},
      {"NoUridMap", {tempo(0, 90)}, lacking(&Lv2Quirks::mapFeature), {}},
      {"SequenceHeadCut", {}, atoms({}, nullptr, 0, 4), {}},
      {"EventLongerThanSequence", {}, atoms({0, 0, 1000, 0, 0, 0}), {}},
      {"EventHeadCut", {}, atoms({0, 0, 24}, nullptr, 0, 20), {}},
      {"ObjectBodyCut",
       {},
       atoms({0, 0, 4, lv2Urid(LV2_ATOM__Object), 0, 0}),
       {}},
      {"TempoValueCut", {}, atoms(position(0, 2, LV2_ATOM__Float, 0)), {}},
      {"TempoAString", {}, atoms(position(0, 4, LV2_ATOM__String, 140)), {}},
      {"NotASequence", {}, atoms(floatTempo(0, 140), LV2_ATOM__Chunk), {}},
      {"OtherEventsSkipped",
       {},
       atoms(join(other, floatTempo(0, 140))),
       {tempo(0, 140)}},
      {"IntegerTempo",
       {},
       atoms(position(0, 4, LV2_ATOM__Int, 140)),
       {tempo(0, 140)}},
      {"FramesOutsideTheBlock",
       {},
       atoms(join(floatTempo(-1, 140), floatTempo(9999, 90))),
       {tempo(0, 140), tempo(kBlock, 90)}},
      {"BeatStamps",
       {},
       atoms(floatTempo(77, 140), nullptr, lv2Urid(LV2_ATOM__beatTime)),
       {tempo(0, 140)}},
  };
}

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class BadInput : public ::testing::TestWithParam<Case> {};

// On a short loop that the grains' position and spacing follow, so that the
// tempo shows in the output.
TEST_P(BadInput, HandledAsTheVst2FaceHandlesTheLike) {
  const Case& c = GetParam();
  Session lv2{44100,
              kBlock,
              30000,
              {setting(0, Param::kBufferSixteenths, 2, 1.0 / 63),
               setting(0, Param::kGrainOffset, 0.5f, 0.5f),
               setting(0, Param::kStartInterval, 0.5f, 0.5f)}};
  Session vst = lv2;
  lv2.actions.insert(lv2.actions.end(), c.lv2.begin(), c.lv2.end());
  vst.actions.insert(vst.actions.end(), c.vst.begin(), c.vst.end());
  const std::vector<float> a = renderLv2(lv2, c.quirks), b = renderVst2(vst);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
}
INSTANTIATE_TEST_SUITE_P(Lv2, BadInput, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

// A rate outside 8000 to 384000 Hz fails instantiation, and so does memory
// short for the instance or the effect, without a crash or a leak. (Short
// for the buffers of the host's rate, the effect keeps those of 44.1 kHz, as
// the VST 2 face does.)
TEST(Lv2Instantiation, RatesAndMemory) {
  for (const double rate :
       {7999.5, 384000.5, 0.0, -48000.0, double(kNaN), double(kInf)}) {
    EXPECT_FALSE(lv2Instantiates(rate)) << rate;
  }
  startCountingAllocations();
  EXPECT_TRUE(lv2Instantiates(8000) && lv2Instantiates(384000));
  const int allocations = stopCountingAllocations();
  ASSERT_GT(allocations, 6) << "the binary's allocations are not counted";
  for (int n = 1; n <= allocations / 2; ++n) {
    startCountingAllocations();
    failAllocationsFrom(n);
    const bool instantiated = lv2Instantiates(96000);
    stopCountingAllocations();
    EXPECT_TRUE(n > 3 || !instantiated) << "allocation " << n << " failed";
  }
}
}  // namespace
