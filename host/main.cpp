// The korvane command-line host: info, render and demo.
#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "Demo.h"
#include "FirstSample.h"
#include "HostCallback.h"
#include "HostError.h"
#include "Info.h"
#include "ParameterSettings.h"
#include "PluginLoader.h"
#include "RenderCommand.h"

namespace {

using namespace korvane;

constexpr int32_t kMinBlock = 1;
constexpr int32_t kMaxBlock = 8192;
constexpr double kMinTempo = 1.0;
constexpr double kMaxTempo = 1000.0;
constexpr double kMaxTailSeconds = 3600.0;

// Options shared by the commands that set parameters.
struct SettingOptions {
  std::vector<std::string> sets;
  std::string paramsFile;

  void addTo(CLI::App& command) {
    command
        .add_option("--set", sets,
                    "Set a parameter: NAME as the plug-in names it (any case, "
                    "'-' or '_' for spaces), VALUE normalised 0..1; repeatable")
        ->type_name("NAME=VALUE")
        // One NAME=VALUE per --set, so that IN and OUT may follow it.
        ->allow_extra_args(false);
    command
        .add_option("--params", paramsFile,
                    "Read NAME = VALUE lines ('#' comments) before --set")
        ->type_name("FILE");
  }

  // The file's settings first, then the command line's.
  std::vector<Setting> collect() const {
    std::vector<Setting> settings;
    if (!paramsFile.empty()) settings = readParamsFile(paramsFile);
    for (const std::string& text : sets) settings.push_back(parseSetting(text));
    return settings;
  }
};

std::optional<double> parseTempo(const std::string& text) {
  if (text == "none") return std::nullopt;
  std::size_t used = 0;
  double tempo = 0.0;
  try {
    tempo = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !(tempo >= kMinTempo) ||
      !(tempo <= kMaxTempo)) {
    throw usageError(
        "--tempo takes beats per minute from 1 to 1000, or "
        "\"none\"; got \"" +
        text + "\"");
  }
  return tempo;
}

void checkRenderRequest(const RenderRequest& request) {
  if (request.blockSize < kMinBlock || request.blockSize > kMaxBlock) {
    throw usageError("--block takes 1 to 8192 samples; got " +
                     std::to_string(request.blockSize));
  }
  if (!(request.tailSeconds >= 0.0) || request.tailSeconds > kMaxTailSeconds) {
    throw usageError("--tail takes 0 to 3600 seconds");
  }
}

// The instance is shown as a render at `tempo` starts: settings applied,
// then the first sample processed (in silence).
void runInfo(const std::string& pluginOption,
             const std::vector<Setting>& settings,
             std::optional<double> tempo) {
  const std::string path =
      pluginOption.empty() ? defaultPluginPath() : pluginOption;
  PluginLibrary library(path);
  HostContext context(tempo);
  PluginInstance plugin(library, context);
  applySettings(resolveSettings(settings, plugin), plugin);
  processFirstSample(plugin);
  printInfo(plugin, path, std::cout);
}

// CLI11's messages, on one line.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"korvane: renders audio files through the korvane plug-in"};
  app.require_subcommand(1);

  std::string infoPlugin;
  SettingOptions infoSettings;
  CLI::App* info =
      app.add_subcommand("info", "Show what a host sees of the plug-in");
  info->add_option("--plugin", infoPlugin,
                   "Plug-in library (default: korvane.so beside this tool)")
      ->type_name("LIB");
  std::string infoTempoText = "120";
  info->add_option("--tempo", infoTempoText,
                   "Tempo of the render whose start to show, or \"none\" "
                   "(default 120)")
      ->type_name("BPM");
  infoSettings.addTo(*info);

  RenderRequest request;
  std::string tempoText = "120";
  SettingOptions renderSettings;
  CLI::App* render = app.add_subcommand(
      "render", "Stream IN through the plug-in block by block into OUT");
  render->add_option("IN", request.input, "Input audio file")->required();
  render
      ->add_option("OUT", request.output,
                   "Output file; IN's format unless its extension says "
                   "otherwise (wav, aif, aiff, flac, ogg)")
      ->required();
  render
      ->add_option("--plugin", request.plugin,
                   "Plug-in library (default: korvane.so beside this tool)")
      ->type_name("LIB");
  render
      ->add_option("--tempo", tempoText,
                   "Tempo the host reports, or \"none\" for no time "
                   "information (default 120)")
      ->type_name("BPM");
  render
      ->add_option("--block", request.blockSize,
                   "Samples per processing call, 1 to 8192 (default 512)")
      ->type_name("N");
  renderSettings.addTo(*render);
  render->add_flag("--dry", request.dry,
                   "Accumulate over the input, keeping the dry signal under "
                   "the effect");
  render
      ->add_option("--tail", request.tailSeconds,
                   "Seconds of silence rendered after the input (default 0)")
      ->type_name("SECONDS");

  std::string demoDir = "demo";
  std::string demoPlugin;
  CLI::App* demo = app.add_subcommand(
      "demo", "Synthesise a loop, render it through korvane, write both");
  demo->add_option("DIR", demoDir, "Where the files go (default demo/)");
  demo->add_option("--plugin", demoPlugin,
                   "Plug-in library (default: korvane.so beside this tool)")
      ->type_name("LIB");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    std::cerr << "korvane: " << oneLine(e.what()) << "\n";
    return kExitUsage;
  }

  try {
    if (info->parsed()) {
      runInfo(infoPlugin, infoSettings.collect(), parseTempo(infoTempoText));
    } else if (render->parsed()) {
      checkRenderRequest(request);
      request.tempo = parseTempo(tempoText);
      request.settings = renderSettings.collect();
      renderFile(request);
    } else if (demo->parsed()) {
      runDemo(demoDir, demoPlugin, std::cout);
    }
  } catch (const HostError& e) {
    std::cerr << "korvane: " << e.what() << "\n";
    return e.exitCode();
  } catch (const std::exception& e) {
    std::cerr << "korvane: " << e.what() << "\n";
    return kExitFailure;
  }
  return 0;
}
