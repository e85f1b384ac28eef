// `korvane render`: one file through the plug-in, from paths to committed OUT.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Defaults.h"
#include "ParameterSettings.h"
#include "Renderer.h"

namespace korvane {

struct RenderRequest {
  std::string input;
  std::string output;
  std::string plugin;  // empty: the korvane library beside the tool
  std::optional<double> tempo = defaults::kTempo;  // nullopt: none
  int32_t blockSize = defaults::kBlockSize;
  std::vector<Setting> settings;  // applied in order, later ones win
  bool dry = false;
  double tailSeconds = 0.0;
  std::optional<uint32_t> seed;  // nullopt: the tool picks one
  std::optional<int> subtype;    // from --bits
  bool compensateDelay = true;
  bool force = false;  // replace a write-protected OUT
};

struct RenderResult {
  RenderSummary summary;
  int sampleRate = 0;
  uint32_t seed = 0;
  bool seedTaken = false;
  bool seedRequested = false;  // --seed was given
  std::string output;          // OUT as the user named it
};

// Adds `render` to the tool.
Command addRenderCommand(CLI::App& app);

// Checks the request against the files and the plug-in, renders, and moves
// OUT into place only when everything succeeded and OUT reads back whole.
// IN "-" is standard input; OUT "-" is refused. Throws HostError.
RenderResult renderFile(const RenderRequest& request);

// The summary line of a render, and the warnings it calls for (silence,
// clipping, a truncated IN, a seed not taken) printed on stderr; the line
// only unless `quiet`.
void reportRender(const RenderResult& result, bool quiet);

}  // namespace korvane
