// korvane.so, driven through `main` as a VST 2 host drives it, and
// korvane.lv2 give the same samples, bit for bit, for one scripted session;
// bad LV2 input is handled as the VST 2 face handles the like, and `run`
// allocates nothing.
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
// positions and patch:Set messages. Some go to one host alone.
constexpr int32_t kTempo = -1, kSeed = -2;
enum To { kBoth, kLv2Only, kVst2Only };
struct Action {
  int64_t frame;
  int32_t index;  // the setting's, kTempo or kSeed
  float port;
  double value;
  To to = kBoth;
};

// How the LV2 host departs from a plain one.
struct Lv2Quirks {
  bool connectControl = true;     // the optional atom port
  bool mapFeature = true;         // urid:map offered
  bool inPlace = false;           // outputs are the input buffers
  std::vector<uint8_t> firstRun;  // the control port's bytes in the first run
  int64_t stateSeed = -1;   // restored before activation, expected from a save
  bool reactivate = false;  // renders twice, the same both times
};

struct Case {
  std::string name;
  double rate;
  uint32_t block;
  int64_t frames;
  std::vector<Action> actions;  // in frame order
  Lv2Quirks quirks;
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

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
// A time position whose tempo value has the given type and size (key,
// context, value's size and type, value padded to 8 bytes).
template <typename T>
Words tempo(int64_t frame, T bpm, const char* type = LV2_ATOM__Double,
            uint32_t size = sizeof(T)) {
  uint32_t bits[2] = {};
  std::memcpy(bits, &bpm, sizeof bpm);
  return object(frame, 24 + size, LV2_TIME__Position,
                {lv2Urid(LV2_TIME__beatsPerMinute), 0, size, lv2Urid(type),
                 bits[0], bits[1]});
}
Words seedSet(int64_t frame, double seed) {
  const uint64_t s = static_cast<uint64_t>(int64_t(seed));
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
std::vector<float> renderVst2(const Case& c) {
  std::vector<float> in = input(c.frames), out(in.size());
  TestHost host;
  host.tempo.reset();
  AEffect* e = reinterpret_cast<AEffect* (*)(HostCallback)>(
      entry(KORVANE_PLUGIN_PATH, "main"))(&TestHost::callback);
  TestHost::resumeAtRate(e, static_cast<float>(c.rate));
  std::size_t next = 0;
  for (int64_t k = 0; k < c.frames;) {
    for (; next < c.actions.size() && c.actions[next].frame <= k; ++next) {
      const Action& a = c.actions[next];
      if (a.to == kLv2Only) continue;
      if (a.index >= 0) e->setParameter(e, a.index, float(a.value));
      if (a.index == kTempo) host.tempo = a.value;
      if (a.index == kSeed) TestHost::seed(e, uint32_t(int64_t(a.value)));
    }
    int64_t end = std::min<int64_t>((k / c.block + 1) * c.block, c.frames);
    if (next < c.actions.size()) end = std::min(end, c.actions[next].frame);
    float* ins[2] = {&in[k], &in[c.frames + k]};
    float* outs[2] = {&out[k], &out[c.frames + k]};
    e->processReplacing(e, ins, outs, static_cast<int32_t>(end - k));
    k = end;
  }
  TestHost::close(e);
  return out;
}

std::vector<float> renderLv2(const Case& c) {
  const Lv2Quirks& q = c.quirks;
  std::vector<float> in = input(c.frames), out(in.size()), first;
  const LV2_Descriptor* d = lv2();
  const LV2_Feature* features[] = {q.mapFeature ? &mapFeature : nullptr,
                                   nullptr};
  LV2_Handle h = d->instantiate(d, c.rate, KORVANE_LV2_BUNDLE, features);
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
    for (int64_t b = 0; b < c.frames; b += c.block) {
      const int64_t n = std::min<int64_t>(c.block, c.frames - b);
      std::vector<Words> events;
      for (; next < c.actions.size() && c.actions[next].frame < b + n; ++next) {
        const Action& a = c.actions[next];
        if (a.to == kVst2Only) continue;
        if (a.index >= 0) ports[a.index] = a.port;  // at block starts
        if (a.index == kTempo) events.push_back(tempo(a.frame - b, a.value));
        if (a.index == kSeed) events.push_back(seedSet(a.frame - b, a.value));
      }
      std::vector<uint8_t> control =
          b == 0 && !q.firstRun.empty() ? q.firstRun : sequence(events);
      d->connect_port(h, lv2face::Port::kControl,
                      q.connectControl ? control.data() : nullptr);
      float* ins = q.inPlace ? out.data() : in.data();
      for (uint32_t p = 0; p < 4; ++p) {
        d->connect_port(h, p, (p < 2 ? ins : &out[0]) + p % 2 * c.frames + b);
      }
      startCountingAllocations();
      d->run(h, static_cast<uint32_t>(n));
      allocations += stopCountingAllocations();
    }
    if (pass == 0) first = out;
  }
  EXPECT_EQ(allocations, 0) << "in run";
  EXPECT_EQ(std::memcmp(first.data(), out.data(), 4 * out.size()), 0)
      << "activated again";
  if (q.stateSeed >= 0) {
    state->save(h, storeSeed, &seed, 0, nullptr);
    EXPECT_EQ(seed, q.stateSeed & 0xFFFFFFFF) << "the seed saved";
  }
  d->deactivate(h);
  d->cleanup(h);
  return out;
}

// Every setting, changed between blocks, the tempo inside them. Ports in
// units next to the VST 2 values for the same fields: 4 sixteenths is
// (4 - 1) / 63, 5 semitones (5 + 24) / 48, env 2.5 (2.5 - 1) / 5.
Case busy(std::string name, double rate, uint32_t block, bool seeded = true) {
  using namespace Param;
  Case c{std::move(name), rate, block, 3 * 16384, {}, {}};
  // clang-format off
  c.actions = {
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
    c.actions.insert(c.actions.begin() + 11, {0, kSeed, 0, 0x1234567890LL});
    c.actions.insert(c.actions.end() - 2, {24577, kSeed, 0, 99});
  }
  return c;
}

// Bad input, on a short loop that the grains' position and spacing follow,
// so that the tempo shows.
Case bad(std::string name, std::vector<Action> actions, Lv2Quirks q = {}) {
  using namespace Param;
  actions.insert(actions.begin(), {{0, kBufferSixteenths, 2, 1.0 / 63},
                                   {0, kGrainOffset, 0.5f, 0.5f},
                                   {0, kStartInterval, 0.5f, 0.5f}});
  return {std::move(name), 44100, 500, 30000, std::move(actions), std::move(q)};
}
// The LV2 host's first control port holds the bytes; the VST 2 host sets
// the tempos they should amount to.
Case badAtoms(std::string name, std::vector<uint8_t> bytes,
              std::vector<Action> vst2 = {}) {
  for (Action& a : vst2) a.to = kVst2Only;
  Lv2Quirks q;
  q.firstRun = std::move(bytes);
  return bad(std::move(name), std::move(vst2), std::move(q));
}

std::vector<Case> cases() {
  using namespace Param;
  std::vector<Case> all;
  for (const double rate : {44100, 48000}) {  // at 48 kHz in place
    for (const uint32_t block : {1, 64, 4096}) {
      all.push_back(busy(
          "Rate" + std::to_string(int(rate)) + "Block" + std::to_string(block),
          rate, block));
      all.back().quirks.inPlace = rate == 48000;
    }
  }
  // The seed restored as state acts as the seed call before audio and stays
  // with the instance when a new activation forgets the history.
  Case& state = all.emplace_back(busy("SeedAsState", 44100, 512, false));
  state.actions.insert(state.actions.begin(),
                       {0, kSeed, 0, 0x100001092LL, kVst2Only});
  state.quirks.stateSeed = 0x100001092LL;
  state.quirks.reactivate = true;
  // Settings the effect clamps, all before audio but the last.
  const std::vector<Action> outOfRange = {
      {0, kBufferSixteenths, 100, 1}, {0, kTranspose, 30, 1},
      {0, kEnvelopeCeiling, 7, 1},    {0, kRecordThreshold, -1, 0},
      {0, kStartInterval, 5, 1},      {5000, kBufferSixteenths, -5, 0}};
  const std::vector<Action> notFinite = {
      {0, kBufferSixteenths, kNaN, kNaN}, {0, kTranspose, -kInf, -kInf},
      {0, kEnvelopeCeiling, kInf, kInf},  {0, kLengthBase, kNaN, kNaN},
      {0, kGrainOffset, kInf, kInf},      {5000, kTranspose, kNaN, kNaN}};
  // A tempo that is no positive number is 120 bpm, not the last one.
  const std::pair<const char*, double> badTempos[] = {
      {"Zero", 0}, {"Negative", -90}, {"NaN", kNaN}, {"Infinite", kInf}};
  for (const auto& [name, bpm] : badTempos) {
    all.push_back(
        bad(std::string("Tempo") + name, {{0, kTempo, 0, 240},
                                          {3000, kTempo, 0, bpm, kLv2Only},
                                          {3000, kTempo, 0, 120, kVst2Only}}));
  }
  Lv2Quirks noControl, noMap;
  noControl.connectControl = noMap.mapFeature = false;
  const Action ignored = {0, kTempo, 0, 90, kLv2Only};
  // Skipped: an event that is no object, a tempo two bytes of a float long,
  // a string, and last an object too short for its type; not so an integer
  // tempo.
  const std::vector<Words> skipped = {{0, 0, 4, lv2Urid(LV2_ATOM__Int), 7, 0},
                                      tempo(0, 100, LV2_ATOM__Int),
                                      tempo(0, 140.0f, LV2_ATOM__Float, 2),
                                      tempo(0, 140, LV2_ATOM__String),
                                      {0, 0, 4, lv2Urid(LV2_ATOM__Object), 0}};
  const Words tempo140 = tempo(0, 140.0f, LV2_ATOM__Float);
  all.insert(
      all.end(),
      {{"Defaults", 44100, 512, 3 * 16384, {{0, kSeed, 0, 7}}, {}},
       bad("OutOfRange", outOfRange),
       bad("NotFinite", notFinite),
       bad("NoControlPort", {ignored}, noControl),
       bad("NoUridMap", {ignored}, noMap),
       badAtoms("SkippedEvents", sequence(skipped), {{0, kTempo, 0, 100}}),
       badAtoms("SequenceHeadCut", sequence({}, nullptr, 0, 4)),
       badAtoms("EventHeadCut", sequence({{0, 0, 24}}, nullptr, 0, 20)),
       badAtoms("EventLongerThanSequence",
                sequence({object(0, 1000, LV2_TIME__Position, {})})),
       badAtoms("NotASequence", sequence({tempo140}, LV2_ATOM__Chunk)),
       badAtoms("FramesOutsideTheBlock",
                sequence({tempo(-1, 140.0f, LV2_ATOM__Float),
                          tempo(9999, 90.0f, LV2_ATOM__Float)}),
                {{0, kTempo, 0, 140}, {500, kTempo, 0, 90}}),
       badAtoms("BeatStamps",
                sequence({tempo(77, 140.0f, LV2_ATOM__Float)}, nullptr,
                         lv2Urid(LV2_ATOM__beatTime)),
                {{0, kTempo, 0, 140}})});
  return all;
}

class SideBySide : public ::testing::TestWithParam<Case> {};

TEST_P(SideBySide, EverySampleEqual) {
  const Case& c = GetParam();
  const std::vector<float> lv2 = renderLv2(c), vst = renderVst2(c);
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
// short for the instance, the effect or its buffers, without a crash or a
// leak.
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
