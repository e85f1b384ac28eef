// The host as other plug-ins rely on it, seen by the tiny test plug-in in
// its misbehaving and reconfigured forms: file calls in chunks, hostile
// records refused, the time record of a playing transport, one instance per
// channel for a mono plug-in, and delay compensation.
#include <cstdlib>
#include <sstream>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

class Host : public CliTest {
 protected:
  CliResult render(std::vector<std::string> args, Environment environment) {
    args.insert(args.begin(), "render");
    args.insert(args.end(), {"--plugin", TINYFX_PATH, "-q"});
    environment.emplace_back("TINYFX_LOG", path("log.txt"));
    return run(args, environment);
  }
  std::vector<std::string> logLines(const std::string& word) const {
    std::vector<std::string> lines;
    std::istringstream log(readText(path("log.txt")));
    for (std::string line; std::getline(log, line);) {
      if (line.rfind(word, 0) == 0) lines.push_back(line);
    }
    return lines;
  }
};

// The kernel's count of a system call kind in the io log.
long count(const std::string& io, const std::string& name) {
  const std::size_t at = io.find(name + ": ");
  return at == std::string::npos ? -1
                                 : std::atol(io.c_str() + at + name.size() + 2);
}

TEST_F(Host, ReadsAndWritesInChunksWhateverTheBlockSize) {
  // The calls a render of `frames` makes, loading and set-up included.
  const auto calls = [this](int64_t frames, const std::string& name) {
    writeAudio(path("in.wav"), testSignal(2, 44100, frames));
    const CliResult r = run({"render", "in.wav", "out.wav", "--block", "1",
                             "--plugin", TINYFX_PATH, "-q"},
                            {{"TINYFX_IO_LOG", path("io.txt")}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readAudio(path("out.wav")).samples,
              readAudio(path("in.wav")).samples);
    return count(readText(path("io.txt")), name);
  };
  // Twenty thousand frames more: a call a frame would be twenty thousand
  // more of each.
  for (const char* name : {"syscr", "syscw"}) {
    const long shorter = calls(1000, name);
    const long longer = calls(21000, name);
    ASSERT_GE(shorter, 0) << name;
    EXPECT_LT(longer - shorter, 10) << name;
  }
}

TEST_F(Host, HostileRecordsAreRefusedAndClosed) {
  writeAudio(path("in.wav"), testSignal(2, 44100, 100));
  const struct {
    const char* variable;
    const char* value;
    const char* message;
  } cases[] = {
      {"TINYFX_NULL_SLOT", "get",
       "reports 2 parameters but has no "
       "getParameter routine"},
      {"TINYFX_NULL_SLOT", "set",
       "reports 2 parameters but has no "
       "setParameter routine"},
      {"TINYFX_PARAMS", "100000",
       "reports 100000 parameters (at most 1024 "
       "are accepted)"},
      {"TINYFX_INPUTS", "65",
       "reports 65 inputs and 2 outputs (at most 64 "
       "each are accepted)"},
      {"TINYFX_OUTPUTS", "-1", "reports 2 inputs and -1 outputs"},
  };
  for (const auto& c : cases) {
    for (const char* command : {"render", "info"}) {
      const CliResult r =
          std::string(command) == "info"
              ? run({"info", "--plugin", TINYFX_PATH},
                    {{c.variable, c.value}, {"TINYFX_LOG", path("log.txt")}})
              : render({"in.wav", "out.wav"}, {{c.variable, c.value}});
      EXPECT_EQ(r.exitCode, 1) << c.value;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
      EXPECT_EQ(readText(path("log.txt")), "version 2400\nclose\n")
          << c.variable << "=" << c.value;
      std::remove(path("log.txt").c_str());
    }
  }
}

TEST_F(Host, OverlongTextsAreCutWithoutHarm) {
  const CliResult r =
      run({"info", "--plugin", TINYFX_PATH}, {{"TINYFX_LONG_TEXTS", "3000"}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string cut(63, 'x');
  EXPECT_NE(r.out.find("effect name:    " + cut + "\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("vendor:         " + cut + "\n"), std::string::npos);
}

TEST_F(Host, TheTimeRecordIsThatOfAPlayingTransport) {
  writeAudio(path("in.wav"), testSignal(2, 48000, 32000));
  ASSERT_EQ(render({"in.wav", "out.wav", "--tempo", "600", "--block", "8000"},
                   {{"TINYFX_TIMES", "1"}})
                .exitCode,
            0);
  // 2 playing, 512 quarter notes, 1024 tempo, 2048 bar start, 8192
  // signature; 1 as playback starts.
  const std::vector<std::string> expected = {
      "time pos 0 rate 48000 ppq 0 tempo 600 bar 0 sig 4/4 flags 11779",
      "time pos 8000 rate 48000 ppq 1.66667 tempo 600 bar 0 sig 4/4 "
      "flags 11778",
      "time pos 16000 rate 48000 ppq 3.33333 tempo 600 bar 0 sig 4/4 "
      "flags 11778",
      "time pos 24000 rate 48000 ppq 5 tempo 600 bar 4 sig 4/4 flags 11778",
  };
  EXPECT_EQ(logLines("time"), expected);
  std::remove(path("log.txt").c_str());
  ASSERT_EQ(
      render({"in.wav", "out.wav", "--tempo", "none"}, {{"TINYFX_TIMES", "1"}})
          .exitCode,
      0);
  EXPECT_EQ(logLines("time"), std::vector<std::string>{});
  EXPECT_EQ(logLines("tempo"), std::vector<std::string>{"tempo none"});
}

TEST_F(Host, AMonoPluginRunsOnceForEachChannel) {
  const Audio in = testSignal(2, 44100, 3000);
  writeAudio(path("in.wav"), in);
  const Environment mono = {{"TINYFX_INPUTS", "1"}, {"TINYFX_OUTPUTS", "1"}};
  ASSERT_EQ(
      render({"in.wav", "out.wav", "--set", "out level=0.5"}, mono).exitCode,
      0);
  EXPECT_EQ(logLines("open").size(), 2u);
  const Audio out = readAudio(path("out.wav"));
  ASSERT_EQ(out.samples.size(), in.samples.size());
  for (std::size_t i = 0; i < in.samples.size(); ++i) {
    ASSERT_EQ(out.samples[i], 0.5f * in.samples[i]) << i;
  }
  // One input and two outputs: a mono file only.
  const Environment monoIn = {{"TINYFX_INPUTS", "1"}};
  const CliResult stereo = render({"in.wav", "out2.wav"}, monoIn);
  EXPECT_EQ(stereo.exitCode, 1);
  EXPECT_NE(stereo.err.find(" takes one input and gives 2 outputs; "
                            "it can render a mono file, not a stereo one"),
            std::string::npos)
      << stereo.err;
  writeAudio(path("mono.wav"), testSignal(1, 44100, 3000));
  EXPECT_EQ(render({"mono.wav", "out2.wav"}, monoIn).exitCode, 0);
}

TEST_F(Host, TheReportedDelayIsCompensatedUnlessAskedNotTo) {
  const Audio in = testSignal(2, 44100, 3000);
  writeAudio(path("in.wav"), in);
  for (const bool perChannel : {false, true}) {
    Environment delayed = {{"TINYFX_DELAY", "100"}};
    if (perChannel) {
      delayed.push_back({"TINYFX_INPUTS", "1"});
      delayed.push_back({"TINYFX_OUTPUTS", "1"});
    }
    ASSERT_EQ(
        render({"in.wav", "lined.wav", "--block", "64"}, delayed).exitCode, 0);
    EXPECT_EQ(readAudio(path("lined.wav")).samples, in.samples) << perChannel;

    ASSERT_EQ(render({"in.wav", "late.wav", "--no-delay-compensation"}, delayed)
                  .exitCode,
              0);
    const Audio late = readAudio(path("late.wav"));
    ASSERT_EQ(late.frames(), 3000);
    for (std::size_t i = 0; i < late.samples.size(); ++i) {
      ASSERT_EQ(late.samples[i], i < 200 ? 0.0f : in.samples[i - 200]) << i;
    }
  }
  // The tail comes on top of the frames the delay takes.
  ASSERT_EQ(render({"in.wav", "tail.wav", "--tail", "0.01"},
                   {{"TINYFX_DELAY", "100"}})
                .exitCode,
            0);
  const Audio tail = readAudio(path("tail.wav"));
  ASSERT_EQ(tail.frames(), 3000 + 441);
  EXPECT_EQ(
      std::vector<float>(tail.samples.begin(), tail.samples.begin() + 6000),
      in.samples);
}

}  // namespace
