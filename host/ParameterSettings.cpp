// Parsing NAME=VALUE settings and matching them to parameter names.
#include "ParameterSettings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "HostError.h"
#include "ParameterUnits.h"
#include "PluginInstance.h"
#include "Text.h"
#include "Warnings.h"
#include "opcodes.h"

namespace korvane {

namespace {

constexpr std::size_t kMaxFileBytes = 1024 * 1024;
constexpr std::size_t kMaxLineBytes = 4096;
constexpr const char kByteOrderMark[] = "\xEF\xBB\xBF";

// Splits at the first '=' and checks the value; `origin` prefixes errors.
Setting parseAssignment(const std::string& text, const std::string& origin) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) {
    throw usageError(origin + "expected NAME=VALUE, got \"" + text + "\"");
  }
  Setting setting{trim(text.substr(0, equals)), 0.0f, origin, std::nullopt, ""};
  if (setting.name.empty()) {
    throw usageError(origin + "no parameter name before '=' in \"" + text +
                     "\"");
  }
  const std::string valueText = trim(text.substr(equals + 1));
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(valueText.c_str(), &end);
  if (valueText.empty() || end == valueText.c_str() || errno == ERANGE ||
      !std::isfinite(value)) {
    throw usageError(origin + "value of \"" + setting.name +
                     "\" is not a number: \"" + valueText + "\"");
  }
  if (*end != '\0') {
    // A number in the plug-in's unit, checked against it when resolved.
    setting.number = value;
    setting.unit = trim(end);
    return setting;
  }
  if (value < 0.0 || value > 1.0) {
    // Refused once the parameter's unit is known, naming the way to write
    // the number in it when the parameter shows it.
    setting.number = value;
    return setting;
  }
  setting.value = static_cast<float>(value);
  return setting;
}

}  // namespace

Setting parseSetting(const std::string& text) {
  return parseAssignment(text, "--set: ");
}

std::vector<Setting> readParamsFile(const std::string& file) {
  const bool standardInput = file == "-";
  const std::string path = standardInput ? "standard input" : file;
  const auto cannotRead = [&path](const std::string& reason) {
    return failure("cannot read parameter file " + path + ": " + reason);
  };
  const int fd = standardInput ? dup(STDIN_FILENO)
                               : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw cannotRead(std::strerror(errno));
  // One byte past the limit tells an oversized file (or an endless one).
  std::string text(kMaxFileBytes + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = read(fd, &text[got], text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      throw cannotRead(std::strerror(error));
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  text.resize(got);
  if (text.size() > kMaxFileBytes) {
    throw usageError(path + ": larger than 1 MiB; not a parameter file");
  }
  if (text.compare(0, 3, kByteOrderMark) == 0) text.erase(0, 3);

  std::vector<Setting> settings;
  std::map<std::string, int> firstLine;  // normalised name -> line
  int number = 1;
  for (std::size_t start = 0; start < text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    if (line.size() > kMaxLineBytes) {
      throw usageError(where + "line longer than 4 KiB");
    }
    if (line.find('\0') != std::string::npos) {
      throw usageError(where + "NUL byte; not a text file");
    }
    const std::string content = trim(line.substr(0, line.find('#')));
    if (content.empty()) continue;
    settings.push_back(parseAssignment(content, where));
    const std::string name = normaliseParameterName(settings.back().name);
    const auto [seen, added] = firstLine.emplace(name, number);
    if (!added) {
      warn(path + ":" + std::to_string(number) + ": \"" + settings.back().name +
           "\" is also set on line " + std::to_string(seen->second) +
           "; line " + std::to_string(number) + " wins");
    }
  }
  return settings;
}

bool needsScratch(const std::vector<Setting>& settings) {
  for (const Setting& setting : settings) {
    if (setting.number) return true;
  }
  return false;
}

std::string normaliseParameterName(const std::string& name) {
  std::string result = trim(name);
  for (char& c : result) {
    if (c == '-' || c == '_') {
      c = ' ';
    } else {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return result;
}

namespace {

std::string shortNumber(double number) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", number);
  return text;
}

// A plain number outside 0..1, and how to write it in the parameter's unit
// when the parameter shows it.
HostError notNormalised(const Setting& setting, int32_t index,
                        const std::string& label,
                        const PluginInstance& scratch) {
  const std::string number = shortNumber(*setting.number);
  std::string message = setting.origin + "value of \"" + setting.name +
                        "\" is " + number +
                        "; values are normalised, from 0 to 1";
  if (valueShowing(scratch, index, *setting.number)) {
    message += ", or a number in the parameter's unit with a suffix: for " +
               number + (label.empty() ? "" : " " + label) + " write " +
               setting.name + "=" + number + unitSuffix(label);
  }
  return usageError(message);
}

// The normalised value a setting in the plug-in's unit stands for.
float valueInUnits(const Setting& setting, int32_t index,
                   const PluginInstance& plugin,
                   const PluginInstance& scratch) {
  const std::string label =
      trim(plugin.text(EffectOpcode::kGetParameterLabel, index));
  if (setting.unit.empty()) throw notNormalised(setting, index, label, scratch);
  if (!unitMatches(setting.unit, label)) {
    throw usageError(setting.origin + "\"" + setting.name +
                     "\" has no unit \"" + setting.unit +
                     "\"; give a normalised value, or a number followed by " +
                     (label.empty() ? "" : "\"" + label + "\" or ") + "\"u\"");
  }
  if (const std::optional<float> value =
          valueShowing(scratch, index, *setting.number)) {
    return *value;
  }
  const std::string unit = label.empty() ? "" : " " + label;
  if (const std::optional<Neighbours> near =
          neighboursOf(scratch, index, *setting.number)) {
    throw usageError(setting.origin + "no value of \"" + setting.name +
                     "\" shows " + shortNumber(*setting.number) + " " +
                     setting.unit +
                     "; it moves in steps, and the nearest are " + near->below +
                     " and " + near->above + unit);
  }
  const DisplayRange range = displayRange(scratch, index);
  throw usageError(setting.origin + "no value of \"" + setting.name +
                   "\" shows " + shortNumber(*setting.number) + " " +
                   setting.unit + "; it ranges from " + range.atZero + " to " +
                   range.atOne + (label.empty() ? "" : " " + label));
}

}  // namespace

std::vector<ParameterValue> resolveSettings(
    const std::vector<Setting>& settings, const PluginInstance& plugin,
    PluginInstance* scratch) {
  const int32_t count = plugin.effect().numParams;
  std::vector<std::string> names;
  for (int32_t i = 0; i < count; ++i) {
    names.push_back(plugin.parameterName(i));
  }
  std::vector<int32_t> indexes;
  for (const Setting& setting : settings) {
    const std::string wanted = normaliseParameterName(setting.name);
    int32_t found = -1;
    for (int32_t i = 0; i < count && found < 0; ++i) {
      if (normaliseParameterName(names[static_cast<std::size_t>(i)]) ==
          wanted) {
        found = i;
      }
    }
    if (found < 0) {
      std::string valid;
      for (const std::string& name : names) {
        valid += (valid.empty() ? "\"" : ", \"") + name + "\"";
      }
      throw usageError(setting.origin + "unknown parameter \"" + setting.name +
                       "\"; valid names: " + (valid.empty() ? "none" : valid));
    }
    indexes.push_back(found);
  }

  // Values in the plug-in's units are searched on the scratch instance as a
  // render will use them: every setting is applied there in turn, each
  // followed by one processed sample, so that a plug-in which counts a
  // setting in samples of a loop derived from other settings and the tempo
  // (korvane's "pos" in samples of the loop that "bsize" gives) shows the
  // counts of the render's loop. A second pass searches again with every
  // setting in force, so that their order does not matter.
  // In the first pass a value that the settings after it would make
  // reachable is passed over; only the last pass refuses it.
  const int passes = scratch != nullptr ? 2 : 1;
  if (scratch != nullptr) scratch->processFirstSample();
  std::vector<ParameterValue> values;
  for (int pass = 0; pass < passes; ++pass) {
    const bool lastPass = pass == passes - 1;
    values.clear();
    for (std::size_t k = 0; k < settings.size(); ++k) {
      const Setting& setting = settings[k];
      float value = setting.value;
      if (setting.number) {
        try {
          value = valueInUnits(setting, indexes[k], plugin, *scratch);
        } catch (const HostError&) {
          if (lastPass) throw;
          continue;
        }
      }
      if (scratch != nullptr) {
        AEffect& effect = scratch->effect();
        effect.setParameter(&effect, indexes[k], value);
        scratch->processFirstSample();
      }
      values.push_back({indexes[k], value});
    }
  }
  return values;
}

void applySettings(const std::vector<ParameterValue>& values,
                   const PluginInstance& plugin) {
  AEffect& effect = plugin.effect();
  for (const ParameterValue& v : values) {
    effect.setParameter(&effect, v.index, v.value);
  }
}

}  // namespace korvane
