// Reproducible renders through the seed, the summary line and its warnings,
// and the tool's habits: --version, help, and mistyped words named.
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

class CommandLine : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    writeAudio(path("in.wav"), testSignal(2, 44100, 20000));
  }
  // A korvane render with every random spread at its widest.
  CliResult spread(const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {
        "render",    "in.wav",       out,     "--set",        "st jitter=1",
        "--set",     "pos jitter=1", "--set", "len jitter=1", "--set",
        "p jitter=1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  }
};

// The number after "seed " in a summary line.
std::string seedIn(const std::string& summary) {
  const std::size_t at = summary.find("seed ");
  if (at == std::string::npos) return "";
  const std::size_t start = at + 5;
  return summary.substr(start,
                        summary.find_first_not_of("0123456789", start) - start);
}

TEST_F(CommandLine, TheSameSeedRendersTheSameSamples) {
  ASSERT_EQ(spread("a.wav", {"--seed", "42"}).exitCode, 0);
  ASSERT_EQ(spread("b.wav", {"--seed", "42"}).exitCode, 0);
  ASSERT_EQ(spread("c.wav", {"--seed", "43"}).exitCode, 0);
  const Audio a = readAudio(path("a.wav"));
  EXPECT_EQ(readAudio(path("b.wav")).samples, a.samples);
  EXPECT_NE(readAudio(path("c.wav")).samples, a.samples);
}

TEST_F(CommandLine, ThePickedSeedIsShownAndRendersTheSameAgain) {
  const CliResult first = spread("a.wav", {});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  const std::string seed = seedIn(first.err);
  ASSERT_FALSE(seed.empty()) << first.err;
  EXPECT_EQ(first.err.find("not taken"), std::string::npos) << first.err;
  ASSERT_EQ(spread("b.wav", {"--seed", seed}).exitCode, 0);
  EXPECT_EQ(readAudio(path("b.wav")).samples, readAudio(path("a.wav")).samples);
}

TEST_F(CommandLine, APluginWithoutTheSeedCallIsSaidNotToTakeIt) {
  const CliResult picked =
      run({"render", "in.wav", "a.wav", "--plugin", TINYFX_PATH});
  ASSERT_EQ(picked.exitCode, 0) << picked.err;
  EXPECT_NE(picked.err.find("(not taken by the plug-in) -> a.wav\n"),
            std::string::npos)
      << picked.err;
  const CliResult asked = run(
      {"render", "in.wav", "a.wav", "--plugin", TINYFX_PATH, "--seed", "5"});
  ASSERT_EQ(asked.exitCode, 0) << asked.err;
  EXPECT_NE(asked.err.find("warning: the plug-in did not take seed 5"),
            std::string::npos)
      << asked.err;
}

TEST_F(CommandLine, BadSeedsAreUsageErrors) {
  for (const char* seed : {"-1", "4294967296", "12x", "0x10", ""}) {
    const CliResult r = run({"render", "in.wav", "a.wav", "--seed", seed});
    EXPECT_EQ(r.exitCode, 2) << seed << ": " << r.err;
  }
  EXPECT_EQ(
      run({"render", "in.wav", "a.wav", "--seed", "4294967295", "-q"}).exitCode,
      0);
}

TEST_F(CommandLine, SummaryLineQuietAndWarnings) {
  const std::string tiny = TINYFX_PATH;
  const CliResult plain = run({"render", "in.wav", "a.wav", "--plugin", tiny,
                               "--seed", "3", "--set", "out level=0.5"});
  ASSERT_EQ(plain.exitCode, 0);
  // The warning about the seed, then the summary: 20000 frames at 44.1 kHz,
  // the test signal's clicks at half gain.
  const std::string summary = plain.err.substr(plain.err.find('\n') + 1);
  EXPECT_EQ(summary.substr(0, 46),
            "korvane: rendered 0.454 s, peak 0.4496, RMS 0.")
      << plain.err;
  EXPECT_NE(plain.err.find(", seed 3 (not taken by the plug-in) -> a.wav\n"),
            std::string::npos)
      << plain.err;

  const CliResult quiet = run({"render", "in.wav", "a.wav", "--plugin", tiny,
                               "--quiet", "--seed", "3"});
  ASSERT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.err,
            "korvane: warning: the plug-in did not take seed 3; "
            "another render may differ\n");

  const CliResult silent = run({"render", "in.wav", "a.wav", "--plugin", tiny,
                                "-q", "--set", "out level=0"});
  ASSERT_EQ(silent.exitCode, 0);
  EXPECT_EQ(silent.err, "korvane: warning: OUT a.wav is entirely silent\n");
}

TEST_F(CommandLine, ClippedIntegerSamplesAreCounted) {
  writeAudio(path("in16.wav"),
             testSignal(2, 44100, 20000, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
  // --dry adds the gain's output to the input: twice the input.
  std::size_t expected = 0;
  for (float s : readAudio(path("in16.wav")).samples) {
    expected += std::fabs(s + s) > 1.0f;
  }
  ASSERT_GT(expected, 0u);
  const CliResult r = run(
      {"render", "in16.wav", "a.wav", "--plugin", TINYFX_PATH, "--dry", "-q"});
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "korvane: warning: " + std::to_string(expected) +
                       " samples beyond full scale were clipped in a.wav\n");
  // Float output keeps them: nothing to say.
  EXPECT_EQ(run({"render", "in16.wav", "b.wav", "--plugin", TINYFX_PATH,
                 "--dry", "-q", "--bits", "float"})
                .err,
            "");
}

TEST_F(CommandLine, VersionAndHelp) {
  const CliResult version = run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "korvane 1.0.0\n");
  const CliResult help = run({"help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: korvane [OPTIONS] SUBCOMMAND"),
            std::string::npos)
      << help.out;
  for (const char* command : {"info", "render", "demo", "help"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << help.out;
  }
  // A command's help, by either way of asking, names the tool.
  for (const std::vector<std::string>& asked :
       {std::vector<std::string>{"help", "render"}, {"render", "--help"}}) {
    const CliResult render = run(asked);
    EXPECT_EQ(render.exitCode, 0);
    EXPECT_NE(render.out.find("Usage: korvane render [OPTIONS] IN OUT"),
              std::string::npos)
        << render.out;
    for (const char* option :
         {"--seed", "--quiet", "--bits", "--no-delay-compensation",
          "--set NAME=VALUE  "}) {
      EXPECT_NE(render.out.find(option), std::string::npos) << render.out;
    }
  }
  EXPECT_EQ(run({"help", "rendr"}).err,
            "korvane: unknown command 'rendr'; did you mean 'render'? "
            "(commands: info, render, demo, help)\n");
}

// Each option of `rows` (names before the first two spaces) and the number
// after the first of `markers` in the rest of its row, or -1.
std::map<std::string, double> optionDefaults(
    const std::vector<std::string>& rows,
    const std::vector<std::string>& markers) {
  std::map<std::string, double> options;
  for (const std::string& row : rows) {
    const std::size_t start = row.find_first_not_of(" |");
    const std::size_t split = row.find("  ", start);
    const std::string text =
        split == std::string::npos ? "" : row.substr(split);
    double value = -1;
    for (const std::string& marker : markers) {
      const std::size_t at = text.find(marker);
      if (at == std::string::npos) continue;
      const char* number = text.c_str() + at + marker.size();
      char* end = nullptr;
      const double parsed = std::strtod(number, &end);
      if (end != number) value = parsed;
      break;
    }
    std::istringstream names(row.substr(start, split - start));
    for (std::string word; names >> word;) {
      const std::size_t at = word.find("--");
      if (at == std::string::npos) continue;
      const std::string name = word.substr(
          at,
          word.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", at + 2) - at);
      if (name.size() > 2 && name != "--help") options[name] = value;
    }
  }
  return options;
}

// The README's table of render's options and `korvane help render` name the
// same options, with the same numeric defaults.
TEST_F(CommandLine, TheReadmeNamesTheOptionsOfHelp) {
  std::istringstream readme(readText(KORVANE_README));
  std::vector<std::string> table;
  bool inTable = false;
  for (std::string line; std::getline(readme, line);) {
    if (line == "Options of `render`:") inTable = true;
    if (inTable && line.rfind("| `-", 0) == 0) {
      // The first cell's names, two spaces, the rest.
      table.push_back(line.substr(0, line.find(" | ")) + "  " +
                      line.substr(line.find(" | ")));
    }
    if (inTable && !table.empty() && line.empty()) break;
  }
  std::istringstream help(run({"help", "render"}).out);
  std::vector<std::string> options;
  for (std::string line; std::getline(help, line);) {
    if (line.rfind("  -", 0) == 0) options.push_back(line);
  }
  const auto documented = optionDefaults(table, {"Default: ", "Default "});
  EXPECT_GT(documented.size(), 10u);
  EXPECT_EQ(documented, optionDefaults(options, {"default "}));
}

TEST_F(CommandLine, MistypedWordsAreNamedWithTheNearestOne) {
  const CliResult command = run({"infos"});
  EXPECT_EQ(command.exitCode, 2);
  EXPECT_EQ(command.err.find("korvane: unknown command 'infos'; did you mean "
                             "'info'?"),
            0u)
      << command.err;
  const CliResult far = run({"transmogrify"});
  EXPECT_EQ(far.exitCode, 2);
  EXPECT_EQ(far.err.find("did you mean"), std::string::npos) << far.err;

  const CliResult option = run({"render", "in.wav", "a.wav", "--seeed", "3"});
  EXPECT_EQ(option.exitCode, 2);
  EXPECT_EQ(option.err,
            "korvane: unknown option '--seeed' of 'render'; did you mean "
            "'--seed'?\n");
  const CliResult extra = run({"render", "in.wav", "a.wav", "b.wav"});
  EXPECT_EQ(extra.exitCode, 2);
  EXPECT_EQ(extra.err, "korvane: unexpected argument 'b.wav' after 'render'\n");
  EXPECT_EQ(files(), (std::vector<std::string>{"in.wav"}));
}

}  // namespace
