// One korvane instance as an LV2 host sees it: the effect's plug-in record
// driven the way a VST 2 host drives korvane.so, with an internal host
// callback that answers the tempo from the control port's time positions.
#pragma once

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>

#include <cstdint>

#include "AEffect.h"
#include "Uris.h"
#include "portLayout.h"
#include "timeRecord.h"

namespace lv2face {

class Instance {
 public:
  // The sample rates an instance takes; any other fails instantiation.
  static constexpr double kLowestRate = 8000.0;
  static constexpr double kHighestRate = 384000.0;

  // host's main thread (instantiation class): null for a rate outside the
  // range, or when memory is short.
  static Instance* create(double rate, const LV2_Feature* const* features);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  // audio thread or main thread, as the host connects ports; keeps the
  // address only.
  void connect(uint32_t port, void* data);
  // host's main thread (instantiation class). A second activation after a
  // run starts from a new effect: LV2 asks activate to forget the history.
  void activate();
  void deactivate();
  // audio thread: forwards the settings that changed since the last run,
  // then processes the block, split where control messages fall.
  void run(uint32_t frames);

  // host's main thread (instantiation class): the seed as state.
  LV2_State_Status save(LV2_State_Store_Function store,
                        LV2_State_Handle handle) const;
  LV2_State_Status restore(LV2_State_Retrieve_Function retrieve,
                           LV2_State_Handle handle);

 private:
  Instance(double rate, const LV2_URID_Map* map);

  static intptr_t hostCallback(AEffect* effect, int32_t opcode, int32_t index,
                               intptr_t value, void* ptr, float opt);
  // host's main thread: a new effect at this instance's rate and seed, or
  // null.
  AEffect* newEffect();
  void applySeed(uint32_t seed);
  // audio thread.
  void forwardSettings();
  void process(uint32_t from, uint32_t to);

  AEffect* effect_ = nullptr;
  double rate_;
  Uris uris_;
  uint32_t seed_;

  float* audio_[4] = {};
  const float* settings_[Param::kCount] = {};
  const LV2_Atom_Sequence* control_ = nullptr;

  // The last value of each setting port, as the port carried it; a port
  // that still carries its initial value has never been forwarded, so that
  // its field is a new effect's.
  float forwarded_[Param::kCount];
  // The time record the callback answers; null until a tempo arrives.
  VstTimeInfo time_ = {};
  bool tempoKnown_ = false;
  bool activated_ = false;
  bool ranSinceNewEffect_ = false;
};

}  // namespace lv2face
