// korvane's two faces driven by one scripted host session: korvane.so through
// its `main` and record, as a VST 2 host drives it, and the korvane.lv2
// binary through `lv2_descriptor`, as an LV2 host drives it. Each renders
// the session's input and answers its output, interleaved.
#pragma once

#include <cstdint>
#include <vector>

// One thing the host does at a frame of the session. Settings change at
// block starts (the LV2 face takes port values once per run); tempo and
// seed anywhere, as time positions and patch:Set messages in LV2.
struct Action {
  enum Kind { kSetting, kTempo, kSeed };
  Kind kind;
  int64_t frame;
  int32_t index = 0;     // setting
  float port = 0;        // the LV2 port's value
  float normalised = 0;  // the VST 2 parameter's value for the same setting
  double tempo = 0;      // beats per minute
  int64_t seed = 0;
};

struct Session {
  double rate = 44100;
  uint32_t block = 512;
  int64_t frames = 0;
  std::vector<Action> actions;  // in frame order
};

// How the LV2 host departs from a well-behaved one.
struct Lv2Quirks {
  bool connectControl = true;     // the optional atom port
  bool mapFeature = true;         // urid:map offered
  bool inPlace = false;           // outputs are the input buffers
  std::vector<uint8_t> firstRun;  // the control port's bytes in the first
                                  // run, instead of the session's messages
  int64_t stateSeed = -1;         // a seed restored as state before activation
  bool reactivate = false;        // renders the session, deactivates and
                                  // activates, and answers the second render
  int* runAllocations = nullptr;  // counts the heap allocations in `run`
};

std::vector<float> renderVst2(const Session& session);
std::vector<float> renderLv2(const Session& session,
                             const Lv2Quirks& quirks = {});
// The URID the LV2 face's map gives `uri`, for hand-made atoms.
uint32_t lv2Urid(const char* uri);
// The seed an LV2 instance saves as state after `restored` was restored.
int64_t lv2SeedSavedAfter(int64_t restored);
// Whether the LV2 binary instantiates at `rate`.
bool lv2Instantiates(double rate);
