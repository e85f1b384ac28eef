// korvane.so and korvane.lv2 driven by one scripted host session give the
// same samples, bit for bit: korvane.so through its `main`, as a VST 2 host
// drives it, and the LV2 binary through `lv2_descriptor`. The sessions set
// settings before audio and between blocks, change the tempo and the seed
// inside blocks, at two rates and three block sizes; the LV2 host also
// processes in place, restores the seed as state and activates twice. What
// an LV2 host may get wrong is handled as the VST 2 face handles the like:
// settings out of range or not finite are clamped, a tempo that is no
// positive number is 120 bpm, atoms whose sizes or types do not add up are
// ignored. `run` allocates nothing in any of them.
// GCC 12 at -O3 takes the byte vectors of the brace-initialised cases below
// for uninitialised where their temporaries are destroyed: a false positive
// of -Wmaybe-uninitialized that would stop a Release build with -Werror.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "TestHost.h"
#include "parameterIndex.h"
#include "portLayout.h"
#include "settingRanges.h"

namespace {
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// One thing the host does at a frame: a setting at a block start (the LV2
// face reads its ports once per run) as the LV2 port's value and the VST 2
// value of the same field; a tempo (bpm) or seed anywhere, in LV2 as time
// positions and patch:Set messages.
constexpr int32_t kTempo = -1, kSeed = -2;
struct Action {
  int64_t frame;
  int32_t index;  // the setting's, kTempo or kSeed
  float port;
  double value;
};

struct Session {
  double rate = 44100;
  uint32_t block = 512;
  int64_t frames = 0;
  std::vector<Action> actions;  // in frame order
};

// How the LV2 host departs from a plain one.
struct Lv2Quirks {
  bool connectControl = true;     // the optional atom port
  bool mapFeature = true;         // urid:map offered
  bool inPlace = false;           // outputs are the input buffers
  std::vector<uint8_t> firstRun;  // the control port's bytes in the first run
  int64_t stateSeed = -1;   // restored before activation, expected from a save
  bool reactivate = false;  // renders twice, answers the second
};

// The input, planar: a sine a little different on each channel, with a
// click every 1000 frames that starts captures.
std::vector<float> input(int64_t frames) {
  std::vector<float> in(2 * frames);
  for (int64_t i = 0; i < 2 * frames; ++i) {
    const int64_t k = i % frames;
    const double sine = 0.4 * std::sin(0.01 * (i / frames + 1) * k);
    in[i] = static_cast<float>(k % 1000 == 0 ? sine + 0.5 : sine);
  }
  return in;
}

void* entry(const char* path, const char* symbol) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(library, nullptr) << dlerror();
  return library != nullptr ? dlsym(library, symbol) : nullptr;
}

uint32_t lv2Urid(const char* uri) {
  static std::vector<std::string> table;
  const auto at = std::find(table.begin(), table.end(), uri);
  if (at != table.end()) return static_cast<uint32_t>(at - table.begin() + 1);
  table.push_back(uri);
  return static_cast<uint32_t>(table.size());
}
LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri) { return lv2Urid(uri); }
LV2_URID_Map lv2Map = {nullptr, mapUri};
const LV2_Feature mapFeature = {LV2_URID__map, &lv2Map};

const LV2_Descriptor* lv2() {
  using Entry = const LV2_Descriptor* (*)(uint32_t);
  return reinterpret_cast<Entry>(entry(KORVANE_LV2_BINARY, "lv2_descriptor"))(
      0);
}

// The state the tests hand over: one seed, as an atom:Long.
const void* retrieveSeed(LV2_State_Handle seed, uint32_t key, size_t* size,
                         uint32_t* type, uint32_t* flags) {
  *size = sizeof(int64_t);
  *type = lv2Urid(LV2_ATOM__Long);
  *flags = LV2_STATE_IS_POD;
  return key == lv2Urid(lv2face::kSeedUri) ? seed : nullptr;
}
LV2_State_Status storeSeed(LV2_State_Handle seed, uint32_t key,
                           const void* value, size_t size, uint32_t type,
                           uint32_t) {
  if (key == lv2Urid(lv2face::kSeedUri) && size == sizeof(int64_t) &&
      type == lv2Urid(LV2_ATOM__Long)) {
    std::memcpy(seed, value, size);
  }
  return LV2_STATE_SUCCESS;
}

// Hand-made atoms, as 32-bit words. An event at `frame` holding an object
// of `type` whose body (id and type included) has `size` bytes.
using Words = std::vector<uint32_t>;
Words object(int64_t frame, uint32_t size, const char* type, Words body) {
  body.insert(body.begin(), {uint32_t(frame), uint32_t(frame >> 32), size,
                             lv2Urid(LV2_ATOM__Object), 0, lv2Urid(type)});
  return body;
}
// A time position whose tempo value has the given size, type and bits
// (key, context, value's size and type, value padded to 8 bytes).
Words position(int64_t frame, uint32_t size, const char* type, uint64_t bits) {
  return object(frame, 24 + size, LV2_TIME__Position,
                {lv2Urid(LV2_TIME__beatsPerMinute), 0, size, lv2Urid(type),
                 uint32_t(bits), uint32_t(bits >> 32)});
}
Words seedSet(int64_t frame, int64_t seed) {
  const uint64_t s = static_cast<uint64_t>(seed);
  return object(frame, 56, LV2_PATCH__Set,
                {lv2Urid(LV2_PATCH__property), 0, 4, lv2Urid(LV2_ATOM__URID),
                 lv2Urid(lv2face::kSeedUri), 0, lv2Urid(LV2_PATCH__value), 0, 8,
                 lv2Urid(LV2_ATOM__Long), uint32_t(s), uint32_t(s >> 32)});
}
// A control port's bytes holding the events, its size from them unless
// given.
std::vector<uint8_t> sequence(const std::vector<Words>& events,
                              const char* type = nullptr, uint32_t unit = 0,
                              int64_t size = -1) {
  Words words = {0, lv2Urid(type != nullptr ? type : LV2_ATOM__Sequence), unit,
                 0};
  for (const Words& e : events) words.insert(words.end(), e.begin(), e.end());
  words[0] = static_cast<uint32_t>(size < 0 ? 4 * words.size() - 8 : size);
  std::vector<uint8_t> bytes(4 * words.size());  // exactly, for ASan
  std::memcpy(bytes.data(), words.data(), bytes.size());
  return bytes;
}

bool lv2Instantiates(double rate) {
  const LV2_Descriptor* d = lv2();
  const LV2_Feature* features[] = {&mapFeature, nullptr};
  LV2_Handle h = d->instantiate(d, rate, KORVANE_LV2_BUNDLE, features);
  if (h != nullptr) d->cleanup(h);
  return h != nullptr;
}

// Both hosts answer their output planar. The VST 2 host also splits a
// block where a tempo or seed action falls, and answers the tempo of the
// moment.
std::vector<float> renderVst2(const Session& s) {
  std::vector<float> in = input(s.frames), out(in.size());
  TestHost host;
  host.tempo.reset();
  AEffect* e = reinterpret_cast<AEffect* (*)(HostCallback)>(
      entry(KORVANE_PLUGIN_PATH, "main"))(&TestHost::callback);
  TestHost::resumeAtRate(e, static_cast<float>(s.rate), false);
  TestHost::dispatch(e, EffectOpcode::kSuspendResume, 0, 1);
  std::size_t next = 0;
  for (int64_t k = 0; k < s.frames;) {
    for (; next < s.actions.size() && s.actions[next].frame <= k; ++next) {
      const Action& a = s.actions[next];
      if (a.index >= 0) e->setParameter(e, a.index, float(a.value));
      if (a.index == kTempo) host.tempo = a.value;
      if (a.index == kSeed) TestHost::seed(e, uint32_t(int64_t(a.value)));
    }
    int64_t end = std::min<int64_t>((k / s.block + 1) * s.block, s.frames);
    if (next < s.actions.size()) end = std::min(end, s.actions[next].frame);
    float* ins[2] = {&in[k], &in[s.frames + k]};
    float* outs[2] = {&out[k], &out[s.frames + k]};
    e->processReplacing(e, ins, outs, static_cast<int32_t>(end - k));
    k = end;
  }
  TestHost::close(e);
  return out;
}

std::vector<float> renderLv2(const Session& s, const Lv2Quirks& q) {
  std::vector<float> in = input(s.frames), out(in.size());
  const LV2_Descriptor* d = lv2();
  const LV2_Feature* features[] = {q.mapFeature ? &mapFeature : nullptr,
                                   nullptr};
  LV2_Handle h = d->instantiate(d, s.rate, KORVANE_LV2_BUNDLE, features);
  EXPECT_NE(h, nullptr);
  if (h == nullptr) return out;
  float ports[Param::kCount];
  for (int32_t i = 0; i < Param::kCount; ++i) {
    d->connect_port(h, lv2face::Port::kFirstSetting + i, &ports[i]);
  }
  const auto* state = static_cast<const LV2_State_Interface*>(
      d->extension_data(LV2_STATE__interface));
  int64_t seed = q.stateSeed;
  if (seed >= 0) state->restore(h, retrieveSeed, &seed, 0, nullptr);
  int allocations = 0;
  for (int pass = 0; pass < (q.reactivate ? 2 : 1); ++pass) {
    if (pass > 0) d->deactivate(h);
    d->activate(h);
    for (int32_t i = 0; i < Param::kCount; ++i) {  // as hosts start
      ports[i] = lv2face::kSettingRanges[i].initial;
    }
    if (q.inPlace) out = in;
    std::size_t next = 0;
    for (int64_t b = 0; b < s.frames; b += s.block) {
      const int64_t n = std::min<int64_t>(s.block, s.frames - b);
      std::vector<Words> events;
      for (; next < s.actions.size() && s.actions[next].frame < b + n; ++next) {
        const Action& a = s.actions[next];
        uint64_t bits;
        std::memcpy(&bits, &a.value, sizeof bits);
        if (a.index == kTempo) {
          events.push_back(position(a.frame - b, 8, LV2_ATOM__Double, bits));
        } else if (a.index == kSeed) {
          events.push_back(seedSet(a.frame - b, int64_t(a.value)));
        } else {
          EXPECT_EQ(a.frame, b) << "settings change at block starts";
          ports[a.index] = a.port;
        }
      }
      std::vector<uint8_t> control =
          b == 0 && !q.firstRun.empty() ? q.firstRun : sequence(events);
      d->connect_port(h, lv2face::Port::kControl,
                      q.connectControl ? control.data() : nullptr);
      float* ins = q.inPlace ? out.data() : in.data();
      for (uint32_t p = 0; p < 4; ++p) {
        d->connect_port(h, p, (p < 2 ? ins : &out[0]) + p % 2 * s.frames + b);
      }
      startCountingAllocations();
      d->run(h, static_cast<uint32_t>(n));
      allocations += stopCountingAllocations();
    }
  }
  EXPECT_EQ(allocations, 0) << "in run";
  if (q.stateSeed >= 0) {
    state->save(h, storeSeed, &seed, 0, nullptr);
    EXPECT_EQ(seed, q.stateSeed & 0xFFFFFFFF) << "the seed saved";
  }
  d->deactivate(h);
  d->cleanup(h);
  return out;
}

// Ports in units next to the VST 2 values for the same fields: 4
// sixteenths is (4 - 1) / 63, 5 semitones (5 + 24) / 48, env 2.5 (2.5 - 1) / 5.
Session busy(double rate, uint32_t block, bool seeded = true) {
  using namespace Param;
  Session s{rate, block, 3 * 16384, {}};
  // clang-format off
  s.actions = {
      {0, kBufferSixteenths, 4, 3.0 / 63},  {0, kRecordThreshold, 0.1f, 0.1f},
      {0, kStartInterval, 0.3f, 0.3f},      {0, kStartJitter, 0.5f, 0.5f},
      {0, kGrainOffset, 0.25f, 0.25f},      {0, kPositionJitter, 0.3f, 0.3f},
      {0, kLengthBase, 0.4f, 0.4f},         {0, kLengthJitter, 0.4f, 0.4f},
      {0, kTranspose, 5, 29.0 / 48},        {0, kPitchJitter, 0.2f, 0.2f},
      {0, kEnvelopeCeiling, 2.5f, 1.5 / 5}, {0, kTempo, 0, 100},
      {16384, kGrainOffset, 0.6f, 0.6f},    {16384, kTranspose, -3, 21.0 / 48},
      {16384, kBufferSixteenths, 6, 5.0 / 63}, {20001, kTempo, 0, 140.5},
      {32768, kStartInterval, 0.1f, 0.1f},  {40000, kTempo, 0, 90}};
  // clang-format on
  if (seeded) {  // the low 32 bits count
    s.actions.insert(s.actions.begin() + 11, {0, kSeed, 0, 0x1234567890LL});
    s.actions.insert(s.actions.end() - 2, {24577, kSeed, 0, 99});
  }
  return s;
}

struct Case {
  std::string name;
  Session lv2;
  Lv2Quirks quirks;
  Session vst;  // the VST 2 host's like
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// Bad input, on a short loop that the grains' position and spacing follow,
// so that the tempo shows: the LV2 host's actions or first control port
// against the VST 2 host's like.
Case bad(const char* name, std::vector<Action> lv2,
         std::vector<Action> vst = {}, Lv2Quirks quirks = {}) {
  const std::vector<Action> loop = {{0, Param::kBufferSixteenths, 2, 1.0 / 63},
                                    {0, Param::kGrainOffset, 0.5f, 0.5f},
                                    {0, Param::kStartInterval, 0.5f, 0.5f}};
  Case c{name, {44100, 500, 30000, loop}, std::move(quirks), {}};
  c.vst = c.lv2;
  c.lv2.actions.insert(c.lv2.actions.end(), lv2.begin(), lv2.end());
  c.vst.actions.insert(c.vst.actions.end(), vst.begin(), vst.end());
  return c;
}
Case badAtoms(const char* name, std::vector<Words> events,
              std::vector<Action> vst = {}, const char* type = nullptr,
              uint32_t unit = 0, int64_t size = -1) {
  Lv2Quirks q;
  q.firstRun = sequence(events, type, unit, size);
  return bad(name, {}, vst, q);
}
Words floatTempo(int64_t frame, float bpm) {
  uint32_t bits;
  std::memcpy(&bits, &bpm, sizeof bits);
  return position(frame, 4, LV2_ATOM__Float, bits);
}

std::vector<Case> cases() {
  using namespace Param;
  std::vector<Case> all;
  for (const double rate : {44100, 48000}) {
    for (const uint32_t block : {1, 64, 4096}) {
      const Session s = busy(rate, block);
      const std::string name = "Rate" + std::to_string(int(rate));
      all.push_back({name + "Block" + std::to_string(block), s, {}, s});
    }
  }
  Lv2Quirks inPlace, noControl, noMap, state, stateTwice;
  inPlace.inPlace = true;
  noControl.connectControl = noMap.mapFeature = false;
  state.stateSeed = stateTwice.stateSeed = 0x100001092LL;
  stateTwice.reactivate = true;
  // The seed restored as state acts as the seed call before audio and stays
  // with the instance when a new activation forgets the history.
  const Session stateSeeded = busy(44100, 512, false);
  Session seedCalled = stateSeeded;
  seedCalled.actions.insert(seedCalled.actions.begin(),
                            {0, kSeed, 0, 0x100001092LL});
  const Session defaults = {44100, 512, 3 * 16384, {{0, kSeed, 0, 7}}};
  // Settings the effect clamps, all before audio but the last.
  const std::vector<Action> outOfRange = {
      {0, kBufferSixteenths, 100, 1}, {0, kTranspose, 30, 1},
      {0, kEnvelopeCeiling, 7, 1},    {0, kRecordThreshold, -1, 0},
      {0, kStartInterval, 5, 1},      {5000, kBufferSixteenths, -5, 0}};
  const std::vector<Action> notFinite = {
      {0, kBufferSixteenths, kNaN, kNaN}, {0, kTranspose, -kInf, -kInf},
      {0, kEnvelopeCeiling, kInf, kInf},  {0, kLengthBase, kNaN, kNaN},
      {0, kGrainOffset, kInf, kInf},      {5000, kTranspose, kNaN, kNaN}};
  const Words other = {0, 0, 4, lv2Urid(LV2_ATOM__Int), 7, 0};
  all.insert(
      all.end(),
      {{"InPlace", busy(48000, 256), inPlace, busy(48000, 256)},
       {"Defaults", defaults, {}, defaults},
       {"SeedAsState", stateSeeded, state, seedCalled},
       {"SeedAsStateReactivated", stateSeeded, stateTwice, seedCalled},
       bad("OutOfRange", outOfRange, outOfRange),
       bad("NotFinite", notFinite, notFinite),
       bad("TempoZero", {{0, kTempo, 0, 0}}, {{0, kTempo, 0, 0}}),
       bad("TempoNegative", {{0, kTempo, 0, -90}}),
       bad("TempoNotFinite", {{0, kTempo, 0, kNaN}, {3000, kTempo, 0, kInf}}),
       bad("NoControlPort", {{0, kTempo, 0, 90}}, {}, noControl),
       bad("NoUridMap", {{0, kTempo, 0, 90}}, {}, noMap),
       badAtoms("SequenceHeadCut", {}, {}, nullptr, 0, 4),
       badAtoms("EventLongerThanSequence", {{0, 0, 1000, 0, 0, 0}}),
       badAtoms("EventHeadCut", {{0, 0, 24}}, {}, nullptr, 0, 20),
       badAtoms("ObjectBodyCut", {{0, 0, 4, lv2Urid(LV2_ATOM__Object), 0, 0}}),
       badAtoms("TempoValueCut", {position(0, 2, LV2_ATOM__Float, 0)}),
       badAtoms("TempoAString", {position(0, 4, LV2_ATOM__String, 140)}),
       badAtoms("NotASequence", {floatTempo(0, 140)}, {}, LV2_ATOM__Chunk),
       badAtoms("OtherEventsSkipped", {other, floatTempo(0, 140)},
                {{0, kTempo, 0, 140}}),
       badAtoms("IntegerTempo", {position(0, 4, LV2_ATOM__Int, 140)},
                {{0, kTempo, 0, 140}}),
       badAtoms("FramesOutsideTheBlock",
                {floatTempo(-1, 140), floatTempo(9999, 90)},
                {{0, kTempo, 0, 140}, {500, kTempo, 0, 90}}),
       badAtoms("BeatStamps", {floatTempo(77, 140)}, {{0, kTempo, 0, 140}},
                nullptr, lv2Urid(LV2_ATOM__beatTime))});
  return all;
}

class SideBySide : public ::testing::TestWithParam<Case> {};

TEST_P(SideBySide, EverySampleEqual) {
  const Case& c = GetParam();
  const std::vector<float> lv2 = renderLv2(c.lv2, c.quirks),
                           vst = renderVst2(c.vst);
  ASSERT_EQ(lv2.size(), vst.size());
  for (std::size_t i = 0; i < lv2.size(); ++i) {
    ASSERT_EQ(std::memcmp(&lv2[i], &vst[i], sizeof(float)), 0)
        << "frame " << i / 2 << ": " << lv2[i] << " against " << vst[i];
  }
  // All sound but the settings at the far ends of their ranges.
  EXPECT_TRUE(c.name == "OutOfRange" ||
              std::any_of(vst.begin(), vst.end(), [](float v) { return v; }));
}
INSTANTIATE_TEST_SUITE_P(Lv2, SideBySide, ::testing::ValuesIn(cases()),
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
    // The binding, the effect, its 44.1 kHz buffers and the pair for the
    // host's rate: none may fail, lest the instance run at 44.1 kHz.
    EXPECT_TRUE(n > 7 || !instantiated) << "allocation " << n << " failed";
  }
}
}  // namespace
