// `korvane info`: what a host sees of a plug-in instance.
#pragma once

#include <ostream>
#include <string>

#include "CommandLine.h"

namespace korvane {

class PluginInstance;

// Adds `info` to the tool.
Command addInfoCommand(CLI::App& app);

// Prints what a host sees of `plugin`; each parameter's range is read from
// `scratch`, an instance of the same plug-in that exists to be changed.
void printInfo(const PluginInstance& plugin, const PluginInstance& scratch,
               const std::string& path, std::ostream& out);

}  // namespace korvane
