// libsndfile input, and output through a replacement file that is read
// back before it takes the path.
#include "AudioFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "FileReplacement.h"
#include "HostError.h"
#include "Interruption.h"
#include "OutputFormat.h"
#include "ReadBack.h"
#include "StreamCopy.h"
#include "UnnamedFile.h"

namespace korvane {

namespace fs = std::filesystem;

namespace {

// Room for libsndfile's notes on the header of an input file.
constexpr std::size_t kLogBytes = 8192;
// The data size a WAV writer leaves when it does not know the length.
constexpr const char* kOpenLengthNote = "data : 4294967295";
// What a stream on standard input is called in messages.
constexpr const char* kStandardInputName = "standard input";
// How much of a WAV's start is searched for its data chunk.
constexpr std::size_t kRiffSearchBytes = 1 << 16;
constexpr std::size_t kRiffChunkHeaderBytes = 8;
constexpr std::size_t kRiffFormHeaderBytes = 12;

// libsndfile's notes on a file's header, one string.
std::string headerLog(SNDFILE* file) {
  std::vector<char> log(kLogBytes + 1, '\0');
  sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(kLogBytes));
  return log.data();
}

// libsndfile shortens the audio to what the file holds, and notes a data
// chunk that claims more as "(should be ...)" in its log of the header.
bool headerPromisesMore(const std::string& log) {
  for (std::size_t start = 0; start < log.size();) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    start = end + 1;
    if ((line.rfind("data", 0) == 0 || line.rfind("SSND", 0) == 0) &&
        line.find("(should be") != std::string::npos &&
        line.rfind(kOpenLengthNote, 0) != 0) {
      return true;
    }
  }
  return false;
}

uint32_t littleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) |
         static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 |
         static_cast<uint32_t>(bytes[3]) << 24;
}

// The bytes after the data chunk's header of a RIFF WAV whose data chunk
// declares a size of 0; 0 when it declares more or is not found.
int64_t bytesAfterEmptyDataChunk(int fd) {
  struct stat status = {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return 0;
  std::vector<unsigned char> head(kRiffSearchBytes);
  const ssize_t got = pread(fd, head.data(), head.size(), 0);
  if (got < static_cast<ssize_t>(kRiffFormHeaderBytes) ||
      std::memcmp(head.data(), "RIFF", 4) != 0) {
    return 0;
  }
  const auto size = static_cast<std::size_t>(got);
  for (std::size_t at = kRiffFormHeaderBytes;
       at + kRiffChunkHeaderBytes <= size;) {
    const uint32_t length = littleEndian32(&head[at + 4]);
    if (std::memcmp(&head[at], "data", 4) == 0) {
      const int64_t after =
          status.st_size - static_cast<int64_t>(at + kRiffChunkHeaderBytes);
      return length == 0 && after > 0 ? after : 0;
    }
    at += kRiffChunkHeaderBytes + length + (length & 1);
  }
  return 0;
}

// Why libsndfile could not write: the system's reason when there is one
// (libsndfile reports some failed writes of its encoders only as
// "Unspecified internal error"), else libsndfile's.
std::string writeReason(SNDFILE* file, int error) {
  if (error != 0) return std::strerror(error);
  const std::string reason = file != nullptr ? sf_strerror(file) : "";
  return reason.empty() ? "the file could not be finished" : reason;
}

// libsndfile's reason for a failed decode, without its "Error : " and
// final full stop, to stand inside a sentence.
std::string decoderReason(SNDFILE* file) {
  std::string reason = sf_strerror(file);
  const std::string lead = "Error : ";
  if (reason.rfind(lead, 0) == 0) reason.erase(0, lead.size());
  if (!reason.empty() && reason.back() == '.') reason.pop_back();
  return reason;
}

}  // namespace

InputFile::InputFile(const std::string& path) : name_(path) {
  int fd = STDIN_FILENO;
  if (path == kStandardStream) {
    name_ = kStandardInputName;
    if (isatty(fd) != 0) {
      throw usageError(
          "IN - is standard input, which is a terminal; pipe "
          "audio into it (sox in.flac -t wav - | korvane render "
          "- out.wav)");
    }
  } else {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw failure("cannot read IN " + path + ": " + systemReason());
    struct stat status = {};
    if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
      close(fd);
      throw failure("IN " + path + " is a directory, not an audio file");
    }
  }
  // A stream is read from a copy, so that it gives the frames a file would.
  const int source = fd;
  fd = seekable(source, name_);
  if (fd != source && source != STDIN_FILENO) close(source);
  // The descriptor of a file is libsndfile's to close; standard input stays.
  file_ = sf_open_fd(fd, SFM_READ, &info_, fd != STDIN_FILENO);
  if (file_ == nullptr) {
    throw failure("cannot read IN " + name_ + ": " + openReason());
  }
  if (info_.channels > 2) {
    const int channels = info_.channels;
    sf_close(file_);
    throw failure("IN " + name_ + " has " + std::to_string(channels) +
                  " channels; only mono and stereo files can be rendered");
  }
  const std::string log = headerLog(file_);
  promisesMore_ = headerPromisesMore(log);
  lengthOpen_ =
      log.find(std::string("\n") + kOpenLengthNote) != std::string::npos;
  // libsndfile measures a file it can seek in; a stream it cannot.
  lengthKnown_ = info_.seekable != 0;
  if (info_.frames == 0 &&
      (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
    undeclaredBytes_ = bytesAfterEmptyDataChunk(fd);
  }
}

InputFile::~InputFile() { sf_close(file_); }

bool InputFile::truncated(int64_t framesRead) const {
  return promisesMore_ ||
         (!lengthKnown_ && !lengthOpen_ && framesRead < info_.frames);
}

int64_t InputFile::read(float* interleaved, int64_t frames) {
  if (!damage_.empty()) return 0;
  const sf_count_t got = sf_readf_float(file_, interleaved, frames);
  if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR) {
    // A damaged file gives what decodes before the damage, as a truncated
    // one does; one that gives nothing is refused.
    if (framesRead_ + got == 0) {
      throw failure("error reading IN " + name_ + ": " + decoderReason(file_));
    }
    damage_ = decoderReason(file_);
  }
  framesRead_ += got;
  return got;
}

OutputFile::OutputFile(const OutputTarget& target, int format, int channels,
                       int sampleRate, double quality)
    : path_(target.path),
      format_(format),
      channels_(channels),
      maxFrames_(maxFramesOf(format, channels)) {
  if (target.discard) return;
  if (target.stream) {
    scratch_ = openScratchFile("OUT, " + path_);
    registerUnfinishedFile("");
  } else {
    file_ = std::make_unique<ReplacementFile>(path_);
  }
  SF_INFO info = {};
  info.format = format;
  info.channels = channels;
  info.samplerate = sampleRate;
  // The descriptor stays ours: it is synced and read back.
  sound_ =
      sf_open_fd(file_ ? file_->fd() : scratch_, SFM_WRITE, &info, SF_FALSE);
  if (sound_ == nullptr) {
    throw failure("cannot write " + path_ + ": " + openReason());
  }
  sf_command(sound_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  if (isLossy(format)) setQuality(sound_, quality);
  // An RF64 file that stays under 4 GiB is finished as a plain WAV.
  if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64) {
    sf_command(sound_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  }
}

OutputFile::~OutputFile() {
  if (sound_ != nullptr) sf_close(sound_);
  if (scratch_ >= 0) {
    close(scratch_);
    clearUnfinishedFile();
  }
}

std::string OutputFile::keptNote() const {
  return file_ ? file_->keptNote() : "nothing was written to " + path_;
}

void OutputFile::write(const float* interleaved, int64_t frames) {
  if (sound_ == nullptr) return;  // discarding
  if (written_ + frames > maxFrames_) {
    throw failure("the render outgrew what " + path_ +
                  " can hold (4 GiB of audio in an AIFF file); write .wav "
                  "or .flac");
  }
  errno = 0;
  if (sf_writef_float(sound_, interleaved, frames) != frames) {
    throw failure("error writing " + path_ + ": " + writeReason(sound_, errno) +
                  "; " + keptNote());
  }
  // Some encoders do not pass a failed write on; the system's reason stays.
  diskFull_ = diskFull_ || errno == ENOSPC;
  written_ += frames;
}

void OutputFile::commit(const std::function<void(int64_t)>& onDecoded) {
  if (sound_ == nullptr) return;  // discarding
  errno = 0;
  const int closed = sf_close(sound_);
  sound_ = nullptr;
  if (closed != 0) {
    throw failure("error writing " + path_ + ": " +
                  writeReason(nullptr, errno) + "; " + keptNote());
  }
  diskFull_ = diskFull_ || errno == ENOSPC;
  const int fd = file_ ? file_->fd() : scratch_;
  const std::string fault =
      notWhole(fd, format_, channels_, written_, onDecoded);
  if (!fault.empty()) {
    throw failure("error writing " + path_ + ": " +
                  (diskFull_ ? "no space left on device (" + fault + ")"
                             : fault + " (is the disk full?)") +
                  "; " + keptNote());
  }
  if (file_) {
    file_->commit();
    return;
  }
  lseek(scratch_, 0, SEEK_SET);
  const CopyFault copied = copyAll(scratch_, STDOUT_FILENO);
  if (copied != CopyFault::kNone) {
    throw failure(std::string(copied == CopyFault::kReading
                                  ? "cannot read back the audio for "
                                  : "cannot write ") +
                  path_ + ": " + systemReason());
  }
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

}  // namespace korvane
