// `korvane demo`: commands that run as printed and repeat its renders, and
// settings the user edited kept.
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

namespace fs = std::filesystem;

using Demo = CliTest;

// The printed command lines: those after "The same renders by hand:".
std::vector<std::string> printedCommands(const std::string& out) {
  std::vector<std::string> commands;
  std::istringstream lines(out.substr(out.find("by hand:\n") + 9));
  for (std::string line; std::getline(lines, line);) {
    commands.push_back(line.substr(line.find_first_not_of(' ')));
  }
  return commands;
}

TEST_F(Demo, PrintedCommandsRunAsPrintedAndRepeatTheRenders) {
  const CliResult r = run({"demo", "my demo"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<std::string> commands = printedCommands(r.out);
  ASSERT_EQ(commands.size(), 2u) << r.out;
  const std::string tool = fs::canonical(KORVANE_TOOL).string();
  for (const std::string& command : commands) {
    EXPECT_EQ(command.find(tool + " render "), 0u) << command;
    EXPECT_NE(command.find("'my demo/drum-loop.wav'"), std::string::npos)
        << command;
  }
  const Audio wet = readAudio(path("my demo/drum-loop-korvane.wav"));
  const Audio mixed = readAudio(path("my demo/drum-loop-korvane-dry.wav"));
  ASSERT_GT(wet.frames(), 0);
  fs::remove(path("my demo/drum-loop-korvane.wav"));
  fs::remove(path("my demo/drum-loop-korvane-dry.wav"));
  for (const std::string& command : commands) {
    const std::string shell = "cd '" + dir_ + "' && " + command + " >'" +
                              path("shell.txt") + "' 2>&1";
    ASSERT_EQ(std::system(shell.c_str()), 0) << readText(path("shell.txt"));
  }
  EXPECT_EQ(readAudio(path("my demo/drum-loop-korvane.wav")).samples,
            wet.samples);
  EXPECT_EQ(readAudio(path("my demo/drum-loop-korvane-dry.wav")).samples,
            mixed.samples);
}

TEST_F(Demo, KeepsEditedSettingsUnlessForced) {
  fs::create_directory(path("d"));
  const std::string mine = "tp = 0.5  # mine\n";
  writeText(path("d/demo.params"), mine);
  const CliResult kept = run({"demo", "d"});
  ASSERT_EQ(kept.exitCode, 0) << kept.err;
  EXPECT_EQ(readText(path("d/demo.params")), mine);
  EXPECT_NE(kept.out.find("d/demo.params (yours, kept; --force writes the "
                          "demo's)"),
            std::string::npos)
      << kept.out;
  const CliResult forced = run({"demo", "d", "--force"});
  ASSERT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_EQ(readText(path("d/demo.params")).find("# korvane demo settings"),
            0u);
}

}  // namespace
