// Searching a parameter's range for the value its display shows.
#include "ParameterUnits.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "PluginInstance.h"
#include "Text.h"
#include "opcodes.h"

namespace korvane {

namespace {

// Points of the first pass over 0..1: fine enough to land inside every step
// of a parameter with up to this many steps.
constexpr int kGridPoints = 1024;
constexpr int kBisections = 64;
// The suffix that stands for any parameter's own unit.
constexpr const char* kAnyUnit = "u";

struct UnitAlias {
  const char* suffix;
  const char* label;
};
constexpr UnitAlias kUnitAliases[] = {
    {"st", "semitones"},    {"semitone", "semitones"}, {"/16", "1/16"},
    {"sixteenths", "1/16"}, {"smp", "samples"},        {"sample", "samples"},
};

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string displayAt(const PluginInstance& scratch, int32_t index,
                      float value) {
  AEffect& effect = scratch.effect();
  effect.setParameter(&effect, index, value);
  return trim(scratch.text(EffectOpcode::kGetParameterDisplay, index));
}

// The number a display text shows, when it is one.
std::optional<double> shownNumber(const PluginInstance& scratch, int32_t index,
                                  float value) {
  const std::string text = displayAt(scratch, index, value);
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0') return std::nullopt;
  return number;
}

// The display's numbers at the grid's points over 0..1.
std::vector<std::optional<double>> gridOf(const PluginInstance& scratch,
                                          int32_t index) {
  std::vector<std::optional<double>> grid(kGridPoints + 1);
  for (int i = 0; i <= kGridPoints; ++i) {
    grid[i] = shownNumber(scratch, index, static_cast<float>(i) / kGridPoints);
  }
  return grid;
}

// True when `number` lies between the numbers shown at grid points i and
// i + 1 (or is the one at i + 1).
bool crossesAt(const std::vector<std::optional<double>>& grid, int i,
               double number) {
  return grid[i] && grid[i + 1] &&
         (*grid[i] < number) != (*grid[i + 1] < number);
}

// Bisects between grid points i and i + 1, which lie on either side of
// `number`: the value that shows it, if one does; else `low` and `high`
// end as the neighbouring values shown on either side of it.
std::optional<float> bisect(const PluginInstance& scratch, int32_t index,
                            double number, int i, float& low, float& high) {
  low = static_cast<float>(i) / kGridPoints;
  high = static_cast<float>(i + 1) / kGridPoints;
  const std::optional<double> atLow = shownNumber(scratch, index, low);
  const bool lowIsBelow = atLow && *atLow < number;
  for (int step = 0; step < kBisections; ++step) {
    const float middle = low + (high - low) / 2.0f;
    if (middle == low || middle == high) break;
    const std::optional<double> shown = shownNumber(scratch, index, middle);
    if (!shown) break;
    if (*shown == number) return middle;
    ((*shown < number) == lowIsBelow ? low : high) = middle;
  }
  return std::nullopt;
}

}  // namespace

DisplayRange displayRange(const PluginInstance& scratch, int32_t index) {
  return {displayAt(scratch, index, 0.0f), displayAt(scratch, index, 1.0f)};
}

std::optional<float> valueShowing(const PluginInstance& scratch, int32_t index,
                                  double number) {
  const auto shows = [&](float v) {
    const std::optional<double> shown = shownNumber(scratch, index, v);
    return shown.has_value() && *shown == number;
  };
  const std::vector<std::optional<double>> grid = gridOf(scratch, index);
  const auto gridShows = [&](int i) {
    return grid[i].has_value() && *grid[i] == number;
  };
  // A step of a stepped parameter: the middle of the points that show it.
  for (int i = 0; i <= kGridPoints; ++i) {
    if (!gridShows(i)) continue;
    int last = i;
    while (last < kGridPoints && gridShows(last + 1)) ++last;
    const float middle = static_cast<float>(i + last) / (2.0f * kGridPoints);
    return shows(middle) ? middle : static_cast<float>(i) / kGridPoints;
  }
  // A finer value between two points on either side of the number.
  for (int i = 0; i < kGridPoints; ++i) {
    if (!crossesAt(grid, i, number)) continue;
    float low = 0.0f;
    float high = 0.0f;
    if (const std::optional<float> value =
            bisect(scratch, index, number, i, low, high)) {
      return value;
    }
  }
  return std::nullopt;
}

std::optional<Neighbours> neighboursOf(const PluginInstance& scratch,
                                       int32_t index, double number) {
  const std::vector<std::optional<double>> grid = gridOf(scratch, index);
  for (int i = 0; i < kGridPoints; ++i) {
    if (!crossesAt(grid, i, number)) continue;
    // Down to the two adjacent values on either side: every step between
    // the grid's points counts, not only those the grid lands on.
    float low = 0.0f;
    float high = 0.0f;
    bisect(scratch, index, number, i, low, high);
    std::string below = displayAt(scratch, index, low);
    std::string above = displayAt(scratch, index, high);
    if (*grid[i] > number) std::swap(below, above);
    return Neighbours{below, above};
  }
  return std::nullopt;
}

std::string unitSuffix(const std::string& label) {
  const std::string unit = lowerCase(trim(label));
  for (const UnitAlias& alias : kUnitAliases) {
    if (unit == alias.label) return alias.suffix;
  }
  return unit.empty() || unit.find(' ') != std::string::npos ? kAnyUnit : unit;
}

bool unitMatches(const std::string& suffix, const std::string& label) {
  const std::string wanted = lowerCase(trim(suffix));
  const std::string unit = lowerCase(trim(label));
  if (wanted == kAnyUnit || (!unit.empty() && wanted == unit)) return true;
  for (const UnitAlias& alias : kUnitAliases) {
    if (wanted == alias.suffix && unit == alias.label) return true;
  }
  return false;
}

}  // namespace korvane
