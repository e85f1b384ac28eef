// Bad input: one line on stderr, exit 2 for usage and 1 for the rest, and
// OUT never created or touched.
#include "CliRun.h"
#include "TestAudio.h"

namespace {

struct ErrorCase {
  const char* what;
  std::vector<std::string> args;  // after "render in.wav out.wav"
  int exitCode;
  const char* message;  // a part of the one line on stderr
};

class RenderErrors : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    writeAudio(path("in.wav"), testSignal(2, 44100, 2000));
    writeText(path("notes.txt"), "not audio\n");
    writeText(path("bad.params"), "out level = 0.5\nthis line has no value\n");
    writeAudio(path("three.wav"), testSignal(3, 44100, 100));
  }

  // Runs one case and checks the contract; `out` is the OUT it names.
  void expectFailure(const ErrorCase& c, const std::vector<std::string>& args,
                     const std::string& out) {
    const std::vector<std::string> before = files();
    const CliResult r = run(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos)
        << c.what << ": " << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << c.what << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.what;
    // Nothing new: no OUT, no temporary file beside it.
    EXPECT_EQ(files(), before) << c.what << " (" << out << ")";
  }
};

TEST_F(RenderErrors, EachBadInputExitsAsDocumentedAndWritesNothing) {
  const std::string tiny = TINYFX_PATH;
  const ErrorCase cases[] = {
      {"unknown option", {"--bogus"}, 2, "--bogus"},
      {"unknown parameter", {"--set", "volume=1"}, 2, "\"rec thrsh\""},
      {"unknown parameter of a test plug-in",
       {"--plugin", tiny, "--set", "gain=1"},
       2,
       "\"out level\", \"fault\""},
      {"value not a number", {"--set", "pos=half"}, 2, "not a number"},
      {"value above 1", {"--set", "pos=1.01"}, 2, "from 0 to 1"},
      {"value below 0", {"--set", "pos=-0.1"}, 2, "from 0 to 1"},
      {"no '='", {"--set", "pos"}, 2, "NAME=VALUE"},
      {"bad line in a params file",
       {"--params", "bad.params"},
       2,
       "bad.params:2:"},
      {"block 0", {"--block", "0"}, 2, "--block"},
      {"block 8193", {"--block", "8193"}, 2, "--block"},
      {"block not a number", {"--block", "many"}, 2, "--block"},
      {"tempo 0", {"--tempo", "0"}, 2, "--tempo"},
      {"negative tail", {"--tail", "-1"}, 2, "--tail"},
      {"gain above 24 dB", {"--gain", "24.5"}, 2, "--gain takes -60 to 24"},
      {"quality above 1", {"--quality", "1.5"}, 2, "--quality takes 0 to 1"},
      {"quality of a WAV", {"--quality", "0.5"}, 2, "applies to the lossy"},
      {"missing library",
       {"--plugin", "nowhere.so"},
       1,
       "nowhere.so: No such file or directory"},
      {"library without main", {"--plugin", TINYFX_NO_MAIN_PATH}, 1, "main"},
      {"main answers null", {"--plugin", TINYFX_NULL_MAIN_PATH}, 1, "null"},
      {"missing params file", {"--params", "none.params"}, 1, "none.params"},
      {"plug-in produces NaN",
       {"--plugin", tiny, "--set", "fault=1"},
       1,
       "not a number"},
  };
  for (const ErrorCase& c : cases) {
    std::vector<std::string> args = {"render", "in.wav", "out.wav"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    expectFailure(c, args, "out.wav");
  }
}

TEST_F(RenderErrors, BadInputFilesFail) {
  const ErrorCase cases[] = {
      {"missing input", {"render", "none.wav", "out.wav"}, 1, "none.wav"},
      {"text as input", {"render", "notes.txt", "out.wav"}, 1, "notes.txt"},
      {"directory as input", {"render", ".", "out.wav"}, 1, "directory"},
      {"three channels", {"render", "three.wav", "out.wav"}, 1, "3 channels"},
      {"missing OUT folder", {"render", "in.wav", "no/out.wav"}, 1, "no"},
      {"OUT equal to IN", {"render", "in.wav", "./in.wav"}, 2, "same file"},
      {"IN and --params both -",
       {"render", "-", "out.wav", "--params", "-"},
       2,
       "IN and --params cannot both be standard input"},
  };
  const Audio original = readAudio(path("in.wav"));
  for (const ErrorCase& c : cases) expectFailure(c, c.args, c.args[2]);
  EXPECT_EQ(readAudio(path("in.wav")).samples, original.samples);
}

TEST_F(RenderErrors, AFailedRenderLeavesAnExistingOutUntouched) {
  writeText(path("out.wav"), "keep me");
  const ErrorCase c = {"fault over an existing OUT", {}, 1, "not a number"};
  expectFailure(c,
                {"render", "in.wav", "out.wav", "--plugin", TINYFX_PATH,
                 "--set", "fault=1"},
                "out.wav");
  EXPECT_EQ(readText(path("out.wav")), "keep me");
}

TEST_F(RenderErrors, MissingCommandOrArgumentsAreUsageErrors) {
  EXPECT_EQ(run({}).exitCode, 2);
  EXPECT_EQ(run({"render", "in.wav"}).exitCode, 2);
  EXPECT_EQ(run({"info", "--set", "nothing=1"}).exitCode, 2);
  EXPECT_EQ(run({"info", "--plugin", TINYFX_NULL_MAIN_PATH}).exitCode, 1);
  EXPECT_EQ(run({"render", "--help"}).exitCode, 0);
}

}  // namespace
