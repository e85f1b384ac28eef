// `korvane demo`: a synthesised loop rendered with settings that show the
// effect off.
#pragma once

#include <ostream>
#include <string>

namespace korvane {

// Writes the loop, the settings and two renders (the grains alone, and the
// grains over the dry loop) into `dir`, and reports on `out`.
void runDemo(const std::string& dir, const std::string& plugin,
             std::ostream& out);

}  // namespace korvane
