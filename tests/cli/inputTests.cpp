// Bad and unusual input handled: parameter files with odd bytes, OUT
// extensions korvane cannot write, compressed input, --bits, samples that
// are not numbers, and a truncated IN.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

namespace fs = std::filesystem;

class Input : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    writeAudio(path("in.wav"), testSignal(2, 44100, 2000));
  }
  CliResult tiny(std::vector<std::string> args) const {
    args.insert(args.begin(), "render");
    args.insert(args.end(), {"--plugin", TINYFX_PATH, "-q"});
    return run(args);
  }
};

TEST_F(Input, ParameterFileWithByteOrderMarkAndCrlf) {
  writeText(path("p.params"),
            "\xEF\xBB\xBF# saved on another system\r\nout level = 0.5\r\n");
  const CliResult r = tiny({"in.wav", "out.wav", "--params", "p.params"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Audio in = readAudio(path("in.wav"));
  EXPECT_EQ(readAudio(path("out.wav")).samples[1000], 0.5f * in.samples[1000]);
}

TEST_F(Input, ParameterFilesThatAreNotTextAreRefusedWithFileAndLine) {
  writeText(path("nul.params"),
            std::string("out level = 0.5\nfault = 0\0 1\n", 30));
  writeText(path("long.params"), "out level = 0." + std::string(5000, '5'));
  writeText(path("big.params"), std::string(1024 * 1024 + 1, '\n'));
  const struct {
    const char* file;
    const char* message;
  } cases[] = {
      {"nul.params", "nul.params:2: NUL byte"},
      {"long.params", "long.params:1: line longer than 4 KiB"},
      {"big.params", "big.params: larger than 1 MiB"},
  };
  for (const auto& c : cases) {
    const CliResult r = tiny({"in.wav", "out.wav", "--params", c.file});
    EXPECT_EQ(r.exitCode, 2) << c.file;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  // An endless file: a zero device of the test's own.
  if (geteuid() == 0) {
    ASSERT_EQ(mknod(path("zero").c_str(), S_IFCHR | 0644, makedev(1, 5)), 0);
    const CliResult r = tiny({"in.wav", "out.wav", "--params", "zero"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("zero: larger than 1 MiB"), std::string::npos)
        << r.err;
  }
  EXPECT_FALSE(fs::exists(path("out.wav")));
}

TEST_F(Input, ANameSetTwiceInAFileIsWarnedOfWithBothLines) {
  writeText(path("p.params"), "OUT LEVEL = 0.5\nfault = 0\nout-level = 0.25\n");
  const CliResult r = tiny({"in.wav", "out.wav", "--params", "p.params"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err,
            "korvane: warning: p.params:3: \"out-level\" is also set on line "
            "1; line 3 wins\n");
}

TEST_F(Input, ExtensionsKorvaneCannotWriteAreUsageErrors) {
  for (const char* out : {"out.raw", "out.data", "out.wav.bak", "out.opus"}) {
    const CliResult r = run({"render", "in.wav", out});
    EXPECT_EQ(r.exitCode, 2) << out << ": " << r.err;
    EXPECT_FALSE(fs::exists(path(out)));
  }
  const CliResult raw = run({"render", "in.wav", "out.raw"});
  EXPECT_NE(raw.err.find("korvane cannot write .raw files; it writes .wav, "
                         ".aif, .aiff, .flac, .ogg, .oga"),
            std::string::npos)
      << raw.err;
  // Opus takes only its own rates.
  EXPECT_NE(run({"render", "in.wav", "out.opus"})
                .err.find("cannot write 2-channel 44100 Hz audio as .opus"),
            std::string::npos);
}

// Each lossy format this build writes: by default at a quality to keep
// (MP3's best), and --quality from the smallest file to the best.
TEST_F(Input, LossyFormatsTakeAQuality) {
  writeAudio(path("in48.wav"), testSignal(2, 48000, 48000));
  const NamedFormat cases[] = {
      {"out.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
      {"out.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
      {"out.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
  };
  for (const auto& c : cases) {
    std::vector<std::uintmax_t> sizes;
    for (const char* quality : {"0", "", "1"}) {
      std::vector<std::string> args = {"in48.wav", c.name};
      if (quality[0] != '\0') args.insert(args.end(), {"--quality", quality});
      const CliResult r = tiny(args);
      if (r.err.find("cannot write .") != std::string::npos) break;
      ASSERT_EQ(r.exitCode, 0) << c.name << ": " << r.err;
      EXPECT_EQ(readAudio(path(c.name)).format, c.format) << c.name;
      sizes.push_back(fs::file_size(path(c.name)));
    }
    if (sizes.size() < 3) continue;
    EXPECT_LT(sizes[0], sizes[1]) << c.name;
    // Only MP3's default is its best.
    EXPECT_EQ(sizes[1] < sizes[2], c.format != cases[2].format) << c.name;
  }
}

TEST_F(Input, CompressedAndEightBitInputBecomesPlainPcm) {
  const struct {
    const char* in;
    int inFormat;
    const char* out;
    std::vector<std::string> bits;
    int outFormat;
  } cases[] = {
      {"ulaw.wav",
       SF_FORMAT_WAV | SF_FORMAT_ULAW,
       "out.wav",
       {},
       SF_FORMAT_WAV | SF_FORMAT_PCM_24},
      {"alaw.wav",
       SF_FORMAT_WAV | SF_FORMAT_ALAW,
       "out",
       {},
       SF_FORMAT_WAV | SF_FORMAT_PCM_24},
      {"ima.wav",
       SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM,
       "out.aiff",
       {},
       SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
      {"u8.wav",
       SF_FORMAT_WAV | SF_FORMAT_PCM_U8,
       "out.wav",
       {},
       SF_FORMAT_WAV | SF_FORMAT_PCM_24},
      {"s8.aiff",
       SF_FORMAT_AIFF | SF_FORMAT_PCM_S8,
       "out.flac",
       {},
       SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
      {"ulaw.wav",
       SF_FORMAT_WAV | SF_FORMAT_ULAW,
       "out.wav",
       {"--bits", "16"},
       SF_FORMAT_WAV | SF_FORMAT_PCM_16},
      {"float.wav",
       SF_FORMAT_WAV | SF_FORMAT_FLOAT,
       "out.flac",
       {},
       SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
      {"float.wav",
       SF_FORMAT_WAV | SF_FORMAT_FLOAT,
       "out.aif",
       {},
       SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
      {"pcm32.wav",
       SF_FORMAT_WAV | SF_FORMAT_PCM_32,
       "out.wav",
       {"--bits", "float"},
       SF_FORMAT_WAV | SF_FORMAT_FLOAT},
      {"pcm16.flac",
       SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
       "out.wav",
       {"--bits", "32"},
       SF_FORMAT_WAV | SF_FORMAT_PCM_32},
  };
  for (const auto& c : cases) {
    writeAudio(path(c.in), testSignal(2, 44100, 1000, c.inFormat));
    std::vector<std::string> args = {"render", c.in, c.out, "-q"};
    args.insert(args.end(), c.bits.begin(), c.bits.end());
    const CliResult r = run(args);
    ASSERT_EQ(r.exitCode, 0) << c.in << " " << c.out << ": " << r.err;
    EXPECT_EQ(readAudio(path(c.out)).format, c.outFormat)
        << c.in << " -> " << c.out;
    fs::remove(path(c.out));
  }
}

TEST_F(Input, BitsTheContainerCannotTakeAreUsageErrors) {
  const struct {
    const char* out;
    const char* bits;
    const char* message;
  } cases[] = {
      {"out.flac", "float", ".flac cannot hold the samples of --bits float"},
      {"out.ogg", "16", "--bits does not apply to .ogg, a compressed format"},
      {"out.wav", "12", "--bits takes 16, 24, 32 or float; got \"12\""},
  };
  for (const auto& c : cases) {
    const CliResult r = run({"render", "in.wav", c.out, "--bits", c.bits});
    EXPECT_EQ(r.exitCode, 2) << c.out;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path(c.out)));
  }
}

TEST_F(Input, SamplesOfInThatAreNotNumbersAreBlamedOnIn) {
  Audio audio = testSignal(2, 44100, 3000);
  audio.samples[2 * 1234 + 1] = std::numeric_limits<float>::infinity();
  writeAudio(path("bad.wav"), audio);
  for (const char* dry : {"--dry", "--block=64"}) {
    const CliResult r = tiny({"bad.wav", "out.wav", dry});
    EXPECT_EQ(r.exitCode, 1) << dry;
    EXPECT_EQ(r.err,
              "korvane: IN bad.wav holds a sample that is not a finite number "
              "at frame 1234; nothing was written\n");
  }
  EXPECT_FALSE(fs::exists(path("out.wav")));
}

// Damaged and empty input: whatever decodes is rendered, with a warning
// that gives the count; only an input of which nothing decodes fails.
TEST_F(Input, DamagedInputIsRenderedAsFarAsItDecodesWithAWarning) {
  writeAudio(path("full.wav"),
             testSignal(2, 44100, 10000, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
  writeAudio(path("full.flac"),
             testSignal(2, 44100, 40000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
  writeAudio(path("empty.wav"),
             Audio{2, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16, {}});
  const auto cut = [this](const char* from, const char* to, uintmax_t bytes) {
    fs::copy_file(path(from), path(to));
    fs::resize_file(path(to), bytes);
  };
  // The 44-byte header and the first 5000 frames of 4 bytes.
  cut("full.wav", "cut.wav", 44 + 5000 * 4);
  cut("full.flac", "half.flac", fs::file_size(path("full.flac")) / 2);
  cut("full.flac", "stub.flac", 200);
  const struct {
    const char* name;
    int exitCode;
    int64_t frames;       // of OUT; -1: as many as the warning counts
    const char* message;  // stderr, with %d for the frames of OUT
  } cases[] = {
      {"cut.wav", 0, 5000,
       "korvane: warning: IN cut.wav is shorter than its header says "
       "(truncated?); read %d frames\n"},
      {"half.flac", 0, -1,
       "korvane: warning: IN half.flac is damaged: it stops decoding after "
       "%d frames (flac decoder lost sync); rendered the frames read\n"},
      {"stub.flac", 1, -1,
       "korvane: error reading IN stub.flac: flac decoder lost sync\n"},
      {"empty.wav", 0, 0,
       "korvane: warning: IN empty.wav holds no audio (0 frames), so OUT "
       "out.wav is empty\n"},
      {"full.wav", 0, 10000, ""},
      {"full.flac", 0, 40000, ""},
  };
  for (const auto& c : cases) {
    fs::remove(path("out.wav"));
    const CliResult r = tiny({c.name, "out.wav"});
    EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.err;
    EXPECT_EQ(fs::exists(path("out.wav")), c.exitCode == 0) << c.name;
    const int64_t frames =
        c.exitCode == 0 ? readAudio(path("out.wav")).frames() : -1;
    EXPECT_EQ(frames, c.frames < 0 ? frames : c.frames) << c.name;
    char message[512];
    std::snprintf(message, sizeof message, c.message, static_cast<int>(frames));
    EXPECT_EQ(r.err, message) << c.name;
  }
}

}  // namespace
