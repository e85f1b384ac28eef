// Writing and reading the tests' audio files.
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <cmath>

Audio testSignal(int channels, int sampleRate, int64_t frames, int format) {
  Audio audio{channels, sampleRate, format, {}};
  for (int64_t k = 0; k < frames; ++k) {
    for (int c = 0; c < channels; ++c) {
      const double sine = 0.4 * std::sin(0.01 * (c + 1) * k);
      audio.samples.push_back(
          static_cast<float>(k % 1000 == 0 ? sine + 0.5 : sine));
    }
  }
  return audio;
}

void writeAudio(const std::string& path, const Audio& audio) {
  SF_INFO info = {};
  info.channels = audio.channels;
  info.samplerate = audio.sampleRate;
  info.format = audio.format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(sf_writef_float(file, audio.samples.data(), audio.frames()),
            audio.frames());
  sf_close(file);
}

Audio readAudio(const std::string& path) {
  SF_INFO info = {};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
  if (file == nullptr) return {};
  Audio audio{info.channels, info.samplerate, info.format, {}};
  audio.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(file, audio.samples.data(), info.frames);
  sf_close(file);
  return audio;
}
