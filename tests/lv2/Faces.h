// korvane's two faces driven by one scripted host session: korvane.so through
// its `main` and record, as a VST 2 host drives it, and the korvane.lv2
// binary through `lv2_descriptor`, as an LV2 host drives it. Each renders
// the session's input and answers its output, interleaved.
#pragma once

#include <cstdint>
#include <vector>

// One thing the host does at a frame. Settings change at block starts (the
// LV2 face reads its ports once per run); tempo and seed anywhere, as time
// positions and patch:Set messages in LV2.
struct Action {
  enum Kind { kSetting, kTempo, kSeed };
  Kind kind;
  int64_t frame;
  int32_t index = 0;     // setting
  float port = 0;        // the LV2 port's value
  float normalised = 0;  // the VST 2 value for the same setting
  double tempo = 0;      // beats per minute
  int64_t seed = 0;
};

inline Action setting(int64_t frame, int32_t index, float port,
                      double normalised) {
  return {Action::kSetting, frame, index, port, static_cast<float>(normalised)};
}
inline Action tempo(int64_t frame, double bpm) {
  return {Action::kTempo, frame, 0, 0, 0, bpm};
}
inline Action seed(int64_t frame, int64_t value) {
  return {Action::kSeed, frame, 0, 0, 0, 0, value};
}

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
  int64_t stateSeed = -1;         // restored as state before activation, and
                                  // expected back from a save at the end
  bool reactivate = false;        // renders twice, deactivating and activating
                                  // between; answers the second render
  int* runAllocations = nullptr;  // adds the heap allocations of `run`
};

std::vector<float> renderVst2(const Session& session);
std::vector<float> renderLv2(const Session& session,
                             const Lv2Quirks& quirks = {});
// Whether the LV2 binary instantiates at `rate`.
bool lv2Instantiates(double rate);

// Hand-made atoms, as 32-bit words: a time position event whose tempo value
// has the given size, type and bits; a patch:Set of the seed; and a control
// port's bytes holding `events` (its size from them unless given).
uint32_t lv2Urid(const char* uri);
std::vector<uint32_t> position(int64_t frame, uint32_t size, const char* type,
                               uint64_t value);
std::vector<uint32_t> seedSet(int64_t frame, int64_t seed);
std::vector<uint8_t> sequence(const std::vector<uint32_t>& events,
                              const char* type = nullptr, uint32_t unit = 0,
                              int64_t size = -1);
