// What the commands share on the command line: how each one is added to the
// tool, the options and value parsers several of them take, and the checks
// of the words before and after CLI11 reads them.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Defaults.h"
#include "ParameterSettings.h"

namespace korvane {

// One command of the tool: its CLI11 subcommand, and what it does once its
// words are read (throws HostError for bad input).
struct Command {
  CLI::App* app;
  std::function<void()> run;
};

// --plugin LIB, with the default named in its help text.
void addPluginOption(CLI::App& command, std::string& plugin);
// A numeric option's help text, from its row in Defaults.h, after `lead`
// and a comma when there is one (what the command uses the value for).
std::string helpOf(const defaults::NumericOption& option,
                   const std::string& lead = "");
// Adds the option with its help text and placeholder from its row.
template <typename T>
CLI::Option* addNumericOption(CLI::App& command,
                              const defaults::NumericOption& option, T& value,
                              const std::string& lead = "") {
  return command.add_option(option.name, value, helpOf(option, lead))
      ->type_name(option.typeName);
}
// Throws the option's refusal (a usage error) for a value outside its range.
void checkRange(const defaults::NumericOption& option, double value);

// --set and --params, shared by the commands that set parameters.
struct SettingOptions {
  std::vector<std::string> sets;
  std::string paramsFile;

  void addTo(CLI::App& command);
  // The file's settings first, then the command line's.
  std::vector<Setting> collect() const;
};

// --tempo's value: beats per minute in range, or nothing for "none".
std::optional<double> parseTempo(const std::string& text);
// --rate's value: a whole number of Hz in range.
int32_t parseRate(const std::string& text);
// --seed's value: a whole number that fits 32 bits.
uint32_t parseSeed(const std::string& text);

// An unknown first word (not a command, not a known option), before CLI11
// reads the rest as arguments.
void checkCommandWord(const CLI::App& app, const std::string& word);
// The words after the command, ready for CLI11 (in its reversed order):
// every word that starts with '-' must be a known option of the command or
// an option's value; after `--` every word is a file name, one that starts
// with '-' passed on as ./WORD (the same file).
std::vector<std::string> prepareWords(const CLI::App& app, int argc,
                                      char** argv);
// After parsing: words nobody took, and empty strings given as values.
void checkParsed(const CLI::App& command);
// CLI11's messages, on one line.
std::string oneLine(std::string text);

}  // namespace korvane
