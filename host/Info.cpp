// Prints the identity, record, capabilities and parameters of an instance.
#include "Info.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "Defaults.h"
#include "HostContext.h"
#include "ParameterSettings.h"
#include "ParameterUnits.h"
#include "PluginInstance.h"
#include "Text.h"
#include "opcodes.h"

namespace korvane {

namespace {

struct FlagName {
  int32_t bit;
  const char* name;
};

// Named after the setter an effect calls to raise each bit.
constexpr FlagName kFlagNames[] = {
    {EffectFlag::kHasClip, "hasClip"},
    {EffectFlag::kHasVu, "hasVu"},
    {EffectFlag::kCanMono, "canMono"},
    {EffectFlag::kCanReplacing, "canProcessReplacing"},
    {EffectFlag::kProgramChunks, "programsAreChunks"},
    {EffectFlag::kIsSynth, "isSynth"},
    {EffectFlag::kNoSoundInStop, "noTail"},
    {EffectFlag::kExtIsAsync, "wantAsyncOperation"},
    {EffectFlag::kExtHasBuffer, "hasExternalBuffer"},
};

// A few capability words a host commonly asks about.
constexpr const char* kCapabilityWords[] = {
    "receiveVstTimeInfo",
    "receiveVstEvents",
    "sendVstEvents",
    "2in2out",
    "bypass",
    "offline",
};

std::string categoryName(intptr_t category) {
  switch (category) {
    case 0:
      return "0 (unknown)";
    case 1:
      return "1 (effect)";
    case 2:
      return "2 (synth)";
    default:
      return std::to_string(category);
  }
}

std::string flagNames(int32_t flags) {
  std::ostringstream text;
  text << "0x" << std::hex << flags << std::dec;
  int32_t known = 0;
  for (const FlagName& flag : kFlagNames) {
    known |= flag.bit;
    if ((flags & flag.bit) != 0) text << ' ' << flag.name;
  }
  if ((flags & ~known) != 0) {
    text << " other:0x" << std::hex << (flags & ~known);
  }
  return text.str();
}

// The identifier's four characters, most significant byte first, or its
// hexadecimal value when they are not all printable.
std::string fourCharacters(int32_t id) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<unsigned char>(
        (static_cast<uint32_t>(id) >> shift) & 0xFFu);
    if (!std::isprint(c)) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", static_cast<uint32_t>(id));
      return hex;
    }
    text += static_cast<char>(c);
  }
  return text;
}

std::string canDoAnswer(intptr_t answer) {
  if (answer > 0) return "yes";
  if (answer < 0) return "no";
  return "no answer";
}

void printParameters(const PluginInstance& plugin,
                     const PluginInstance& scratch, std::ostream& out) {
  AEffect& effect = plugin.effect();
  struct Row {
    std::string name, label, value, display, range;
  };
  std::vector<Row> rows;
  std::size_t nameWidth = 4, labelWidth = 5, displayWidth = 7;
  for (int32_t i = 0; i < effect.numParams; ++i) {
    char value[32];
    std::snprintf(value, sizeof value, "%.6f",
                  static_cast<double>(effect.getParameter(&effect, i)));
    const DisplayRange range = displayRange(scratch, i);
    rows.push_back({plugin.parameterName(i),
                    plugin.text(EffectOpcode::kGetParameterLabel, i), value,
                    trim(plugin.text(EffectOpcode::kGetParameterDisplay, i)),
                    range.atZero + " .. " + range.atOne});
    nameWidth = std::max(nameWidth, rows.back().name.size());
    labelWidth = std::max(labelWidth, rows.back().label.size());
    displayWidth = std::max(displayWidth, rows.back().display.size());
  }
  out << std::left << std::setw(16) << "parameters:" << std::right
      << effect.numParams << "\n";
  if (rows.empty()) return;
  out << std::left << "  " << std::setw(5) << "index"
      << "  " << std::setw(static_cast<int>(nameWidth)) << "name"
      << "  " << std::setw(static_cast<int>(labelWidth)) << "label"
      << "  " << std::setw(10) << "value"
      << "  " << std::setw(static_cast<int>(displayWidth)) << "display"
      << "  range (display at 0 .. at 1)\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    out << "  " << std::setw(5) << i << "  "
        << std::setw(static_cast<int>(nameWidth)) << row.name << "  "
        << std::setw(static_cast<int>(labelWidth)) << row.label << "  "
        << std::setw(10) << row.value << "  "
        << std::setw(static_cast<int>(displayWidth)) << row.display << "  "
        << row.range << "\n";
  }
  out << std::right;
}

}  // namespace

void printInfo(const PluginInstance& plugin, const PluginInstance& scratch,
               const std::string& path, std::ostream& out) {
  AEffect& effect = plugin.effect();
  const auto line = [&out](const char* label, const std::string& value) {
    out << std::left << std::setw(16) << label << std::right << value << "\n";
  };
  line("plug-in:", path);
  line("effect name:", plugin.text(EffectOpcode::kGetEffectName));
  line("product:", plugin.text(EffectOpcode::kGetProductString));
  line("vendor:", plugin.text(EffectOpcode::kGetVendorString));
  line("vendor version:",
       std::to_string(plugin.dispatch(EffectOpcode::kGetVendorVersion)));
  line("unique id:", fourCharacters(effect.uniqueID) + " (" +
                         std::to_string(effect.uniqueID) + ")");
  line("inputs:", std::to_string(effect.numInputs));
  line("outputs:", std::to_string(effect.numOutputs));
  line("delay:", std::to_string(effect.initialDelay) + " samples");
  line("programs:",
       std::to_string(effect.numPrograms) + ", current " +
           std::to_string(plugin.dispatch(EffectOpcode::kGetProgram)) + " \"" +
           plugin.text(EffectOpcode::kGetProgramName) + "\"");
  line("flags:", flagNames(effect.flags));
  line("category:",
       categoryName(plugin.dispatch(EffectOpcode::kGetPlugCategory)));
  line("interface:",
       std::to_string(plugin.dispatch(EffectOpcode::kGetVstVersion)) +
           " (record version " + std::to_string(effect.version) + ")");
  out << "can do:\n";
  for (const char* word : kCapabilityWords) {
    std::string buffer = word;  // the plug-in gets a writable copy
    out << "  " << std::left << std::setw(20) << word << std::right
        << canDoAnswer(plugin.dispatch(EffectOpcode::kCanDo, 0, 0, &buffer[0]))
        << "\n";
  }
  printParameters(plugin, scratch, out);
}

namespace {
// The instance is shown as a render at `tempo` of a file at `rate` starts:
// the stream announced, the settings applied, then the first sample
// processed (in silence).
void runInfo(const std::string& pluginOption,
             const std::vector<Setting>& settings, std::optional<double> tempo,
             int32_t rate) {
  const std::string path =
      pluginOption.empty() ? defaultPluginPath() : pluginOption;
  PluginLibrary library(path);
  HostContext context(tempo);
  PluginInstance plugin(library, context);
  plugin.setStream(rate, defaults::kBlockSize);
  PluginInstance scratch(library, context);
  scratch.setStream(rate, defaults::kBlockSize);
  const std::vector<ParameterValue> values =
      resolveSettings(settings, plugin, &scratch);
  applySettings(values, plugin);
  plugin.processFirstSample();
  // The ranges come from an instance with the same settings and its first
  // sample processed, so that ranges a plug-in counts in samples of its loop
  // are those of the loop a render at this tempo uses.
  PluginInstance ranges(library, context);
  ranges.setStream(rate, defaults::kBlockSize);
  applySettings(values, ranges);
  ranges.processFirstSample();
  printInfo(plugin, ranges, path, std::cout);
}

struct InfoOptions {
  std::string plugin;
  std::string tempo =
      std::to_string(static_cast<int>(defaults::kTempo.byDefault));
  std::string rate = std::to_string(defaults::kInfoRate);
  SettingOptions settings;
};
}  // namespace

Command addInfoCommand(CLI::App& app) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* info =
      app.add_subcommand("info", "Show what a host sees of the plug-in");
  addPluginOption(*info, options->plugin);
  addNumericOption(*info, defaults::kTempo, options->tempo,
                   "Tempo of the render whose start to show");
  addNumericOption(*info, defaults::kRate, options->rate);
  options->settings.addTo(*info);
  return {info, [options] {
            runInfo(options->plugin, options->settings.collect(),
                    parseTempo(options->tempo), parseRate(options->rate));
          }};
}

}  // namespace korvane
