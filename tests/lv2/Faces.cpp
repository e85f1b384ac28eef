// The two scripted hosts of Faces.h.
#include "Faces.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstring>
#include <string>

#include "AllocationCounter.h"
#include "TestHost.h"
#include "portLayout.h"
#include "settingRanges.h"

namespace {
// The input: a sine a little different on each channel, with a click every
// 1000 frames that starts captures.
float input(int64_t frame, int channel) {
  const double sine = 0.4 * std::sin(0.01 * (channel + 1) * frame);
  return static_cast<float>(frame % 1000 == 0 ? sine + 0.5 : sine);
}

void* entry(const char* path, const char* symbol) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(library, nullptr) << dlerror();
  return library != nullptr ? dlsym(library, symbol) : nullptr;
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
}  // namespace

uint32_t lv2Urid(const char* uri) {
  static std::vector<std::string> table;
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i] == uri) return static_cast<uint32_t>(i + 1);
  }
  table.push_back(uri);
  return static_cast<uint32_t>(table.size());
}

// event: frames, body size and type; object: id, type; property: key,
// context, value's size and type, value padded to 8 bytes.
std::vector<uint32_t> position(int64_t frame, uint32_t size, const char* type,
                               uint64_t value) {
  return {static_cast<uint32_t>(frame),
          static_cast<uint32_t>(frame >> 32),
          24 + size,
          lv2Urid(LV2_ATOM__Object),
          0,
          lv2Urid(LV2_TIME__Position),
          lv2Urid(LV2_TIME__beatsPerMinute),
          0,
          size,
          lv2Urid(type),
          static_cast<uint32_t>(value),
          static_cast<uint32_t>(value >> 32)};
}

std::vector<uint32_t> seedSet(int64_t frame, int64_t seed) {
  const uint64_t s = static_cast<uint64_t>(seed);
  return {static_cast<uint32_t>(frame),
          static_cast<uint32_t>(frame >> 32),
          56,
          lv2Urid(LV2_ATOM__Object),
          0,
          lv2Urid(LV2_PATCH__Set),
          lv2Urid(LV2_PATCH__property),
          0,
          4,
          lv2Urid(LV2_ATOM__URID),
          lv2Urid(lv2face::kSeedUri),
          0,
          lv2Urid(LV2_PATCH__value),
          0,
          8,
          lv2Urid(LV2_ATOM__Long),
          static_cast<uint32_t>(s),
          static_cast<uint32_t>(s >> 32)};
}

std::vector<uint8_t> sequence(const std::vector<uint32_t>& events,
                              const char* type, uint32_t unit, int64_t size) {
  std::vector<uint32_t> words = {
      static_cast<uint32_t>(size < 0 ? 8 + 4 * events.size() : size),
      lv2Urid(type != nullptr ? type : LV2_ATOM__Sequence), unit, 0};
  words.insert(words.end(), events.begin(), events.end());
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

// Both hosts process block by block; the VST 2 host also splits a block
// where a tempo or seed action falls, and answers the tempo of the moment.
std::vector<float> renderVst2(const Session& s) {
  std::vector<float> out(2 * s.frames), buffers(4 * s.block);
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
      if (a.kind == Action::kSetting) e->setParameter(e, a.index, a.normalised);
      if (a.kind == Action::kTempo) host.tempo = a.tempo;
      if (a.kind == Action::kSeed) TestHost::seed(e, uint32_t(a.seed));
    }
    int64_t end = std::min<int64_t>((k / s.block + 1) * s.block, s.frames);
    if (next < s.actions.size()) end = std::min(end, s.actions[next].frame);
    float* ins[2] = {&buffers[0], &buffers[s.block]};
    float* outs[2] = {&buffers[2 * s.block], &buffers[3 * s.block]};
    for (int64_t j = 0; j < end - k; ++j) {
      for (int c = 0; c < 2; ++c) ins[c][j] = input(k + j, c);
    }
    e->processReplacing(e, ins, outs, static_cast<int32_t>(end - k));
    for (int64_t j = 0; j < end - k; ++j) {
      for (int c = 0; c < 2; ++c) out[2 * (k + j) + c] = outs[c][j];
    }
    k = end;
  }
  TestHost::close(e);
  return out;
}

std::vector<float> renderLv2(const Session& s, const Lv2Quirks& q) {
  std::vector<float> out(2 * s.frames), buffers(4 * s.block);
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
  for (uint32_t p = 0; p < 4; ++p) {
    d->connect_port(h, p, &buffers[(q.inPlace ? p % 2 : p) * s.block]);
  }
  const auto* state = static_cast<const LV2_State_Interface*>(
      d->extension_data(LV2_STATE__interface));
  int64_t seed = q.stateSeed;
  if (seed >= 0) state->restore(h, retrieveSeed, &seed, 0, nullptr);
  for (int pass = 0; pass < (q.reactivate ? 2 : 1); ++pass) {
    if (pass > 0) d->deactivate(h);
    d->activate(h);
    // Every port at its default, as hosts start.
    for (int32_t i = 0; i < Param::kCount; ++i) {
      ports[i] = lv2face::kSettingRanges[i].initial;
    }
    std::size_t next = 0;
    for (int64_t b = 0; b < s.frames; b += s.block) {
      const int64_t n = std::min<int64_t>(s.block, s.frames - b);
      std::vector<uint32_t> events;
      for (; next < s.actions.size() && s.actions[next].frame < b + n; ++next) {
        const Action& a = s.actions[next];
        std::vector<uint32_t> event;
        if (a.kind == Action::kSetting) {
          EXPECT_EQ(a.frame, b) << "settings change at block starts";
          ports[a.index] = a.port;
        } else if (a.kind == Action::kTempo) {
          uint64_t bits;
          std::memcpy(&bits, &a.tempo, sizeof bits);
          event = position(a.frame - b, 8, LV2_ATOM__Double, bits);
        } else {
          event = seedSet(a.frame - b, a.seed);
        }
        events.insert(events.end(), event.begin(), event.end());
      }
      std::vector<uint8_t> control =
          b == 0 && !q.firstRun.empty() ? q.firstRun : sequence(events);
      d->connect_port(h, lv2face::Port::kControl,
                      q.connectControl ? control.data() : nullptr);
      for (int64_t j = 0; j < n; ++j) {
        for (int c = 0; c < 2; ++c) buffers[c * s.block + j] = input(b + j, c);
      }
      if (q.runAllocations != nullptr) startCountingAllocations();
      d->run(h, static_cast<uint32_t>(n));
      if (q.runAllocations != nullptr) {
        *q.runAllocations += stopCountingAllocations();
      }
      const float* outs = &buffers[(q.inPlace ? 0 : 2) * s.block];
      for (int64_t j = 0; j < n; ++j) {
        for (int c = 0; c < 2; ++c)
          out[2 * (b + j) + c] = outs[c * s.block + j];
      }
    }
  }
  if (q.stateSeed >= 0) {
    state->save(h, storeSeed, &seed, 0, nullptr);
    EXPECT_EQ(seed, q.stateSeed & 0xFFFFFFFF) << "the seed saved";
  }
  d->deactivate(h);
  d->cleanup(h);
  return out;
}
