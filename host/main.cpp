// The korvane command-line host: info, render, demo and help.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Demo.h"
#include "HostError.h"
#include "Info.h"
#include "Interruption.h"
#include "RenderCommand.h"

namespace {

using namespace korvane;

constexpr const char* kVersionText = "korvane " KORVANE_TOOL_VERSION;
// More than any command prints to stdout.
constexpr std::size_t kStdoutBufferBytes = 1 << 16;

// `help [COMMAND]`: the formatter itself, since App::help() would describe
// `help`, the command that was parsed.
Command addHelpCommand(CLI::App& app) {
  auto topic = std::make_shared<std::string>();
  CLI::App* help = app.add_subcommand("help", "Show help, of a command too");
  help->add_option("COMMAND", *topic, "info, render, demo or help");
  return {help, [&app, topic] {
            const CLI::App* shown = &app;
            if (!topic->empty()) {
              checkCommandWord(app, *topic);
              shown = app.get_subcommand(*topic);
            }
            std::cout << app.get_formatter()->make_help(
                shown, shown == &app ? "korvane" : "korvane " + *topic,
                CLI::AppFormatMode::Normal);
          }};
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
  // Named, so that every usage line names the tool ("korvane render ...").
  CLI::App app{"korvane: renders audio files through the korvane plug-in",
               "korvane"};
  app.require_subcommand(1);
  app.set_version_flag("--version", kVersionText);
  const std::vector<Command> commands = {
      addInfoCommand(app), addRenderCommand(app), addDemoCommand(app),
      addHelpCommand(app)};
  for (const Command& command : commands) command.app->allow_extras();

  try {
    if (argc < 2) {
      throw usageError(
          "a command is required (info, render, demo or help); `korvane "
          "help` shows them, and `korvane help COMMAND` its options");
    }
    checkCommandWord(app, argv[1]);
    std::vector<std::string> words = prepareWords(app, argc, argv);
    app.parse(words);
    for (const Command& command : commands) {
      if (command.app->parsed()) checkParsed(*command.app);
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
    for (const Command& command : commands) {
      if (command.app->parsed()) command.run();
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
