// Parameter settings from --set and --params, matched to a plug-in's names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvane {

class PluginInstance;

// One NAME=VALUE request as the user wrote it; `origin` says where, for
// error messages. VALUE is normalised, or a number in the parameter's own
// unit with a suffix naming it ("12st"), to be found on a scratch instance.
struct Setting {
  std::string name;
  float value;
  std::string origin;
  // Set for a value in the plug-in's unit, and for a plain number outside
  // 0..1, which is refused when resolved.
  std::optional<double> number;
  std::string unit;  // the suffix written after it; empty for a plain one
};

// "NAME=VALUE" from the command line. Throws a usage error (exit 2) when the
// text has no '=', or the value is not a number; one outside 0..1 without a
// unit suffix is refused by resolveSettings().
Setting parseSetting(const std::string& text);

// `NAME = VALUE` lines, '#' starting a comment, blank lines ignored, from
// `file` or, for "-", from standard input; a UTF-8 byte-order mark and CRLF
// line ends are fine. Throws exit 1 when the
// file cannot be read, exit 2 for a bad line, a NUL byte, a line over 4 KiB
// or a file over 1 MiB (read no further). Warns of a name set twice.
std::vector<Setting> readParamsFile(const std::string& file);

// True when a setting is in the plug-in's units and so needs a scratch
// instance to resolve.
bool needsScratch(const std::vector<Setting>& settings);

// A name as matched: lower case, '-' and '_' read as spaces, outer blanks
// dropped.
std::string normaliseParameterName(const std::string& name);

// A setting resolved to the plug-in's parameter index.
struct ParameterValue {
  int32_t index;
  float value;
};

// Resolves every setting against the plug-in's parameter names, in order
// (a later setting of the same parameter wins when applied). Values in the
// plug-in's units are searched on `scratch`, an instance set up as the
// real one, to which every value is applied in turn; it may be null when
// needsScratch() is false. Throws a usage error listing the valid names
// when one is unknown, the range when no value shows a number, and for a
// plain number outside 0..1 (naming its form in the unit, where it fits).
std::vector<ParameterValue> resolveSettings(
    const std::vector<Setting>& settings, const PluginInstance& plugin,
    PluginInstance* scratch);

void applySettings(const std::vector<ParameterValue>& values,
                   const PluginInstance& plugin);

}  // namespace korvane
