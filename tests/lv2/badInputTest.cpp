// What an LV2 host may get wrong is handled as the VST 2 face handles the
// like: settings out of range, NaN or infinite are clamped by the effect; a
// tempo that is no positive number falls back to 120 bpm; atoms whose sizes
// or types do not add up are ignored; no control port or no URID map means
// no tempo. Run under the sanitizers, a read outside the atoms fails.
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/time/time.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "Faces.h"
#include "parameterIndex.h"

namespace {
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr uint32_t kBlock = 500;

uint32_t id(const char* uri) { return lv2Urid(uri); }
uint32_t bits(float v) {
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// A control port's bytes: the sequence head (its size from the words unless
// given), then the words.
std::vector<uint8_t> sequence(std::vector<uint32_t> words,
                              const char* type = LV2_ATOM__Sequence,
                              uint32_t unit = 0, int64_t size = -1) {
  words.insert(words.begin(),
               {static_cast<uint32_t>(size < 0 ? 8 + 4 * words.size() : size),
                id(type), unit, 0});
  std::vector<uint8_t> raw(4 * words.size());
  std::memcpy(raw.data(), words.data(), raw.size());
  return raw;
}
// One event at `frame` holding a time position with the tempo as `value`
// (its atom's size and type given).
std::vector<uint32_t> position(int64_t frame, uint32_t size, const char* type,
                               uint32_t value) {
  const uint32_t object = id(LV2_ATOM__Object),
                 bpm = id(LV2_TIME__beatsPerMinute);
  // event: frames, size, type; object: id, type; property: key, context,
  // value's size and type, value padded to 8 bytes
  return {static_cast<uint32_t>(frame),
          static_cast<uint32_t>(frame >> 32),
          24 + size,
          object,
          0,
          id(LV2_TIME__Position),
          bpm,
          0,
          size,
          id(type),
          value,
          0};
}

struct Case {
  std::string name;
  std::vector<Action> lv2;  // the LV2 host's session
  Lv2Quirks quirks;
  std::vector<Action> vst;  // the VST 2 host's like
};

Action setting(int32_t index, float port, float normalised, int64_t at = 0) {
  return {Action::kSetting, at, index, port, normalised};
}
Action tempo(double bpm, int64_t at = 0) {
  return {Action::kTempo, at, 0, 0, 0, bpm};
}

// A host that lacks what `flag` says.
Lv2Quirks quirk(bool Lv2Quirks::*flag) {
  Lv2Quirks q;
  q.*flag = false;
  return q;
}

std::vector<Case> cases() {
  using namespace Param;
  const uint32_t f140 = bits(140.0f);
  auto raw = [](std::vector<uint8_t> bytes) {
    Lv2Quirks q;
    q.firstRun = std::move(bytes);
    return q;
  };
  auto concat = [](std::vector<uint32_t> a, const std::vector<uint32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  return {
      {"SettingsOutOfRange",
       {setting(kBufferSixteenths, 100, 0), setting(kTranspose, 30, 0),
        setting(kEnvelopeCeiling, 7, 0), setting(kRecordThreshold, -1, 0),
        setting(kStartInterval, 5, 0), setting(kGrainOffset, -0.5f, 0),
        setting(kBufferSixteenths, -5, 0, 5000)},
       {},
       {setting(kBufferSixteenths, 0, 1), setting(kTranspose, 0, 1),
        setting(kEnvelopeCeiling, 0, 1), setting(kRecordThreshold, 0, 0),
        setting(kStartInterval, 0, 1), setting(kGrainOffset, 0, 0),
        setting(kBufferSixteenths, 0, 0, 5000)}},
      {"SettingsNotFinite",
       {setting(kBufferSixteenths, kNaN, 0), setting(kTranspose, -kInf, 0),
        setting(kEnvelopeCeiling, kInf, 0), setting(kLengthBase, kNaN, 0),
        setting(kGrainOffset, kInf, 0), setting(kTranspose, kNaN, 0, 5000)},
       {},
       {setting(kBufferSixteenths, 0, kNaN), setting(kTranspose, 0, -kInf),
        setting(kEnvelopeCeiling, 0, kInf), setting(kLengthBase, 0, kNaN),
        setting(kGrainOffset, 0, kInf), setting(kTranspose, 0, kNaN, 5000)}},
      {"TempoZero", {tempo(0)}, {}, {tempo(0)}},
      {"TempoNegative", {tempo(-90)}, {}, {}},
      {"TempoNaN", {tempo(std::nan(""))}, {}, {}},
      {"TempoInfinite", {tempo(kInf), tempo(-kInf, 3000)}, {}, {}},
      {"NoControlPort", {tempo(90)}, quirk(&Lv2Quirks::connectControl), {}},
      {"NoUridMap", {tempo(90)}, quirk(&Lv2Quirks::mapFeature), {}},
      {"SequenceShorterThanItsHead",
       {},
       raw(sequence({}, LV2_ATOM__Sequence, 0, 4)),
       {}},
      {"EventLongerThanTheSequence",
       {},
       raw(sequence({0, 0, 1000, id(LV2_ATOM__Object), 0, 0})),
       {}},
      {"EventHeadCut",
       {},
       raw(sequence({0, 0, 24}, LV2_ATOM__Sequence, 0, 20)),
       {}},
      {"ObjectBodyCut",
       {},
       raw(sequence({0, 0, 4, id(LV2_ATOM__Object), 0, 0})),
       {}},
      {"TempoValueTooShort",
       {},
       raw(sequence(position(0, 2, LV2_ATOM__Float, f140))),
       {}},
      {"TempoOfAnotherType",
       {},
       raw(sequence(position(0, 4, LV2_ATOM__String, f140))),
       {}},
      {"NotASequence",
       {},
       raw(sequence(position(0, 4, LV2_ATOM__Float, f140), LV2_ATOM__Chunk)),
       {}},
      {"OtherEventsSkipped",
       {},
       raw(sequence(concat({0, 0, 4, id(LV2_ATOM__Int), 7, 0},
                           position(0, 4, LV2_ATOM__Float, f140)))),
       {tempo(140)}},
      {"IntegerTempo",
       {},
       raw(sequence(position(0, 4, LV2_ATOM__Int, 140))),
       {tempo(140)}},
      {"FramesOutsideTheBlock",
       {},
       raw(sequence(concat(position(-1, 4, LV2_ATOM__Float, f140),
                           position(9999, 4, LV2_ATOM__Float, bits(90.0f))))),
       {tempo(140), tempo(90, kBlock)}},
      {"BeatStamps",
       {},
       raw(sequence(position(77, 4, LV2_ATOM__Float, f140), LV2_ATOM__Sequence,
                    id(LV2_ATOM__beatTime))),
       {tempo(140)}},
  };
}

class BadInput : public ::testing::TestWithParam<Case> {};

TEST_P(BadInput, HandledAsTheVst2FaceHandlesTheLike) {
  const Case& c = GetParam();
  // A short loop whose length the grains' position and spacing follow, so
  // that the tempo shows in the output.
  const std::vector<Action> base = {
      setting(Param::kBufferSixteenths, 2, 1.0f / 63),
      setting(Param::kGrainOffset, 0.5f, 0.5f),
      setting(Param::kStartInterval, 0.5f, 0.5f)};
  Session lv2{44100, kBlock, 30000, base}, vst = lv2;
  lv2.actions.insert(lv2.actions.end(), c.lv2.begin(), c.lv2.end());
  vst.actions.insert(vst.actions.end(), c.vst.begin(), c.vst.end());
  const std::vector<float> a = renderLv2(lv2, c.quirks), b = renderVst2(vst);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
}

INSTANTIATE_TEST_SUITE_P(Lv2, BadInput, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

// A rate outside 8000 to 384000 Hz fails instantiation.
TEST(Lv2Rates, OutsideTheRangeFailInstantiation) {
  const std::pair<double, bool> rates[] = {
      {8000, true},    {384000, true},        {44100, true},
      {7999.5, false}, {384000.5, false},     {0, false},
      {-48000, false}, {std::nan(""), false}, {kInf, false}};
  for (const auto& [rate, works] : rates) {
    EXPECT_EQ(lv2Instantiates(rate), works) << rate;
  }
}
}  // namespace
