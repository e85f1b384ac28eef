// The host as the tiny test plug-in sees it: lifecycle, tempo, settings and
// the two processing routines.
#include <cmath>
#include <sstream>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

class TinyRender : public CliTest {
 protected:
  CliResult render(std::vector<std::string> args) const {
    args.insert(args.begin(), "render");
    args.insert(args.end(), {"--plugin", TINYFX_PATH});
    return run(args, {{"TINYFX_LOG", path("log.txt")}});
  }
  // The plug-in's log with the per-block lines folded into one each.
  std::vector<std::string> lifecycle() const {
    std::vector<std::string> lines;
    std::istringstream log(readText(path("log.txt")));
    for (std::string line; std::getline(log, line);) {
      const std::string word = line.substr(0, line.find(' '));
      if (word == "replacing" || word == "process") line = word;
      if (lines.empty() || lines.back() != line) lines.push_back(line);
    }
    return lines;
  }
};

TEST_F(TinyRender, DrivesTheLifecycleOfARealHost) {
  writeAudio(path("in.wav"), testSignal(2, 48000, 1000));
  const CliResult r =
      render({"in.wav", "out.wav", "--block", "64", "--set", "out level=0.5"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<std::string> expected = {
      "version 2400", "open",      "rate 48000", "block 64", "set 0.05",
      "resume",       "tempo 120", "replacing",  "suspend",  "close"};
  EXPECT_EQ(lifecycle(), expected);
}

TEST_F(TinyRender, TempoOptionReachesTheTimeQuery) {
  writeAudio(path("in.wav"), testSignal(2, 44100, 100));
  ASSERT_EQ(render({"in.wav", "a.wav", "--tempo", "87.5"}).exitCode, 0);
  ASSERT_EQ(render({"in.wav", "b.wav", "--tempo", "none"}).exitCode, 0);
  const std::string log = readText(path("log.txt"));
  EXPECT_NE(log.find("tempo 87.5\n"), std::string::npos) << log;
  EXPECT_NE(log.find("tempo none\n"), std::string::npos) << log;
}

TEST_F(TinyRender, CommandLineSettingsOverrideTheFileAndScaleTheOutput) {
  const Audio in = testSignal(2, 44100, 700);
  writeAudio(path("in.wav"), in);
  writeText(path("p.params"), "out level = 0.25\n");
  const CliResult r = render(
      {"in.wav", "out.wav", "--params", "p.params", "--set", "OUT_LEVEL=0.5"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Audio out = readAudio(path("out.wav"));
  ASSERT_EQ(out.samples.size(), in.samples.size());
  for (std::size_t i = 0; i < in.samples.size(); ++i) {
    ASSERT_EQ(out.samples[i], 0.5f * in.samples[i]) << i;
  }
}

// --dry adds the input to the plug-in's output, which --gain scales first.
TEST_F(TinyRender, DryAccumulatesOverTheInputAfterTheGain) {
  const Audio in = testSignal(1, 44100, 700);
  writeAudio(path("in.wav"), in);
  const struct {
    std::vector<std::string> args;
    float factor;  // of each input sample, with the plug-in's 0.5
  } cases[] = {
      {{"--dry"}, 1.5f},
      {{"--gain", "-20"}, 0.05f},
      {{"--dry", "--gain", "20"}, 6.0f},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"in.wav", "out.wav", "--set",
                                     "out-level=0.5"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliResult r = render(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Audio out = readAudio(path("out.wav"));
    ASSERT_EQ(out.samples.size(), in.samples.size());
    for (std::size_t i = 0; i < in.samples.size(); ++i) {
      ASSERT_FLOAT_EQ(out.samples[i], c.factor * in.samples[i]) << i;
    }
  }
  EXPECT_NE(readText(path("log.txt")).find("process"), std::string::npos);
}

TEST_F(TinyRender, TailRendersSilenceThroughThePlugin) {
  writeAudio(path("in.wav"), testSignal(2, 8000, 500));
  ASSERT_EQ(render({"in.wav", "out.wav", "--tail", "0.5"}).exitCode, 0);
  const Audio out = readAudio(path("out.wav"));
  ASSERT_EQ(out.frames(), 500 + 4000);
  for (std::size_t i = 2 * 500; i < out.samples.size(); ++i) {
    ASSERT_EQ(out.samples[i], 0.0f);
  }
}

}  // namespace

namespace {

TEST_F(TinyRender, ValuesInThePluginsUnitsAreFoundOnAScratchInstance) {
  const Audio in = testSignal(2, 44100, 700);
  writeAudio(path("in.wav"), in);
  ASSERT_EQ(render({"in.wav", "out.wav", "--set", "out level=0.25u"}).exitCode,
            0);
  const Audio out = readAudio(path("out.wav"));
  ASSERT_EQ(out.samples.size(), in.samples.size());
  for (std::size_t i = 0; i < in.samples.size(); ++i) {
    ASSERT_EQ(out.samples[i], 0.25f * in.samples[i]) << i;
  }
}

}  // namespace
