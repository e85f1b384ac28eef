// Parsing NAME=VALUE settings and matching them to parameter names.
#include "ParameterSettings.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "HostError.h"
#include "PluginLoader.h"
#include "Text.h"

namespace korvane {

namespace {

// Splits at the first '=' and checks the value; `origin` prefixes errors.
Setting parseAssignment(const std::string& text, const std::string& origin) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) {
    throw usageError(origin + "expected NAME=VALUE, got \"" + text + "\"");
  }
  Setting setting{trim(text.substr(0, equals)), 0.0f, origin};
  if (setting.name.empty()) {
    throw usageError(origin + "no parameter name before '=' in \"" + text +
                     "\"");
  }
  const std::string valueText = trim(text.substr(equals + 1));
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(valueText.c_str(), &end);
  if (valueText.empty() || *end != '\0' || errno == ERANGE ||
      !std::isfinite(value)) {
    throw usageError(origin + "value of \"" + setting.name +
                     "\" is not a number: \"" + valueText + "\"");
  }
  if (value < 0.0 || value > 1.0) {
    throw usageError(origin + "value of \"" + setting.name + "\" is " +
                     valueText + "; values are normalised, from 0 to 1");
  }
  setting.value = static_cast<float>(value);
  return setting;
}

}  // namespace

Setting parseSetting(const std::string& text) {
  return parseAssignment(text, "--set: ");
}

std::vector<Setting> readParamsFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw failure("cannot read parameter file " + path);
  std::vector<Setting> settings;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    const std::string content = trim(line.substr(0, line.find('#')));
    if (content.empty()) continue;
    settings.push_back(
        parseAssignment(content, path + ":" + std::to_string(number) + ": "));
  }
  if (file.bad()) throw failure("cannot read parameter file " + path);
  return settings;
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

std::vector<ParameterValue> resolveSettings(
    const std::vector<Setting>& settings, const PluginInstance& plugin) {
  const int32_t count = plugin.effect().numParams;
  std::vector<std::string> names;
  for (int32_t i = 0; i < count; ++i) {
    names.push_back(plugin.parameterName(i));
  }
  std::vector<ParameterValue> values;
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
    values.push_back({found, setting.value});
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
