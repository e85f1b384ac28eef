// Parameter values in the plug-in's own units: the display texts at the
// ends of a parameter's range, and the normalised value that shows a number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvane {

class PluginInstance;

// The display texts at 0 and at 1, trimmed. Sets the parameter of
// `scratch`, an instance that exists to be changed.
struct DisplayRange {
  std::string atZero;
  std::string atOne;
};
DisplayRange displayRange(const PluginInstance& scratch, int32_t index);

// The normalised value whose display text shows `number` (as a number, so
// "12" matches "12.000"), searched on `scratch`: the middle of the values
// that show it where several do, else one found by bisection where the
// display moves past it. nullopt when no value shows it.
std::optional<float> valueShowing(const PluginInstance& scratch, int32_t index,
                                  double number);

// The display texts of the nearest values shown below and above `number`,
// when it lies between two values the parameter shows but none shows it
// (a parameter that moves in steps); nullopt when it lies outside the
// range. Searched on `scratch` as valueShowing() does.
struct Neighbours {
  std::string below;
  std::string above;
};
std::optional<Neighbours> neighboursOf(const PluginInstance& scratch,
                                       int32_t index, double number);

// The shortest suffix that names the unit of a parameter labelled `label`
// ("st" for semitones, "u" for a parameter without a label).
std::string unitSuffix(const std::string& label);

// True when `suffix` names the unit of a parameter labelled `label`: the
// label itself in any case, "u" for any parameter, or a short form ("st"
// for semitones, "/16" for sixteenths, "smp" for samples).
bool unitMatches(const std::string& suffix, const std::string& label);

}  // namespace korvane
