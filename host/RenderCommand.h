// `korvane render`: one file through the plug-in, from paths to committed OUT.
#pragma once

#include <cstdint>
#include <string>

#include "CommandLine.h"
#include "RenderOptions.h"
#include "Renderer.h"

namespace korvane {

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

// Checks the options against the files and the plug-in, renders, and moves
// OUT into place only when everything succeeded and OUT reads back whole.
// IN "-" is standard input; OUT "-" is refused. Throws HostError.
RenderResult renderFile(const RenderOptions& options);

// The summary line of a render, and the warnings it calls for (silence,
// clipping, a truncated IN, a seed not taken) printed on stderr; the line
// only unless `quiet`.
void reportRender(const RenderResult& result, bool quiet);

}  // namespace korvane
