// Renders through korvane itself: lengths, channels, range and formats.
#include <algorithm>
#include <cmath>

#include "CliRun.h"
#include "TestAudio.h"

namespace {

// A replacing render is korvane's grains alone: clipped, never NaN.
void expectFiniteInRange(const Audio& audio) {
  for (float s : audio.samples) {
    ASSERT_TRUE(std::isfinite(s));
    ASSERT_LE(std::fabs(s), 1.0f);
  }
}

double rms(const Audio& audio) {
  double sum = 0.0;
  for (float s : audio.samples) sum += static_cast<double>(s) * s;
  return audio.samples.empty() ? 0.0 : std::sqrt(sum / audio.samples.size());
}

using KorvaneRender = CliTest;

TEST_F(KorvaneRender, StereoKeepsLengthAndChannelsAndMakesSound) {
  writeAudio(path("in.wav"), testSignal(2, 44100, 30000));
  const CliResult r = run({"render", "in.wav", "out.wav", "--seed", "7"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  // No progress bar when stderr is not a terminal: the summary line alone.
  EXPECT_EQ(r.err.find("korvane: rendered 0.680 s, peak "), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  const Audio out = readAudio(path("out.wav"));
  EXPECT_EQ(out.channels, 2);
  EXPECT_EQ(out.sampleRate, 44100);
  EXPECT_EQ(out.frames(), 30000);
  expectFiniteInRange(out);
  // The clicks start a capture and the default grains play it back.
  EXPECT_GT(rms(out), 1e-3);
}

// "pos" is a fraction of the loop that the render uses: with one sixteenth
// at 120 bpm (5512 samples), 0.5 is cell 2756, which a capture starting at
// frame 1000 reaches at frame 3756. Short grains start every 63 frames, so
// the render sounds within 63 frames of it.
TEST_F(KorvaneRender, PositionIsAFractionOfTheRendersLoop) {
  Audio in;
  in.channels = 2;
  in.sampleRate = 44100;
  in.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  in.samples.assign(2 * 6000, 0.0f);
  std::fill(in.samples.begin() + 2 * 1000, in.samples.end(), 0.5f);
  writeAudio(path("in.wav"), in);
  const CliResult r = run({"render", "in.wav", "out.wav", "--set", "bsize=0",
                           "--set", "rec-thrsh=0.1", "--set", "st-rate=0",
                           "--set", "len=0", "--set", "pos=0.5"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const Audio out = readAudio(path("out.wav"));
  const auto sounding = std::find_if(out.samples.begin(), out.samples.end(),
                                     [](float s) { return s != 0.0f; });
  const int64_t onset = (sounding - out.samples.begin()) / 2;
  EXPECT_GE(onset, 3756);
  EXPECT_LT(onset, 3756 + 63);
}

TEST_F(KorvaneRender, TailLengthensTheRenderAtAnyBlockSizeAndRate) {
  writeAudio(path("in.wav"), testSignal(1, 48000, 9000));
  for (const char* block : {"1", "333", "8192"}) {
    const CliResult r = run({"render", "in.wav", "out.wav", "--block", block,
                             "--tail", "0.25", "--tempo", "none"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Audio out = readAudio(path("out.wav"));
    EXPECT_EQ(out.channels, 1) << block;
    EXPECT_EQ(out.sampleRate, 48000) << block;
    EXPECT_EQ(out.frames(), 9000 + 12000) << block;
    expectFiniteInRange(out);
  }
}

TEST_F(KorvaneRender, OutputFormatFollowsTheExtensionElseTheInput) {
  // (An extension korvane does not write is an error: see inputTests.)
  writeAudio(path("in.wav"),
             testSignal(2, 44100, 5000, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
  const NamedFormat cases[] = {
      {"out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"out.AIFF", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
      {"out.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
      {"out", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
  };
  for (const auto& c : cases) {
    const CliResult r = run({"render", "in.wav", c.name});
    ASSERT_EQ(r.exitCode, 0) << c.name << ": " << r.err;
    const Audio out = readAudio(path(c.name));
    EXPECT_EQ(out.format, c.format) << c.name;
    EXPECT_EQ(out.frames(), 5000) << c.name;
  }
}

TEST_F(KorvaneRender, SettingsByAnySpellingAndFromAFile) {
  writeAudio(path("in.wav"), testSignal(2, 44100, 5000));
  writeText(path("my.params"),
            "# a comment line\n\nREC THRSH = 0.2  # trailing comment\n"
            "pos jitter=1\n");
  const CliResult r =
      run({"render", "--set", "Len_Jitter=0.5", "in.wav", "out.wav", "--params",
           "my.params", "--set", "p-jitter=1", "--dry"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readAudio(path("out.wav")).frames(), 5000);
}

}  // namespace
