// The choice of OUT's format, tested directly: writing 4 GiB to see RF64
// chosen would take too long.
#include <gtest/gtest.h>
#include <sndfile.h>

#include "HostError.h"
#include "OutputFormat.h"

namespace {

using korvane::FormatRequest;
using korvane::outputFormat;

FormatRequest request(const char* out, int inputFormat, int64_t frames) {
  FormatRequest r;
  r.outPath = out;
  r.inputFormat = inputFormat;
  r.channels = 2;
  r.sampleRate = 96000;
  r.frames = frames;
  return r;
}

// 2 channels of 64-bit float: 16 bytes a frame.
constexpr int kDouble = SF_FORMAT_WAV | SF_FORMAT_DOUBLE;
constexpr int64_t kFramesIn4GiB = (int64_t{1} << 32) / 16;

TEST(OutputFormat, AWavBeyond4GiBIsWrittenAsRf64) {
  EXPECT_EQ(outputFormat(request("a.wav", kDouble, 1000)), kDouble);
  EXPECT_EQ(outputFormat(request("a.wav", kDouble, kFramesIn4GiB - 1000)),
            kDouble);
  EXPECT_EQ(outputFormat(request("a.wav", kDouble, kFramesIn4GiB)),
            SF_FORMAT_RF64 | SF_FORMAT_DOUBLE);
  // An hour at 96 kHz, as --tail allows.
  EXPECT_EQ(outputFormat(request("a", kDouble, 3600 * 96000)),
            SF_FORMAT_RF64 | SF_FORMAT_DOUBLE);
  // FLAC counts its length in 36 bits.
  EXPECT_EQ(outputFormat(request("a.flac", kDouble, kFramesIn4GiB)),
            SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
}

TEST(OutputFormat, AnAiffBeyond4GiBIsRefusedBeforeRendering) {
  try {
    outputFormat(request("a.aiff", kDouble, kFramesIn4GiB));
    FAIL() << "no error";
  } catch (const korvane::HostError& e) {
    EXPECT_EQ(e.exitCode(), 2);
    EXPECT_NE(std::string(e.what()).find("RF64"), std::string::npos);
  }
}

}  // namespace
