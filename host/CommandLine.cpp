// The command line's shared pieces: options, value parsers and the checks
// of the words around CLI11.
#include "CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "Defaults.h"
#include "HostError.h"
#include "Suggestions.h"

namespace korvane {

namespace {
// A number as the help texts show it: 120, not 120.000000, and 4294967295
// whole.
std::string shown(double value) {
  constexpr double kWholeLimit = 9007199254740992.0;  // 2^53
  if (value == static_cast<double>(static_cast<int64_t>(value)) &&
      value > -kWholeLimit && value < kWholeLimit) {
    return std::to_string(static_cast<int64_t>(value));
  }
  std::ostringstream out;
  out << value;
  return out.str();
}

// `text` with every `name` replaced by `value`.
void fill(std::string& text, const std::string& name,
          const std::string& value) {
  for (std::size_t at = 0; (at = text.find(name, at)) != std::string::npos;
       at += value.size()) {
    text.replace(at, name.size(), value);
  }
}

// One of the option's texts with its placeholders filled in.
std::string optionText(const defaults::NumericOption& option, const char* text,
                       const std::string& value) {
  std::string filled = text;
  fill(filled, "{lowest}", shown(option.lowest));
  fill(filled, "{highest}", shown(option.highest));
  fill(filled, "{default}", shown(option.byDefault));
  fill(filled, "{value}", value);
  return filled;
}

HostError refusal(const defaults::NumericOption& option,
                  const std::string& value) {
  return usageError(optionText(option, option.refusal, value));
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

// A word that starts with '-' and is no option of `command`: a mistyped
// option, or a file name that `--` or `./` reach.
HostError unknownOption(const CLI::App& command, const std::string& word) {
  const std::string suggestion = didYouMean(word, optionNames(command));
  return usageError(
      "unknown option '" + word + "' of '" + command.get_name() + "'" +
      (!suggestion.empty() && word.rfind("--", 0) == 0
           ? suggestion
           : "; if it is a file name, put -- before it (korvane " +
                 command.get_name() + " -- " + word + ") or write ./" + word));
}

// A whole number in decimal digits in the option's range, or nothing.
std::optional<unsigned long long> wholeNumber(
    const std::string& text, const defaults::NumericOption& option) {
  const auto lowest = static_cast<unsigned long long>(option.lowest);
  const auto highest = static_cast<unsigned long long>(option.highest);
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

}  // namespace

void addPluginOption(CLI::App& command, std::string& plugin) {
  command
      .add_option("--plugin", plugin,
                  std::string("Plug-in library (default: ") +
                      defaults::kPluginFile + " beside this tool)")
      ->type_name("LIB");
}

std::string helpOf(const defaults::NumericOption& option,
                   const std::string& lead) {
  return (lead.empty() ? "" : lead + ", ") +
         optionText(option, option.help, "");
}

void checkRange(const defaults::NumericOption& option, double value) {
  if (!(value >= option.lowest && value <= option.highest)) {
    throw refusal(option, shown(value));
  }
}

void SettingOptions::addTo(CLI::App& command) {
  command
      .add_option("--set", sets,
                  "Set a parameter: NAME as the plug-in names it (any case, "
                  "'-' or '_' for spaces), VALUE normalised 0..1, or a "
                  "number in the plug-in's unit with a suffix (tp=12st, "
                  "bsize=8/16, pos=2000samples, env=3u); one pair each, "
                  "repeatable: --set tp=12st --set env=3u")
      ->type_name("NAME=VALUE")
      // One NAME=VALUE per --set, so that IN and OUT may follow it; the
      // help shows no "..." after it.
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->allow_extra_args(false);
  command
      .add_option("--params", paramsFile,
                  "Read NAME = VALUE lines ('#' comments) before --set; - "
                  "reads standard input")
      ->type_name("FILE");
}

std::vector<Setting> SettingOptions::collect() const {
  std::vector<Setting> settings;
  if (!paramsFile.empty()) settings = readParamsFile(paramsFile);
  for (const std::string& text : sets) settings.push_back(parseSetting(text));
  return settings;
}

std::optional<double> parseTempo(const std::string& text) {
  if (text == "none") return std::nullopt;
  std::size_t used = 0;
  double tempo = 0.0;
  try {
    tempo = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  const defaults::NumericOption& option = defaults::kTempo;
  if (used == 0 || used != text.size() || !(tempo >= option.lowest) ||
      !(tempo <= option.highest)) {
    throw refusal(option, text);
  }
  return tempo;
}

// A whole number, as audio files give it.
int32_t parseRate(const std::string& text) {
  const auto rate = wholeNumber(text, defaults::kRate);
  if (!rate) throw refusal(defaults::kRate, text);
  return static_cast<int32_t>(*rate);
}

uint32_t parseSeed(const std::string& text) {
  const auto seed = wholeNumber(text, defaults::kSeed);
  if (!seed) throw refusal(defaults::kSeed, text);
  return static_cast<uint32_t>(*seed);
}

std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

void checkCommandWord(const CLI::App& app, const std::string& word) {
  const std::vector<std::string> commands = commandNames(app);
  if (word.empty() || word == "-h" || word == "--help" || word == "--version") {
    return;
  }
  std::string list;
  for (const std::string& command : commands) {
    if (command == word) return;
    list += (list.empty() ? "" : ", ") + command;
  }
  const bool option = word[0] == '-';
  throw usageError(
      std::string(option ? "unknown option '" : "unknown command '") + word +
      "'" + didYouMean(word, option ? optionNames(app) : commands) +
      " (commands: " + list + ")");
}

// A file name like -take1.wav is named as such, not taken for something
// else; "-" alone is standard input wherever it stands.
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
      throw unknownOption(*command, word);
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

// What CLI11 left over (unknown options, arguments nobody takes) is
// refused, and so is an option or argument given as an empty string: a
// mistake (an unset shell variable, say), not a request for the default.
void checkParsed(const CLI::App& command) {
  for (const std::string& word : command.remaining()) {
    if (word.size() > 1 && word[0] == '-') throw unknownOption(command, word);
    const bool setting = word.find('=') != std::string::npos &&
                         command.get_option_no_throw("--set") != nullptr;
    throw usageError(
        "unexpected argument '" + word + "' after '" + command.get_name() +
        "'" +
        (setting ? "; each --set takes one NAME=VALUE: --set " + word : ""));
  }
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

}  // namespace korvane
