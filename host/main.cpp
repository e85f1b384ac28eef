// The korvane command-line host: info, render, demo and help.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Demo.h"
#include "FirstSample.h"
#include "HostCallback.h"
#include "HostError.h"
#include "Info.h"
#include "Interruption.h"
#include "OutputFormat.h"
#include "ParameterSettings.h"
#include "PluginLoader.h"
#include "RenderCommand.h"
#include "Suggestions.h"

namespace {

using namespace korvane;

constexpr int32_t kMinBlock = 1;
constexpr int32_t kMaxBlock = 8192;
constexpr double kMinTempo = 1.0;
constexpr double kMaxTempo = 1000.0;
constexpr double kMaxTailSeconds = 3600.0;
constexpr unsigned long long kMaxSeed = 0xFFFFFFFFull;
constexpr unsigned long long kMaxRate = 10000000;  // 10 MHz
constexpr int32_t kDefaultInfoRate = 44100;
constexpr const char* kVersionText = "korvane " KORVANE_TOOL_VERSION;
// More than any command prints to stdout.
constexpr std::size_t kStdoutBufferBytes = 1 << 16;

// Options shared by the commands that set parameters.
struct SettingOptions {
  std::vector<std::string> sets;
  std::string paramsFile;

  void addTo(CLI::App& command) {
    command
        .add_option("--set", sets,
                    "Set a parameter: NAME as the plug-in names it (any case, "
                    "'-' or '_' for spaces), VALUE normalised 0..1, or a "
                    "number in the plug-in's unit with a suffix (tp=12st, "
                    "bsize=8/16, pos=2000samples, env=3u); repeatable")
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

// A whole number in decimal digits from `lowest` to `highest`, or nothing.
std::optional<unsigned long long> wholeNumber(const std::string& text,
                                              unsigned long long lowest,
                                              unsigned long long highest) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() ||
      text.find_first_not_of("0123456789") != std::string::npos ||
      *end != '\0' || errno == ERANGE || n < lowest || n > highest) {
    return std::nullopt;
  }
  return n;
}

// A sample rate in Hz: a whole number, as audio files give it.
int32_t parseRate(const std::string& text) {
  const auto rate = wholeNumber(text, 1, kMaxRate);
  if (!rate) {
    throw usageError("--rate takes a whole number of Hz from 1 to " +
                     std::to_string(kMaxRate) + "; got \"" + text + "\"");
  }
  return static_cast<int32_t>(*rate);
}

uint32_t parseSeed(const std::string& text) {
  const auto seed = wholeNumber(text, 0, kMaxSeed);
  if (!seed) {
    throw usageError(
        "--seed takes a whole number from 0 to 4294967295; got \"" + text +
        "\"");
  }
  return static_cast<uint32_t>(*seed);
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
// Every instance gets the stream a render of a file at `rate` gives it, so
// that counts in samples are those of such a render.
void runInfo(const std::string& pluginOption,
             const std::vector<Setting>& settings, std::optional<double> tempo,
             int32_t rate) {
  const std::string path =
      pluginOption.empty() ? defaultPluginPath() : pluginOption;
  PluginLibrary library(path);
  HostContext context(tempo);
  const int32_t blockSize = RenderRequest{}.blockSize;
  PluginInstance plugin(library, context);
  plugin.setStream(rate, blockSize);
  PluginInstance scratch(library, context);
  scratch.setStream(rate, blockSize);
  const std::vector<ParameterValue> values =
      resolveSettings(settings, plugin, &scratch);
  applySettings(values, plugin);
  processFirstSample(plugin);
  // The ranges come from an instance with the same settings and its first
  // sample processed, so that ranges a plug-in counts in samples of its loop
  // are those of the loop a render at this tempo uses.
  PluginInstance ranges(library, context);
  ranges.setStream(rate, blockSize);
  applySettings(values, ranges);
  processFirstSample(ranges);
  printInfo(plugin, ranges, path, std::cout);
}

// CLI11's messages, on one line.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::vector<std::string> commandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* command : app.get_subcommands({})) {
    names.push_back(command->get_name());
  }
  return names;
}

std::vector<std::string> optionNames(const CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::Option* option : command.get_options()) {
    for (const std::string& name : option->get_lnames()) {
      names.push_back("--" + name);
    }
  }
  return names;
}

// An unknown first word, before CLI11 reads the rest as arguments.
void checkCommandWord(const CLI::App& app, const std::string& word) {
  const std::vector<std::string> commands = commandNames(app);
  if (word.empty() || word == "-h" || word == "--help" || word == "--version") {
    return;
  }
  if (word[0] == '-') {
    throw usageError("unknown option '" + word + "'" +
                     didYouMean(word, optionNames(app)) +
                     " (commands: info, render, demo, help)");
  }
  for (const std::string& command : commands) {
    if (command == word) return;
  }
  throw usageError("unknown command '" + word + "'" +
                   didYouMean(word, commands) +
                   " (commands: info, render, demo, help)");
}

// What CLI11 left over: unknown options and arguments nobody takes. A
// word that starts with '-' may be a file name, which `--` or `./` reach.
void checkLeftovers(const CLI::App& command) {
  for (const std::string& word : command.remaining()) {
    if (word.size() > 1 && word[0] == '-') {
      const std::string suggestion = didYouMean(word, optionNames(command));
      throw usageError(
          "unknown option '" + word + "' of '" + command.get_name() + "'" +
          (!suggestion.empty() && word.rfind("--", 0) == 0
               ? suggestion
               : "; if it is a file name, put -- before it (korvane " +
                     command.get_name() + " -- " + word + ") or write ./" +
                     word));
    }
    throw usageError("unexpected argument '" + word + "' after '" +
                     command.get_name() + "'");
  }
}

// The words after the command, ready for CLI11: every word that starts with
// '-' must be a known option of the command (or the value of one that takes
// a value), so that a file name like -take1.wav is named as such, not
// taken for something else; after `--` every word is a file name, and one
// that starts with '-' is passed on as ./WORD (the same file). "-" alone is
// standard input wherever it stands. Returned in CLI11's reversed order.
std::vector<std::string> prepareWords(const CLI::App& app, int argc,
                                      char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  const CLI::App* command = nullptr;
  if (!words.empty()) {
    try {
      command = app.get_subcommand(words.front());
    } catch (const CLI::OptionNotFound&) {
      command = nullptr;
    }
  }
  for (std::size_t i = 1; command != nullptr && i < words.size(); ++i) {
    const std::string word = words[i];
    if (word == "--") {
      words.erase(words.begin() + static_cast<std::ptrdiff_t>(i));
      for (std::size_t k = i; k < words.size(); ++k) {
        if (words[k].size() > 1 && words[k][0] == '-') {
          words[k] = "./" + words[k];
        }
      }
      break;
    }
    if (word.size() < 2 || word[0] != '-') continue;
    const std::string name = word.substr(0, word.find('='));
    const CLI::Option* option = command->get_option_no_throw(name);
    if (option == nullptr && name != "-h" && name != "--help") {
      const std::string suggestion = didYouMean(word, optionNames(*command));
      throw usageError(
          "unknown option '" + word + "' of '" + command->get_name() + "'" +
          (!suggestion.empty() && word.rfind("--", 0) == 0
               ? suggestion
               : "; if it is a file name, put -- before it (korvane " +
                     command->get_name() + " -- " + word + ") or write ./" +
                     word));
    }
    // The option's value is the next word, whatever it starts with.
    if (option != nullptr && option->get_expected_max() > 0 &&
        word.find('=') == std::string::npos) {
      ++i;
    }
  }
  std::reverse(words.begin(), words.end());
  return words;
}

// An option or argument given as an empty string is a mistake (an unset
// shell variable, say), not a request for the default.
void checkEmptyValues(const CLI::App& command) {
  for (const CLI::Option* option : command.get_options()) {
    if (option->get_expected_max() == 0) continue;  // a flag
    for (const std::string& value : option->results()) {
      if (!value.empty()) continue;
      const std::string name = option->get_positional()
                                   ? option->get_name(true, false)
                                   : option->get_name(false, true);
      throw usageError(name + " of '" + command.get_name() +
                       "' is an empty string; give a value");
    }
  }
}

// Whatever the tool printed must have reached its streams: a full disk
// under `korvane info > file` is a failure, not an empty file and exit 0.
int checkStreams(int code) {
  // The stream flushes stdio's buffer; its errno is the reason.
  errno = 0;
  std::cout.flush();
  const bool outFailed =
      std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || std::cout.bad();
  const int outErrno = errno;
  if (outFailed) {
    std::cerr << "korvane: cannot write standard output: "
              << (outErrno != 0 ? std::strerror(outErrno) : "write error")
              << "\n";
  }
  const bool errFailed =
      std::fflush(stderr) != 0 || std::ferror(stderr) != 0 || std::cerr.bad();
  return (outFailed || errFailed) && code == 0 ? kExitFailure : code;
}

int run(int argc, char** argv) {
  CLI::App app{"korvane: renders audio files through the korvane plug-in"};
  app.require_subcommand(1);
  app.set_version_flag("--version", kVersionText);

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
  std::string infoRateText = std::to_string(kDefaultInfoRate);
  info->add_option("--rate", infoRateText,
                   "Sample rate of the render whose start to show, in Hz "
                   "(default " +
                       std::to_string(kDefaultInfoRate) + ")")
      ->type_name("HZ");
  infoSettings.addTo(*info);

  RenderRequest request;
  std::string tempoText = "120";
  std::string seedText;
  std::string bitsText;
  bool quiet = false;
  bool noDelayCompensation = false;
  SettingOptions renderSettings;
  CLI::App* render = app.add_subcommand(
      "render", "Stream IN through the plug-in block by block into OUT");
  render
      ->add_option("IN", request.input,
                   "Input audio file, or - for standard input")
      ->required();
  render
      ->add_option("OUT", request.output,
                   "Output file; IN's format unless its extension says "
                   "otherwise (wav, aif, aiff, flac, ogg, oga, opus, mp3)")
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
  CLI::Option* seedOption =
      render
          ->add_option("--seed", seedText,
                       "Seed of the plug-in's random spread, 0 to 4294967295 "
                       "(default: one picked and shown in the summary)")
          ->type_name("N");
  render
      ->add_option("--bits", bitsText,
                   "Samples of OUT: 16, 24, 32 or float (default: IN's when "
                   "OUT's container holds them, else 24)")
      ->type_name("BITS");
  render->add_flag("--quiet,-q", quiet, "No summary line after the render");
  render->add_flag("--no-delay-compensation", noDelayCompensation,
                   "Keep the plug-in's reported delay in OUT instead of "
                   "lining OUT up with IN");
  render->add_flag("--force", request.force,
                   "Replace OUT even when it is write-protected (it keeps "
                   "its mode)");

  std::string demoDir = "demo";
  std::string demoPlugin;
  bool demoForce = false;
  CLI::App* demo = app.add_subcommand(
      "demo", "Synthesise a loop, render it through korvane, write both");
  demo->add_option("DIR", demoDir, "Where the files go (default demo/)");
  demo->add_option("--plugin", demoPlugin,
                   "Plug-in library (default: korvane.so beside this tool)")
      ->type_name("LIB");
  demo->add_flag("--force", demoForce,
                 "Write demo.params even when it exists (the settings you "
                 "edited are replaced)");

  std::string helpTopic;
  CLI::App* help = app.add_subcommand("help", "Show help, of a command too");
  help->add_option("COMMAND", helpTopic, "info, render, demo or help");

  for (CLI::App* command : {info, render, demo, help}) command->allow_extras();

  try {
    checkCommandWord(app, argc > 1 ? argv[1] : "");
    std::vector<std::string> words = prepareWords(app, argc, argv);
    app.parse(words);
    for (CLI::App* command : {info, render, demo, help}) {
      if (!command->parsed()) continue;
      checkLeftovers(*command);
      checkEmptyValues(*command);
    }
  } catch (const CLI::ParseError& e) {
    // --version printed here without flushing, so that a write error is
    // seen at the end with its reason; --help by CLI11.
    if (dynamic_cast<const CLI::CallForVersion*>(&e) != nullptr) {
      std::cout << e.what() << "\n";
      return 0;
    }
    if (e.get_exit_code() == 0) return app.exit(e);
    std::cerr << "korvane: " << oneLine(e.what()) << "\n";
    return kExitUsage;
  } catch (const HostError& e) {
    std::cerr << "korvane: " << e.what() << "\n";
    return e.exitCode();
  }

  try {
    if (info->parsed()) {
      runInfo(infoPlugin, infoSettings.collect(), parseTempo(infoTempoText),
              parseRate(infoRateText));
    } else if (render->parsed()) {
      checkRenderRequest(request);
      request.tempo = parseTempo(tempoText);
      if (seedOption->count() > 0) request.seed = parseSeed(seedText);
      if (!bitsText.empty()) request.subtype = subtypeForBits(bitsText);
      request.compensateDelay = !noDelayCompensation;
      request.settings = renderSettings.collect();
      reportRender(renderFile(request), quiet);
    } else if (demo->parsed()) {
      runDemo(demoDir, demoPlugin, demoForce, std::cout);
    } else if (help->parsed()) {
      // The formatter itself: App::help() would describe `help`, the
      // command that was parsed.
      const CLI::App* topic = &app;
      if (!helpTopic.empty()) {
        checkCommandWord(app, helpTopic);
        topic = app.get_subcommand(helpTopic);
      }
      std::cout << app.get_formatter()->make_help(
          topic, topic == &app ? "korvane" : "korvane " + helpTopic,
          CLI::AppFormatMode::Normal);
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

}  // namespace

int main(int argc, char** argv) {
  installInterruptHandlers();
  // Off a terminal, everything a command prints is flushed at the end, where
  // a write error is seen with its reason.
  if (isatty(STDOUT_FILENO) == 0) {
    std::setvbuf(stdout, nullptr, _IOFBF, kStdoutBufferBytes);
  }
  return checkStreams(run(argc, argv));
}
