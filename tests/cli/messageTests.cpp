// Messages and exit codes: the system's reasons, nothing of libsndfile's
// on stdout, one exit code for one kind of error, stepped parameters, the
// plug-in's file named, and records at impossible addresses refused.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

namespace fs = std::filesystem;

struct MessageCase {
  std::vector<std::string> args;
  int exitCode;
  std::string message;  // part of the one line on stderr
  Environment environment = {};
};

class Messages : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    writeAudio(path("in.wav"), testSignal(2, 44100, 2000));
  }
  void expectAll(const std::vector<MessageCase>& cases) {
    for (const MessageCase& c : cases) {
      const std::vector<std::string> before = files();
      const CliResult r = run(c.args, c.environment);
      const std::string what = c.args[1] + " " + c.args.back();
      EXPECT_EQ(r.exitCode, c.exitCode) << what << ": " << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << what << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << what << ": " << r.err;
      EXPECT_EQ(r.err.find("No error defined"), std::string::npos) << r.err;
      EXPECT_EQ(r.out, "") << what;  // never libsndfile's notes
      EXPECT_EQ(files(), before) << what;
    }
  }
};

TEST_F(Messages, FileErrorsGiveTheSystemsReason) {
  fs::create_directory(path("folder"));
  fs::create_symlink("loop2", path("loop1"));
  fs::create_symlink("loop1", path("loop2"));
  writeText(path("notes.txt"), "not audio\n");
  writeText(path("empty.wav"), "");
  writeText(path("riff.wav"), "RIFF");
  const std::string noSuch = "No such file or directory";
  const std::string loop = "Too many levels of symbolic links";
  expectAll({
      {{"render", "none.wav", "out.wav"}, 1, "IN none.wav: " + noSuch},
      {{"render", "loop1", "out.wav"}, 1, "IN loop1: " + loop},
      {{"render", "folder", "out.wav"}, 1, "IN folder is a directory"},
      {{"render", "notes.txt", "out.wav"}, 1, "cannot read IN notes.txt: "},
      {{"render", "empty.wav", "out.wav"}, 1, "cannot read IN empty.wav: "},
      {{"render", "riff.wav", "out.wav"}, 1, "cannot read IN riff.wav: "},
      {{"render", "in.wav", "out.wav", "--params", "none.params"},
       1,
       "parameter file none.params: " + noSuch},
      {{"render", "in.wav", "out.wav", "--params", "folder"},
       1,
       "parameter file folder: Is a directory"},
      {{"render", "in.wav", "out.wav", "--params", "loop1"},
       1,
       "parameter file loop1: " + loop},
      {{"render", "in.wav", "out.wav", "--plugin", "none.so"},
       1,
       "plug-in library none.so: " + noSuch},
  });
}

TEST_F(Messages, PermissionErrorsSayPermissionDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "root may read anything";
  fs::create_directory(path("locked"));
  fs::copy_file(path("in.wav"), path("locked/in.wav"));
  writeText(path("secret.params"), "out level = 1\n");
  chmod(path("secret.params").c_str(), 0);
  chmod(path("locked").c_str(), 0600);
  expectAll({
      {{"render", "locked/in.wav", "out.wav"},
       1,
       "IN locked/in.wav: Permission denied"},
      {{"render", "in.wav", "out.wav", "--params", "secret.params"},
       1,
       "secret.params: Permission denied"},
  });
  chmod(path("locked").c_str(), 0700);
}

// A rate a format cannot take is a usage error before rendering, whichever
// part of libsndfile knows it.
TEST_F(Messages, RatesAFormatCannotTakeAreUsageErrors) {
  writeAudio(path("in96.wav"), testSignal(2, 96000, 960));
  writeAudio(path("in384.wav"), testSignal(2, 384000, 3840));
  writeAudio(path("in700.wav"), testSignal(2, 700000, 7000));
  std::vector<MessageCase> cases = {
      {{"render", "in.wav", "out.opus"},
       2,
       "cannot write 2-channel 44100 Hz audio as .opus (out.opus); of the "
       "usual rates it writes 8000, 12000, 16000, 24000, 48000 Hz: resample "
       "IN to one of them first"},
      {{"render", "in384.wav", "out.ogg"},
       2,
       "cannot write 2-channel 384000 Hz audio as .ogg"},
      {{"render", "in700.wav", "out.flac"},
       2,
       "cannot write 2-channel 700000 Hz audio as .flac"},
  };
  if (run({"render", "in.wav", "out.mp3", "-q"}).exitCode == 0) {
    fs::remove(path("out.mp3"));
    cases.push_back({{"render", "in96.wav", "out.mp3"},
                     2,
                     "cannot write 2-channel 96000 Hz audio as .mp3 "
                     "(out.mp3); of the usual rates it writes 8000, 11025, "
                     "12000, 16000, 22050, 24000, 32000, 44100, 48000 Hz"});
  }
  expectAll(cases);
}

TEST_F(Messages, AValueBetweenStepsNamesTheNearestSteps) {
  expectAll({
      {{"info", "--set", "tp=0.5st"},
       2,
       "no value of \"tp\" shows 0.5 st; it moves in steps, and the nearest "
       "are 0 and 1 semitones"},
      {{"info", "--set", "bsize=2.5/16"},
       2,
       "it moves in steps, and the nearest are 2 and 3 1/16"},
      {{"info", "--set", "tp=25st"}, 2, "it ranges from -24 to 24 semitones"},
      // Steps finer than the first search's grid.
      {{"info", "--set", "len=4000.5smp"},
       2,
       "it moves in steps, and the nearest are 4000 and 4001 samples"},
  });
}

// A missing command points to help, one NAME=VALUE per --set, and a plain
// number outside 0..1 is shown in its unit.
TEST_F(Messages, UsageMessagesSayWhatToWrite) {
  EXPECT_EQ(run({}).err,
            "korvane: a command is required (info, render, demo or help); "
            "`korvane help` shows them, and `korvane help COMMAND` its "
            "options\n");
  expectAll({
      {{"render", "in.wav", "out.wav", "--set", "tp=12st", "env=3u"},
       2,
       "unexpected argument 'env=3u' after 'render'; each --set takes one "
       "NAME=VALUE: --set env=3u"},
      {{"info", "--set", "tp=7"},
       2,
       "value of \"tp\" is 7; values are normalised, from 0 to 1, or a "
       "number in the parameter's unit with a suffix: for 7 semitones write "
       "tp=7st"},
      {{"info", "--set", "bsize=8"}, 2, "for 8 1/16 write bsize=8/16"},
      {{"info", "--set", "rec thrsh=2"},
       2,
       "value of \"rec thrsh\" is 2; values are normalised, from 0 to 1\n"},
  });
}

// Errors of a plug-in's layout, delay, output and record name its file;
// a record at an address that cannot hold one is refused, not read.
TEST_F(Messages, PluginErrorsNameThePluginFile) {
  const std::string tiny = TINYFX_PATH;
  const auto render = [&tiny](std::vector<std::string> extra) {
    std::vector<std::string> args = {"render", "in.wav", "out.wav", "--plugin",
                                     tiny};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const std::string address = "plug-in " + tiny +
                              " answered an address that cannot hold an effect "
                              "record";
  expectAll({
      {render({}),
       1,
       "plug-in " + tiny + " takes one input and gives 2 outputs",
       {{"TINYFX_INPUTS", "1"}}},
      {render({}),
       1,
       "plug-in " + tiny + " reports a delay of -5 samples",
       {{"TINYFX_DELAY", "-5"}}},
      {render({}),
       1,
       "plug-in " + tiny + " has no outputs",
       {{"TINYFX_OUTPUTS", "0"}}},
      {render({"--set", "fault=1"}), 1,
       "plug-in " + tiny + " produced a sample that is not a number"},
      {render({}), 1, address, {{"TINYFX_BAD_RECORD", "low"}}},
      {render({}), 1, address, {{"TINYFX_BAD_RECORD", "odd"}}},
      {render({}), 1, address, {{"TINYFX_BAD_RECORD", "unmapped"}}},
      {{"info", "--plugin", tiny},
       1,
       address,
       {{"TINYFX_BAD_RECORD", "unmapped"}}},
  });
}

}  // namespace
