// Broken and unusual input: WAV headers that leave the length open or
// declare no audio, standard input and names that start with '-', empty
// values, and OUT names at the file system's limit.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

namespace fs = std::filesystem;

class UnusualInput : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    writeAudio(path("in.wav"),
               testSignal(2, 44100, 4410, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
  }
  // A copy of in.wav whose data chunk declares `size` bytes.
  void writeWithDataSize(const std::string& name, uint32_t size) {
    std::string bytes = readText(path("in.wav"));
    const std::size_t data = bytes.find("data");
    ASSERT_NE(data, std::string::npos);
    for (int i = 0; i < 4; ++i) {
      bytes[data + 4 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    }
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  // Runs a shell command line in the scratch folder; `$K` is the tool.
  int shell(const std::string& line) const {
    const std::string command =
        "cd '" + dir_ +
        "' && export TMPDIR=\"$PWD\" && K='" KORVANE_TOOL "' && " + line +
        " 2>err.txt";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

// A data size of 0xFFFFFFFF (a recorder or a pipe that did not know the
// length) is the length actually read, from a file or from a pipe: a
// short render stays a plain WAV and an AIFF is not refused.
TEST_F(UnusualInput, AnOpenLengthIsTheLengthRead) {
  writeWithDataSize("open.wav", 0xFFFFFFFF);
  for (const char* line :
       {"$K render open.wav out.wav -q", "$K render open.wav out.aiff -q",
        "cat open.wav | $K render - out.wav -q",
        "cat open.wav | $K render - out.aiff -q"}) {
    ASSERT_EQ(shell(line), 0) << line << ": " << readText(path("err.txt"));
    EXPECT_EQ(readText(path("err.txt")), "") << line;  // no warning either
    const std::string out = std::string(line).find("aiff") != std::string::npos
                                ? "out.aiff"
                                : "out.wav";
    const Audio audio = readAudio(path(out));
    EXPECT_EQ(audio.frames(), 4410) << line;
    EXPECT_NE(audio.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64) << line;
  }
}

// IN through a pipe or a FIFO reads as the file in every container, and
// OUT "-" or /dev/stdout is the WAV a file gets in each sample format
// (samples and format: a float WAV's peak chunk holds a time), unwarned.
TEST_F(UnusualInput, StreamsCarryWhatFilesDo) {
  const NamedFormat containers[] = {
      {"pcm.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
      {"in.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
      {"in.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16},
      {"in.w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT},
      {"in.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"in.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
  };
  ASSERT_EQ(shell("mkfifo fifo"), 0);
  const std::string render = "$K render --seed 1 -q ";
  std::vector<std::pair<std::string, std::string>> lines;  // file, stream
  for (const auto& c : containers) {
    writeAudio(path(c.name), testSignal(2, 44100, 4410, c.format));
    const std::string in = c.name, file = render + in + " file.wav";
    lines.push_back({file, "cat " + in + " | " + render + "- pipe.wav"});
    lines.push_back(
        {file, "(cat " + in + " > fifo &) && " + render + "fifo pipe.wav"});
  }
  for (const std::string out : {"-", "/dev/stdout"}) {
    for (const std::string bits : {"", " --bits float", " --bits 24"}) {
      lines.push_back({render + "in.wav file.wav" + bits,
                       render + "in.wav " + out + bits + " | cat > pipe.wav"});
    }
  }
  for (const auto& [file, stream] : lines) {
    ASSERT_EQ(shell(file), 0) << file;
    ASSERT_EQ(shell(stream), 0) << stream << ": " << readText(path("err.txt"));
    EXPECT_EQ(readText(path("err.txt")), "") << stream;
    const Audio a = readAudio(path("pipe.wav")),
                b = readAudio(path("file.wav"));
    EXPECT_EQ(a.format, b.format) << stream;
    EXPECT_EQ(a.samples, b.samples) << stream;
    EXPECT_EQ(a.frames(), 4410) << stream;
  }
}

TEST_F(UnusualInput, AHeaderThatDeclaresNoAudioIsNamedWithTheRepair) {
  writeWithDataSize("cut.wav", 0);
  const CliResult r = run({"render", "cut.wav", "out.wav", "-q"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err,
            "korvane: warning: IN cut.wav declares no audio in its header, "
            "though 17640 bytes follow it (a recording cut off before its "
            "header was finished?); repair it, for example with `sox "
            "--ignore-length cut.wav repaired.wav`, and render that\n");
}

// "-" is standard input for IN and --params (OUT "-": see above); `--` ends
// the options and a name starting with '-' without it is named with both
// ways out.
TEST_F(UnusualInput, DashAndDoubleDash) {
  fs::copy_file(path("in.wav"), path("-"));
  fs::copy_file(path("in.wav"), path("-take1.wav"));
  writeText(path("bad.params"), "volume = 1\n");
  const struct {
    const char* line;
    int exitCode;
    const char* output;   // the file it writes, if any
    const char* message;  // part of stderr
  } cases[] = {
      {"$K render - out.wav -q < in.wav", 0, "out.wav", ""},
      {"cat in.wav | $K render - out.flac -q", 0, "out.flac", ""},
      {"$K render ./- out2.wav -q", 0, "out2.wav", ""},
      {"$K render -q -- -take1.wav out3.wav", 0, "out3.wav", ""},
      {"$K render -q in.wav -- -out.wav", 0, "-out.wav", ""},
      {"$K render in.wav out5.wav --params - < bad.params", 2, nullptr,
       "standard input:1: unknown parameter \"volume\""},
      {"$K render -take1.wav out4.wav", 2, nullptr,
       "unknown option '-take1.wav' of 'render'; if it is a file name, put "
       "-- before it (korvane render -- -take1.wav) or write ./-take1.wav"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shell(c.line), c.exitCode) << c.line;
    EXPECT_NE(readText(path("err.txt")).find(c.message), std::string::npos)
        << c.line << ": " << readText(path("err.txt"));
    if (c.output != nullptr) {
      EXPECT_EQ(readAudio(path(c.output)).frames(), 4410) << c.line;
    }
  }
  EXPECT_FALSE(fs::exists(path("out4.wav")));
}

// An empty string is a usage error before anything is loaded or rendered,
// wherever it stands.
TEST_F(UnusualInput, EmptyValuesAreUsageErrorsUpFront) {
  const std::vector<std::vector<std::string>> cases = {
      {"render", "in.wav", ""},
      {"render", "", "out.wav"},
      {"render", "in.wav", "out.wav", "--plugin", ""},
      {"render", "in.wav", "out.wav", "--bits", ""},
      {"render", "in.wav", "out.wav", "--tail", ""},
      {"render", "in.wav", "out.wav", "--tempo", ""},
      {"render", "in.wav", "out.wav", "--block", ""},
      {"render", "in.wav", "out.wav", "--seed", ""},
      {"render", "in.wav", "out.wav", "--params", ""},
      {"render", "in.wav", "out.wav", "--set", ""},
      {"info", "--plugin", ""},
      {"demo", ""},
  };
  const std::vector<std::string> before = files();
  for (std::vector<std::string> args : cases) {
    if (args.front() == "render" && args.size() == 3) {
      args.insert(args.end(), {"--plugin", TINYFX_PATH});
    }
    const CliResult r = run(args, {{"TINYFX_LOG", path("log.txt")}});
    EXPECT_EQ(r.exitCode, 2) << args.size() << ": " << r.err;
    EXPECT_NE(r.err.find("is an empty string; give a value"), std::string::npos)
        << r.err;
    EXPECT_EQ(files(), before) << r.err;  // not even the plug-in's log
  }
}

// OUT names up to the file system's limit (255 bytes here), in one-byte
// and in two-byte characters; one byte more is the system's refusal.
TEST_F(UnusualInput, OutNamesUpToTheLimit) {
  const auto name = [](std::size_t bytes, const std::string& unit) {
    std::string text;
    while (text.size() + unit.size() + 4 <= bytes) text += unit;
    return text + std::string(bytes - 4 - text.size(), 'x') + ".wav";
  };
  for (const std::string& out :
       {name(248, "a"), name(250, "a"), name(255, "a"), name(255, "\xC3\xA9"),
        name(254, "\xC3\xA9")}) {
    const CliResult r = run({"render", "in.wav", out, "-q"});
    EXPECT_EQ(r.exitCode, 0) << out.size() << ": " << r.err;
    EXPECT_EQ(readAudio(path(out)).frames(), 4410) << out.size();
    fs::remove(path(out));
  }
  EXPECT_EQ(files(), std::vector<std::string>{"in.wav"});
  const CliResult tooLong = run({"render", "in.wav", name(256, "a")});
  EXPECT_EQ(tooLong.exitCode, 1);
  EXPECT_NE(tooLong.err.find("File name too long"), std::string::npos)
      << tooLong.err;
}

}  // namespace
