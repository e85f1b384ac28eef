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
#include <optional>
#include <string>

#include "AEffect.h"
#include "AllocationCounter.h"
#include "opcodes.h"
#include "portLayout.h"
#include "seedExtension.h"
#include "settingRanges.h"
#include "timeRecord.h"

namespace {
// The session's input: a sine a little different on each channel, with a
// click every 1000 frames that starts captures.
float input(int64_t frame, int channel) {
  const double sine = 0.4 * std::sin(0.01 * (channel + 1) * frame);
  return static_cast<float>(frame % 1000 == 0 ? sine + 0.5 : sine);
}

void* open(const char* path) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(library, nullptr) << dlerror();
  return library;
}

// ---- VST 2: the host callback answers the tempo of the moment, or nothing.
std::optional<double> vstTempo;
VstTimeInfo vstTime;

intptr_t vstCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*,
                     float) {
  if (opcode == HostOpcode::kVersion) return 2400;
  if (opcode != HostOpcode::kGetTime || !vstTempo) return 0;
  vstTime.tempo = *vstTempo;
  return reinterpret_cast<intptr_t>(&vstTime);
}

// ---- LV2: a URID map shared by the host and the hand-made atoms.
std::vector<std::string>& uris() {
  static std::vector<std::string> table;
  return table;
}
LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri) { return lv2Urid(uri); }
LV2_URID_Map lv2Map = {nullptr, mapUri};
const LV2_Feature mapFeature = {LV2_URID__map, &lv2Map};

const LV2_Descriptor* lv2Descriptor() {
  void* library = open(KORVANE_LV2_BINARY);
  if (library == nullptr) return nullptr;
  using Entry = const LV2_Descriptor* (*)(uint32_t);
  auto entry = reinterpret_cast<Entry>(dlsym(library, "lv2_descriptor"));
  return entry != nullptr ? entry(0) : nullptr;
}

// A control port's sequence of frame-stamped objects, 8-aligned.
class Sequence {
 public:
  Sequence() { words_.assign(2, 0); }
  void object(int64_t frame, const char* type,
              const std::vector<std::pair<const char*, LV2_Atom_Long>>& pairs) {
    std::vector<uint64_t> body = {uint64_t{lv2Urid(type)} << 32};
    for (const auto& [key, value] : pairs) {
      body.push_back(lv2Urid(key));
      body.push_back(value.atom.size | uint64_t{value.atom.type} << 32);
      body.push_back(static_cast<uint64_t>(value.body));
    }
    words_.push_back(static_cast<uint64_t>(frame));
    words_.push_back((body.size() * 8) | uint64_t{lv2Urid(LV2_ATOM__Object)}
                                             << 32);
    words_.insert(words_.end(), body.begin(), body.end());
  }
  void* data() {
    const uint64_t size = (words_.size() - 1) * 8;
    words_[0] = size | uint64_t{lv2Urid(LV2_ATOM__Sequence)} << 32;
    return words_.data();
  }

 private:
  std::vector<uint64_t> words_;
};

// The state the tests hand over: one seed, as an atom:Long.
const void* retrieveSeed(LV2_State_Handle handle, uint32_t key, size_t* size,
                         uint32_t* type, uint32_t* flags) {
  if (key != lv2Urid(lv2face::kSeedUri)) return nullptr;
  *size = sizeof(int64_t);
  *type = lv2Urid(LV2_ATOM__Long);
  *flags = LV2_STATE_IS_POD;
  return handle;
}
LV2_State_Status storeSeed(LV2_State_Handle handle, uint32_t key,
                           const void* value, size_t size, uint32_t type,
                           uint32_t flags) {
  if (key == lv2Urid(lv2face::kSeedUri) && size == sizeof(int64_t) &&
      type == lv2Urid(LV2_ATOM__Long) && (flags & LV2_STATE_IS_POD) != 0) {
    std::memcpy(handle, value, size);
  }
  return LV2_STATE_SUCCESS;
}
void renderPass(const LV2_Descriptor* d, LV2_Handle h, const Session& s,
                const Lv2Quirks& q, float* settings, std::vector<float>& audio,
                std::vector<float>& out);

LV2_Atom_Long atomOf(double tempo) {
  LV2_Atom_Long a = {{sizeof(double), lv2Urid(LV2_ATOM__Double)}, 0};
  std::memcpy(&a.body, &tempo, sizeof tempo);
  return a;
}
}  // namespace

uint32_t lv2Urid(const char* uri) {
  auto& table = uris();
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i] == uri) return static_cast<uint32_t>(i + 1);
  }
  table.push_back(uri);
  return static_cast<uint32_t>(table.size());
}

bool lv2Instantiates(double rate) {
  const LV2_Descriptor* d = lv2Descriptor();
  const LV2_Feature* features[] = {&mapFeature, nullptr};
  LV2_Handle h = d->instantiate(d, rate, KORVANE_LV2_BUNDLE, features);
  if (h != nullptr) d->cleanup(h);
  return h != nullptr;
}

std::vector<float> renderVst2(const Session& s) {
  std::vector<float> out(static_cast<std::size_t>(s.frames) * 2);
  auto entry = reinterpret_cast<AEffect* (*)(HostCallback)>(
      dlsym(open(KORVANE_PLUGIN_PATH), "main"));
  AEffect* e = entry(&vstCallback);
  auto dispatch = [&](int32_t opcode, int32_t index, intptr_t value,
                      float opt) {
    e->dispatcher(e, opcode, index, value, nullptr, opt);
  };
  vstTempo.reset();
  dispatch(EffectOpcode::kSetSampleRate, 0, 0, static_cast<float>(s.rate));
  dispatch(EffectOpcode::kSuspendResume, 0, 1, 0);
  std::vector<float> in(2 * s.block), result(2 * s.block);
  std::size_t next = 0;
  for (int64_t k = 0; k < s.frames;) {
    for (; next < s.actions.size() && s.actions[next].frame <= k; ++next) {
      const Action& a = s.actions[next];
      if (a.kind == Action::kSetting) e->setParameter(e, a.index, a.normalised);
      if (a.kind == Action::kTempo) vstTempo = a.tempo;
      if (a.kind == Action::kSeed) {
        dispatch(seedExtension::kOpcode, seedExtension::kIndex,
                 static_cast<intptr_t>(a.seed), 0);
      }
    }
    // Up to the block's end or the next action, whichever comes first.
    int64_t end = std::min<int64_t>((k / s.block + 1) * s.block, s.frames);
    if (next < s.actions.size()) end = std::min(end, s.actions[next].frame);
    const int32_t n = static_cast<int32_t>(end - k);
    float* ins[2] = {in.data(), in.data() + s.block};
    float* outs[2] = {result.data(), result.data() + s.block};
    for (int32_t j = 0; j < n; ++j) {
      for (int c = 0; c < 2; ++c) ins[c][j] = input(k + j, c);
    }
    e->processReplacing(e, ins, outs, n);
    for (int32_t j = 0; j < n; ++j) {
      for (int c = 0; c < 2; ++c) out[2 * (k + j) + c] = outs[c][j];
    }
    k = end;
  }
  dispatch(EffectOpcode::kClose, 0, 0, 0);
  return out;
}

std::vector<float> renderLv2(const Session& s, const Lv2Quirks& q) {
  std::vector<float> out(static_cast<std::size_t>(s.frames) * 2);
  const LV2_Descriptor* d = lv2Descriptor();
  const LV2_Feature* features[] = {q.mapFeature ? &mapFeature : nullptr,
                                   nullptr};
  LV2_Handle h = d->instantiate(d, s.rate, KORVANE_LV2_BUNDLE, features);
  EXPECT_NE(h, nullptr);
  if (h == nullptr) return out;
  // Every port at its default, as hosts start.
  float settings[Param::kCount];
  for (int32_t i = 0; i < Param::kCount; ++i) {
    settings[i] = lv2face::kSettingRanges[i].initial;
    d->connect_port(h, lv2face::Port::kFirstSetting + i, &settings[i]);
  }
  std::vector<float> audio(4 * s.block);
  for (uint32_t p = 0; p < 4; ++p) {
    const uint32_t buffer = q.inPlace ? p % 2 : p;
    d->connect_port(h, p, audio.data() + buffer * s.block);
  }
  if (q.stateSeed >= 0) {
    const auto* state = static_cast<const LV2_State_Interface*>(
        d->extension_data(LV2_STATE__interface));
    EXPECT_EQ(state->restore(h, retrieveSeed,
                             const_cast<int64_t*>(&q.stateSeed), 0, nullptr),
              LV2_STATE_SUCCESS);
  }
  d->activate(h);
  for (int pass = 0; pass < (q.reactivate ? 2 : 1); ++pass) {
    if (pass == 1) {
      d->deactivate(h);
      d->activate(h);
      for (int32_t i = 0; i < Param::kCount; ++i) {
        settings[i] = lv2face::kSettingRanges[i].initial;
      }
    }
    renderPass(d, h, s, q, settings, audio, out);
  }
  d->deactivate(h);
  d->cleanup(h);
  return out;
}

int64_t lv2SeedSavedAfter(int64_t restored) {
  const LV2_Descriptor* d = lv2Descriptor();
  const LV2_Feature* features[] = {&mapFeature, nullptr};
  LV2_Handle h = d->instantiate(d, 44100, KORVANE_LV2_BUNDLE, features);
  const auto* state = static_cast<const LV2_State_Interface*>(
      d->extension_data(LV2_STATE__interface));
  state->restore(h, retrieveSeed, &restored, 0, nullptr);
  int64_t saved = -1;
  state->save(h, storeSeed, &saved, 0, nullptr);
  d->cleanup(h);
  return saved;
}

namespace {
void renderPass(const LV2_Descriptor* d, LV2_Handle h, const Session& s,
                const Lv2Quirks& q, float* settings, std::vector<float>& audio,
                std::vector<float>& out) {
  std::size_t next = 0;
  for (int64_t b = 0; b < s.frames; b += s.block) {
    const int64_t n = std::min<int64_t>(s.block, s.frames - b);
    Sequence sequence;
    for (; next < s.actions.size() && s.actions[next].frame < b + n; ++next) {
      const Action& a = s.actions[next];
      const int64_t at = a.frame - b;
      if (a.kind == Action::kSetting) {
        EXPECT_EQ(at, 0) << "settings change at block starts";
        settings[a.index] = a.port;
      } else if (a.kind == Action::kTempo) {
        sequence.object(at, LV2_TIME__Position,
                        {{LV2_TIME__beatsPerMinute, atomOf(a.tempo)}});
      } else {
        const LV2_Atom_Long property = {
            {sizeof(LV2_URID), lv2Urid(LV2_ATOM__URID)},
            lv2Urid(lv2face::kSeedUri)};
        const LV2_Atom_Long value = {{sizeof(int64_t), lv2Urid(LV2_ATOM__Long)},
                                     a.seed};
        sequence.object(
            at, LV2_PATCH__Set,
            {{LV2_PATCH__property, property}, {LV2_PATCH__value, value}});
      }
    }
    std::vector<uint8_t> raw = q.firstRun;  // exactly its size, for ASan
    void* control = b == 0 && !raw.empty() ? raw.data() : sequence.data();
    d->connect_port(h, lv2face::Port::kControl,
                    q.connectControl ? control : nullptr);
    for (int64_t j = 0; j < n; ++j) {
      for (int c = 0; c < 2; ++c) audio[c * s.block + j] = input(b + j, c);
    }
    if (q.runAllocations != nullptr) startCountingAllocations();
    d->run(h, static_cast<uint32_t>(n));
    if (q.runAllocations != nullptr) {
      *q.runAllocations += stopCountingAllocations();
    }
    const float* outs = audio.data() + (q.inPlace ? 0 : 2 * s.block);
    for (int64_t j = 0; j < n; ++j) {
      for (int c = 0; c < 2; ++c) out[2 * (b + j) + c] = outs[c * s.block + j];
    }
  }
}
}  // namespace
