// `korvane render`: one file through the plug-in, from paths to committed OUT.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ParameterSettings.h"
#include "Renderer.h"

namespace korvane {

struct RenderRequest {
  std::string input;
  std::string output;
  std::string plugin;  // empty: the korvane library beside the tool
  std::optional<double> tempo = 120.0;  // nullopt: no time information
  int32_t blockSize = 512;
  std::vector<Setting> settings;  // applied in order, later ones win
  bool dry = false;
  double tailSeconds = 0.0;
};

// Checks the request against the files and the plug-in, renders, and moves
// OUT into place only when everything succeeded. Throws HostError.
RenderSummary renderFile(const RenderRequest& request);

}  // namespace korvane
