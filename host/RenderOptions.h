// What one render takes: the command's options, read straight into this
// one struct and handed on as it is to the renderer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Defaults.h"
#include "ParameterSettings.h"

namespace korvane {

struct RenderOptions {
  std::string input;   // "-": standard input
  std::string output;  // OUT as the user named it
  std::string plugin;  // empty: the korvane library beside the tool
  std::optional<double> tempo = defaults::kTempo.byDefault;  // nullopt: none
  int32_t blockSize = defaults::kBlockSize;
  std::vector<Setting> settings;  // applied in order, later ones win
  // Accumulating `process` over outputs pre-filled with the input, so the
  // dry signal stays under the effect's.
  bool dry = false;
  double tailSeconds = defaults::kTail.byDefault;  // silence after IN
  std::optional<uint32_t> seed;  // nullopt: the tool picks one
  std::optional<int> subtype;    // from --bits; nullopt: IN's
  // Drop as many leading output frames as the plug-in reports as its delay,
  // and render as many more at the end, so that OUT lines up with IN.
  bool compensateDelay = true;
  bool force = false;  // replace a write-protected OUT
  bool quiet = false;  // no progress bar and no summary line
  // The factor --gain gives the plug-in's output, before --dry adds IN.
  double gain = 1.0;
  std::optional<double> quality;  // of a lossy OUT; nullopt: its default
};

}  // namespace korvane
