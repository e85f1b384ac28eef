// Reading and writing audio files through libsndfile.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "OutputPath.h"

namespace korvane {

class ReplacementFile;

// IN named "-": standard input.
constexpr const char* kStandardStream = "-";

// An audio file opened for reading, closed with the object.
class InputFile {
 public:
  // "-" reads standard input. Throws HostError (exit 1) naming the file and
  // the reason when it cannot be opened (the system's reason), is a folder,
  // or is not an audio format libsndfile knows.
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // The path, or "standard input".
  const std::string& name() const { return name_; }
  int channels() const { return info_.channels; }
  int sampleRate() const { return info_.samplerate; }
  // The frames the file holds; meaningful only when lengthKnown().
  int64_t frames() const { return info_.frames; }
  // False for a stream (a pipe) and for a header that leaves the length
  // open (a data size of 0xFFFFFFFF, as recorders and pipes write it): the
  // length is then known only once the input has been read.
  bool lengthKnown() const { return lengthKnown_; }
  int format() const { return info_.format; }
  // True when, after `framesRead` frames, the header promised more audio
  // than the file held.
  bool truncated(int64_t framesRead) const;
  // Bytes after a WAV header that declares no audio (a recorder that
  // stopped before it wrote the length); 0 otherwise.
  int64_t undeclaredBytes() const { return undeclaredBytes_; }

  // Reads up to `frames` interleaved frames; fewer only at the end, which
  // a damaged file reaches where it stops decoding. Throws HostError (exit
  // 1) when not even the first frame decodes.
  int64_t read(float* interleaved, int64_t frames);
  // Why decoding stopped before the end (libsndfile's reason); empty for an
  // input read whole.
  const std::string& damage() const { return damage_; }

 private:
  std::string name_;
  SF_INFO info_ = {};
  SNDFILE* file_ = nullptr;
  bool lengthKnown_ = true;
  bool lengthOpen_ = false;  // the header leaves the length open
  bool promisesMore_ = false;
  int64_t undeclaredBytes_ = 0;
  int64_t framesRead_ = 0;
  std::string damage_;
};

// An audio file written through a ReplacementFile and moved into place
// only by commit(), after the written file has been read back whole;
// dropped without commit, it leaves nothing behind and the path untouched,
// also when a signal ends the tool. For the null device nothing is written
// at all; for standard output the file is written into a scratch file and
// copied out by commit().
class OutputFile {
 public:
  // `format` as chosen by outputFormat(); `quality` (0 to 1) that of a
  // lossy codec.
  OutputFile(const OutputTarget& target, int format, int channels,
             int sampleRate, double quality);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Samples beyond -1..+1 are clipped when the format stores integers.
  // Throws HostError (exit 1) when the file cannot take them.
  void write(const float* interleaved, int64_t frames);
  // Finishes the file, reads it back and renames it onto the path. Throws
  // HostError (exit 1) naming the path and the reason when the file is not
  // whole (it decodes to fewer frames than were written: a full disk, a
  // size limit); the path then keeps what it held.
  // `onDecoded` hears the frames read back so far.
  void commit(const std::function<void(int64_t)>& onDecoded = nullptr);

 private:
  // What a failed write leaves behind, for messages.
  std::string keptNote() const;

  std::string path_;
  std::unique_ptr<ReplacementFile> file_;
  int scratch_ = -1;  // standard output's file until commit()
  SNDFILE* sound_ = nullptr;
  int format_ = 0;
  int channels_ = 0;
  int64_t written_ = 0;
  int64_t maxFrames_ = 0;
  bool diskFull_ = false;  // a write failed with ENOSPC
};

// True when both paths name the same file, existing or not.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace korvane
