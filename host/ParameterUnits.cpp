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
  std::vector<std::optional<double>> grid(kGridPoints + 1);
  for (int i = 0; i <= kGridPoints; ++i) {
    grid[i] = shownNumber(scratch, index, static_cast<float>(i) / kGridPoints);
  }
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
    if (!grid[i] || !grid[i + 1] ||
        (*grid[i] < number) == (*grid[i + 1] < number)) {
      continue;
    }
    const bool lowIsBelow = *grid[i] < number;
    float low = static_cast<float>(i) / kGridPoints;
    float high = static_cast<float>(i + 1) / kGridPoints;
    for (int step = 0; step < kBisections; ++step) {
      const float middle = low + (high - low) / 2.0f;
      if (middle == low || middle == high) break;
      const std::optional<double> shown = shownNumber(scratch, index, middle);
      if (!shown) break;
      if (*shown == number) return middle;
      ((*shown < number) == lowIsBelow ? low : high) = middle;
    }
  }
  return std::nullopt;
}

std::optional<Neighbours> neighboursOf(const PluginInstance& scratch,
                                       int32_t index, double number) {
  std::optional<double> below;
  std::optional<double> above;
  Neighbours texts;
  for (int i = 0; i <= kGridPoints; ++i) {
    const float value = static_cast<float>(i) / kGridPoints;
    const std::optional<double> shown = shownNumber(scratch, index, value);
    if (!shown) continue;
    if (*shown < number && (!below || *shown > *below)) {
      below = shown;
      texts.below = displayAt(scratch, index, value);
    }
    if (*shown > number && (!above || *shown < *above)) {
      above = shown;
      texts.above = displayAt(scratch, index, value);
    }
  }
  if (!below || !above) return std::nullopt;
  return texts;
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
