// `korvane demo`: a synthesised loop rendered with settings that show the
// effect off.
#pragma once

#include <ostream>
#include <string>

#include "CommandLine.h"

namespace korvane {

// Adds `demo` to the tool.
Command addDemoCommand(CLI::App& app);

// Writes the loop, the settings and two renders (the grains alone, and the
// grains over the dry loop) into `dir`, and reports on `out` with the
// commands that repeat them. An existing demo.params is used as it is
// unless `force`, which also lets the demo replace write-protected files of
// its own names.
void runDemo(const std::string& dir, const std::string& plugin, bool force,
             std::ostream& out);

}  // namespace korvane
