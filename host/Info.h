// `korvane info`: what a host sees of a plug-in instance.
#pragma once

#include <ostream>
#include <string>

namespace korvane {

class PluginInstance;

void printInfo(const PluginInstance& plugin, const std::string& path,
               std::ostream& out);

}  // namespace korvane
