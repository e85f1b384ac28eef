// Reading and writing audio files through libsndfile.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

#include "OutputPath.h"

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

  const std::string& path() const { return path_; }
  int channels() const { return info_.channels; }
  int sampleRate() const { return info_.samplerate; }
  int64_t frames() const { return info_.frames; }
  int format() const { return info_.format; }
  // True when the header promised more audio than the file holds;
  // frames() then counts what it holds.
  bool truncated() const { return truncated_; }

  // Reads up to `frames` interleaved frames; fewer only at the end.
  int64_t read(float* interleaved, int64_t frames);

 private:
  std::string path_;
  SF_INFO info_ = {};
  SNDFILE* file_ = nullptr;
  bool truncated_ = false;
};

// An audio file written to a temporary file beside its path and moved into
// place only by commit(); dropped without commit, it leaves nothing behind
// and the path untouched, also when a signal ends the tool. For the null
// device nothing is written at all.
class OutputFile {
 public:
  // `format` as chosen by outputFormat().
  OutputFile(const OutputTarget& target, int format, int channels,
             int sampleRate);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Samples beyond -1..+1 are clipped when the format stores integers.
  void write(const float* interleaved, int64_t frames);
  void commit();

 private:
  void createTemporary(int format, int channels, int sampleRate);
  void discard();
  std::string path_;
  std::string tempPath_;
  SNDFILE* file_ = nullptr;
};

// True when both paths name the same file, existing or not.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace korvane
