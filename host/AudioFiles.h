// Reading and writing audio files through libsndfile.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace korvane {

// An audio file opened for reading, closed with the object.
class InputFile {
 public:
  // Throws HostError (exit 1) when the file is missing, unreadable or not
  // an audio format libsndfile knows.
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  int channels() const { return info_.channels; }
  int sampleRate() const { return info_.samplerate; }
  int64_t frames() const { return info_.frames; }
  int format() const { return info_.format; }

  // Reads up to `frames` interleaved frames; fewer only at the end.
  int64_t read(float* interleaved, int64_t frames);

 private:
  std::string path_;
  SF_INFO info_ = {};
  SNDFILE* file_ = nullptr;
};

// An audio file written to a temporary file beside its path and moved into
// place only by commit(); dropped without commit, it leaves nothing behind
// and the path untouched.
class OutputFile {
 public:
  // `format` as chosen by outputFormat().
  OutputFile(const std::string& path, int format, int channels, int sampleRate);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Samples beyond -1..+1 are clipped when the format stores integers.
  void write(const float* interleaved, int64_t frames);
  void commit();

 private:
  void discard();
  std::string path_;
  std::string tempPath_;
  SNDFILE* file_ = nullptr;
};

// The format of OUT: IN's own, unless OUT's extension names another
// container (wav, aif/aiff, flac, ogg/oga). Throws exit 1 when that
// container cannot hold the audio.
int outputFormat(const std::string& outPath, int inputFormat, int channels,
                 int sampleRate);

// True when both paths name the same file, existing or not.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace korvane
