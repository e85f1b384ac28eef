// Small generated audio files for the tool's tests, through libsndfile.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

struct Audio {
  int channels = 0;
  int sampleRate = 0;
  int format = 0;
  std::vector<float> samples;  // interleaved
  int64_t frames() const {
    return channels > 0 ? static_cast<int64_t>(samples.size()) / channels : 0;
  }
};

// A file name and the format it is written in or expected to have.
struct NamedFormat {
  const char* name;
  int format;
};

// Repeatable test signal: a sine with a click every 1000 frames (the clicks
// trigger korvane's capture), a little different on each channel.
Audio testSignal(int channels, int sampleRate, int64_t frames,
                 int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT);

void writeAudio(const std::string& path, const Audio& audio);
// Fails the test (and returns empty audio) when the file cannot be read.
Audio readAudio(const std::string& path);
