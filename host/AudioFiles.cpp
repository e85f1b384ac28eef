// libsndfile input, and output through a temporary file.
#include "AudioFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "HostError.h"
#include "Interruption.h"

namespace korvane {

namespace fs = std::filesystem;

namespace {

// Room for libsndfile's notes on the header of an input file.
constexpr std::size_t kLogBytes = 8192;

std::string systemError() { return std::strerror(errno); }

// libsndfile shortens the audio to what the file holds, and notes a data
// chunk that claims more as "(should be ...)" in its log of the header.
bool headerPromisesMore(SNDFILE* file) {
  char log[kLogBytes] = {};
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log - 1);
  for (const char* line = log; *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    const std::string text(line,
                           end != nullptr ? end : line + std::strlen(line));
    if ((text.rfind("data", 0) == 0 || text.rfind("SSND", 0) == 0) &&
        text.find("(should be") != std::string::npos) {
      return true;
    }
    line = end != nullptr ? end + 1 : line + text.size();
  }
  return false;
}

}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    throw failure("input file " + path + " does not exist");
  }
  if (fs::is_directory(path, ec)) {
    throw failure("input " + path + " is a directory, not an audio file");
  }
  file_ = sf_open(path.c_str(), SFM_READ, &info_);
  if (file_ == nullptr) {
    throw failure("cannot read " + path + ": " + sf_strerror(nullptr));
  }
  if (info_.channels > 2) {
    const int channels = info_.channels;
    sf_close(file_);
    throw failure(path + " has " + std::to_string(channels) +
                  " channels; only mono and stereo files can be rendered");
  }
  truncated_ = headerPromisesMore(file_);
}

InputFile::~InputFile() { sf_close(file_); }

int64_t InputFile::read(float* interleaved, int64_t frames) {
  const sf_count_t got = sf_readf_float(file_, interleaved, frames);
  if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR) {
    throw failure("error reading " + path_ + ": " + sf_strerror(file_));
  }
  return got;
}

OutputFile::OutputFile(const OutputTarget& target, int format, int channels,
                       int sampleRate)
    : path_(target.path) {
  if (target.discard) return;
  createTemporary(format, channels, sampleRate);
}

void OutputFile::createTemporary(int format, int channels, int sampleRate) {
  const std::string& path = path_;
  const fs::path target(path);
  const fs::path dir =
      target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string pattern =
      (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // The handlers must know the file from the moment it exists.
  const SignalHold hold;
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    throw failure("cannot create a file in " + dir.string() + ": " +
                  systemError());
  }
  tempPath_ = name.data();
  registerUnfinishedFile(tempPath_.c_str());
  // mkstemp makes the file private; give it the mode a new file would get.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);

  SF_INFO info = {};
  info.format = format;
  info.channels = channels;
  info.samplerate = sampleRate;
  file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
  if (file_ == nullptr) {
    const std::string reason = sf_strerror(nullptr);
    close(fd);
    discard();
    throw failure("cannot write " + path + ": " + reason);
  }
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::write(const float* interleaved, int64_t frames) {
  if (file_ == nullptr) return;  // discarding
  if (sf_writef_float(file_, interleaved, frames) != frames) {
    throw failure("error writing " + path_ + ": " + sf_strerror(file_));
  }
}

void OutputFile::commit() {
  if (file_ == nullptr) return;  // discarding
  const int closed = sf_close(file_);
  file_ = nullptr;
  if (closed != 0) {
    throw failure("error writing " + path_ + ": " + sf_error_number(closed));
  }
  const SignalHold hold;
  if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
    throw failure("cannot move the rendered file to " + path_ + ": " +
                  systemError());
  }
  tempPath_.clear();
  clearUnfinishedFile();
}

void OutputFile::discard() {
  if (file_ != nullptr) sf_close(file_);
  file_ = nullptr;
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
  tempPath_.clear();
  clearUnfinishedFile();
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

}  // namespace korvane
