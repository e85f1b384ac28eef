// libsndfile input, temporary-file output and the choice of output format.
#include "AudioFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "HostError.h"

namespace korvane {

namespace fs = std::filesystem;

namespace {

struct Container {
  const char* extension;
  int major;
  int fallbackSubtype;  // when the input's encoding does not fit
};

// Extensions that pick a container; anything else keeps the input's.
constexpr Container kContainers[] = {
    {"wav", SF_FORMAT_WAV, SF_FORMAT_FLOAT},
    {"aif", SF_FORMAT_AIFF, SF_FORMAT_FLOAT},
    {"aiff", SF_FORMAT_AIFF, SF_FORMAT_FLOAT},
    {"flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_24},
    {"ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {"oga", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
};

const Container* containerFor(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  if (extension.empty()) return nullptr;
  extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  for (const Container& container : kContainers) {
    if (extension == container.extension) return &container;
  }
  return nullptr;
}

bool formatFits(int format, int channels, int sampleRate) {
  SF_INFO info = {};
  info.format = format;
  info.channels = channels;
  info.samplerate = sampleRate;
  return sf_format_check(&info) != 0;
}

std::string systemError() { return std::strerror(errno); }

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
}

InputFile::~InputFile() { sf_close(file_); }

int64_t InputFile::read(float* interleaved, int64_t frames) {
  const sf_count_t got = sf_readf_float(file_, interleaved, frames);
  if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR) {
    throw failure("error reading " + path_ + ": " + sf_strerror(file_));
  }
  return got;
}

OutputFile::OutputFile(const std::string& path, int format, int channels,
                       int sampleRate)
    : path_(path) {
  const fs::path target(path);
  const fs::path dir =
      target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string pattern =
      (dir / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    throw failure("cannot create a file in " + dir.string() + ": " +
                  systemError());
  }
  tempPath_ = name.data();
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
  if (sf_writef_float(file_, interleaved, frames) != frames) {
    throw failure("error writing " + path_ + ": " + sf_strerror(file_));
  }
}

void OutputFile::commit() {
  const int closed = sf_close(file_);
  file_ = nullptr;
  if (closed != 0) {
    throw failure("error writing " + path_ + ": " + sf_error_number(closed));
  }
  if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
    throw failure("cannot move the rendered file to " + path_ + ": " +
                  systemError());
  }
  tempPath_.clear();
}

void OutputFile::discard() {
  if (file_ != nullptr) sf_close(file_);
  file_ = nullptr;
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
  tempPath_.clear();
}

int outputFormat(const std::string& outPath, int inputFormat, int channels,
                 int sampleRate) {
  const Container* container = containerFor(outPath);
  const int inputMajor = inputFormat & SF_FORMAT_TYPEMASK;
  if (container == nullptr || container->major == inputMajor) {
    return inputFormat;
  }
  const int keepEncoding = container->major | (inputFormat & SF_FORMAT_SUBMASK);
  if (formatFits(keepEncoding, channels, sampleRate)) return keepEncoding;
  const int fallback = container->major | container->fallbackSubtype;
  if (formatFits(fallback, channels, sampleRate)) return fallback;
  throw failure("cannot write " + std::to_string(channels) + "-channel " +
                std::to_string(sampleRate) + " Hz audio as ." +
                container->extension + " (" + outPath + ")");
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

}  // namespace korvane
