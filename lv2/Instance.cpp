// The LV2 binding's instance (Instance.h): settings, tempo, seed and audio
// passed to the effect through its plug-in record.
#include "Instance.h"

#include <lv2/urid/urid.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include "ControlReader.h"
#include "effectEntry.h"
#include "opcodes.h"
#include "seedExtension.h"
#include "settingRanges.h"

namespace lv2face {
namespace {
// The interface version the internal host reports, that of current VST 2
// hosts.
constexpr intptr_t kHostVersion = 2400;
// The most samples one processing call of the record takes.
constexpr uint32_t kMostFramesPerCall = 1u << 30;

intptr_t dispatch(AEffect* effect, int32_t opcode, int32_t index,
                  intptr_t value, float opt) {
  return effect->dispatcher(effect, opcode, index, value, nullptr, opt);
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

const LV2_URID_Map* findMap(const LV2_Feature* const* features) {
  for (; features != nullptr && *features != nullptr; ++features) {
    const char* uri = (*features)->URI;
    if (uri != nullptr && std::strcmp(uri, LV2_URID__map) == 0) {
      return static_cast<const LV2_URID_Map*>((*features)->data);
    }
  }
  return nullptr;
}
}  // namespace

Instance* Instance::create(double rate, const LV2_Feature* const* features) {
  if (!(rate >= kLowestRate && rate <= kHighestRate)) return nullptr;
  Instance* instance = new (std::nothrow) Instance(rate, findMap(features));
  if (instance != nullptr && instance->effect_ == nullptr) {
    delete instance;
    return nullptr;
  }
  return instance;
}

Instance::Instance(double rate, const LV2_URID_Map* map)
    : rate_(rate), seed_(static_cast<uint32_t>(std::time(nullptr))) {
  uris_.map(map);
  for (int32_t i = 0; i < Param::kCount; ++i) {
    forwarded_[i] = kSettingRanges[i].initial;
  }
  time_.sampleRate = rate;
  time_.flags = TimeFlag::kTempoValid;
  effect_ = newEffect();
}

Instance::~Instance() {
  if (effect_ != nullptr) dispatch(effect_, EffectOpcode::kClose, 0, 0, 0.0f);
}

// The effect is told the rate as a VST 2 host tells it, and seeded with the
// seed call: with the seed last set, or the one this instance drew from the
// clock, as the effect itself would have.
AEffect* Instance::newEffect() {
  AEffect* effect = createEffectInstance(&Instance::hostCallback);
  if (effect == nullptr) return nullptr;
  effect->user = this;
  dispatch(effect, EffectOpcode::kSetSampleRate, 0, 0,
           static_cast<float>(rate_));
  // Adopted here, so that memory short for the rate's buffers fails the
  // instance instead of leaving it at 44.1 kHz.
  dispatch(effect, EffectOpcode::kSuspendResume, 0, 1, 0.0f);
  dispatch(effect, EffectOpcode::kSuspendResume, 0, 0, 0.0f);
  if (adoptedSampleRate(effect) != static_cast<int32_t>(rate_)) {
    dispatch(effect, EffectOpcode::kClose, 0, 0, 0.0f);
    return nullptr;
  }
  dispatch(effect, seedExtension::kOpcode, seedExtension::kIndex,
           static_cast<intptr_t>(seed_), 0.0f);
  ranSinceNewEffect_ = false;
  return effect;
}

// The effect's thread: version at creation (with no record yet), the tempo
// while processing. A host that has sent no tempo answers no time record,
// and the effect then takes 120 bpm; so does a tempo that is not a positive
// number, which the effect judges itself.
intptr_t Instance::hostCallback(AEffect* effect, int32_t opcode, int32_t,
                                intptr_t, void*, float) {
  if (opcode == HostOpcode::kVersion) return kHostVersion;
  if (opcode != HostOpcode::kGetTime || effect == nullptr) return 0;
  const Instance* self = static_cast<const Instance*>(effect->user);
  if (self == nullptr || !self->tempoKnown_) return 0;
  return reinterpret_cast<intptr_t>(&self->time_);
}

void Instance::connect(uint32_t port, void* data) {
  if (port < Port::kFirstSetting) {
    audio_[port] = static_cast<float*>(data);
  } else if (port < Port::kControl) {
    settings_[port - Port::kFirstSetting] = static_cast<const float*>(data);
  } else if (port == Port::kControl) {
    control_ = static_cast<const LV2_Atom_Sequence*>(data);
  }
}

// A new effect takes the ports' values again as values set before audio.
// Should it fail to come, the old one goes on.
void Instance::activate() {
  if (activated_ && ranSinceNewEffect_) {
    if (AEffect* fresh = newEffect()) {
      dispatch(effect_, EffectOpcode::kClose, 0, 0, 0.0f);
      effect_ = fresh;
      for (int32_t i = 0; i < Param::kCount; ++i) {
        forwarded_[i] = kSettingRanges[i].initial;
      }
    }
  }
  activated_ = true;
  dispatch(effect_, EffectOpcode::kSuspendResume, 0, 1, 0.0f);
}

void Instance::deactivate() {
  dispatch(effect_, EffectOpcode::kSuspendResume, 0, 0, 0.0f);
}

void Instance::applySeed(uint32_t seed) {
  seed_ = seed;
  dispatch(effect_, seedExtension::kOpcode, seedExtension::kIndex,
           static_cast<intptr_t>(seed), 0.0f);
}

void Instance::run(uint32_t frames) {
  forwardSettings();
  for (const float* port : audio_) {
    if (port == nullptr) return;  // nothing to read or nowhere to write
  }
  uint32_t done = 0;
  ControlReader reader(control_, uris_);
  ControlMessage message;
  while (reader.next(message)) {
    const int64_t at = std::clamp<int64_t>(message.frame, done, frames);
    process(done, static_cast<uint32_t>(at));
    done = static_cast<uint32_t>(at);
    if (message.kind == ControlMessage::kTempo) {
      time_.tempo = message.tempo;
      tempoKnown_ = true;
    } else {
      applySeed(message.seed);
    }
  }
  process(done, frames);
}

// A port in units is turned into the normalised value that gives the same
// field; out-of-range, NaN and infinite values go to the effect as they
// come, and it clamps them as it clamps a VST 2 host's.
void Instance::forwardSettings() {
  for (int32_t i = 0; i < Param::kCount; ++i) {
    if (settings_[i] == nullptr) continue;
    const float value = *settings_[i];
    if (sameBits(value, forwarded_[i])) continue;
    forwarded_[i] = value;
    const SettingRange& range = kSettingRanges[i];
    const float normalised =
        kSettingPorts[i].inUnits
            ? static_cast<float>((double(value) - range.minimum) /
                                 (double(range.maximum) - range.minimum))
            : value;
    effect_->setParameter(effect_, i, normalised);
  }
}

void Instance::process(uint32_t from, uint32_t to) {
  while (from < to) {
    const uint32_t frames = std::min(to - from, kMostFramesPerCall);
    float* inputs[2] = {audio_[Port::kInLeft] + from,
                        audio_[Port::kInRight] + from};
    float* outputs[2] = {audio_[Port::kOutLeft] + from,
                         audio_[Port::kOutRight] + from};
    effect_->processReplacing(effect_, inputs, outputs,
                              static_cast<int32_t>(frames));
    ranSinceNewEffect_ = true;
    from += frames;
  }
}

LV2_State_Status Instance::save(LV2_State_Store_Function store,
                                LV2_State_Handle handle) const {
  if (!uris_.mapped()) return LV2_STATE_ERR_NO_FEATURE;
  const int64_t seed = seed_;
  return store(handle, uris_.seed, &seed, sizeof seed, uris_.atomLong,
               LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

// A saved seed of another type or size is ignored; a state without one
// keeps the seed in force.
LV2_State_Status Instance::restore(LV2_State_Retrieve_Function retrieve,
                                   LV2_State_Handle handle) {
  if (!uris_.mapped()) return LV2_STATE_ERR_NO_FEATURE;
  size_t size = 0;
  uint32_t type = 0, flags = 0;
  const void* data = retrieve(handle, uris_.seed, &size, &type, &flags);
  if (data == nullptr) return LV2_STATE_SUCCESS;
  int64_t seed = 0;
  if (type == uris_.atomLong && size == sizeof(int64_t)) {
    std::memcpy(&seed, data, sizeof(int64_t));
  } else if (type == uris_.atomInt && size == sizeof(int32_t)) {
    int32_t value;
    std::memcpy(&value, data, sizeof value);
    seed = value;
  } else {
    return LV2_STATE_ERR_BAD_TYPE;
  }
  applySeed(static_cast<uint32_t>(seed));
  return LV2_STATE_SUCCESS;
}

}  // namespace lv2face
