// Parameter settings from --set and --params, matched to a plug-in's names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

class PluginInstance;

// One NAME=VALUE request as the user wrote it; `origin` says where, for
// error messages.
struct Setting {
  std::string name;
  float value;
  std::string origin;
};

// "NAME=VALUE" from the command line. Throws a usage error (exit 2) when the
// text has no '=', or the value is not a number from 0 to 1.
Setting parseSetting(const std::string& text);

// `NAME = VALUE` lines, '#' starting a comment, blank lines ignored.
// Throws exit 1 when the file cannot be read, exit 2 for a bad line.
std::vector<Setting> readParamsFile(const std::string& path);

// A name as matched: lower case, '-' and '_' read as spaces, outer blanks
// dropped.
std::string normaliseParameterName(const std::string& name);

// A setting resolved to the plug-in's parameter index.
struct ParameterValue {
  int32_t index;
  float value;
};

// Resolves every setting against the plug-in's parameter names, in order
// (a later setting of the same parameter wins when applied). Throws a usage
// error listing the valid names when one is unknown.
std::vector<ParameterValue> resolveSettings(
    const std::vector<Setting>& settings, const PluginInstance& plugin);

void applySettings(const std::vector<ParameterValue>& values,
                   const PluginInstance& plugin);

}  // namespace korvane
