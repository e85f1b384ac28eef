// The read-back of a finished OUT: the header of a PCM container, the whole
// decode of a compressed one.
#include "ReadBack.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "Interruption.h"
#include "OutputFormat.h"

namespace korvane {

namespace {

// Frames decoded per call when a compressed file is read back.
constexpr int64_t kVerifyChunkFrames = 65536;
// A lossy codec may decode to up to this many frames more than it was
// given (its own padding), never fewer.
constexpr int64_t kCodecPaddingFrames = 4096;

// Containers whose header counts the frames of fixed-size samples.
constexpr int kCountingContainers[] = {SF_FORMAT_WAV, SF_FORMAT_WAVEX,
                                       SF_FORMAT_AIFF, SF_FORMAT_RF64,
                                       SF_FORMAT_CAF};

// Runs one libsndfile call with stderr silenced when `quiet`: the MP3
// decoder behind libsndfile prints its own notes on a damaged file there,
// which are not the tool's to show. Only that call is silenced; the signal
// handlers keep writing to the real stderr meanwhile.
template <typename Call>
auto silenced(bool quiet, Call call) {
  const int saved =
      quiet ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1) : -1;
  const int sink = saved >= 0 ? open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
  if (sink >= 0) {
    redirectMessages(saved);
    dup2(sink, STDERR_FILENO);
    close(sink);
  }
  auto result = call();
  if (sink >= 0) {
    dup2(saved, STDERR_FILENO);
    redirectMessages(STDERR_FILENO);
  }
  if (saved >= 0) close(saved);
  return result;
}

std::string holds(int64_t frames, int64_t written) {
  return "it holds " + std::to_string(frames) + " of the " +
         std::to_string(written) + " frames rendered";
}

// The frames a decode of the whole file gives; `failed` tells whether it
// ended on an error.
int64_t decodedFrames(SNDFILE* file, int channels, bool quiet, bool& failed,
                      const std::function<void(int64_t)>& onDecoded) {
  std::vector<float> buffer(
      static_cast<std::size_t>(kVerifyChunkFrames * channels));
  int64_t decoded = 0;
  for (sf_count_t got = 0;
       (got = silenced(quiet, [&] {
          return sf_readf_float(file, buffer.data(), kVerifyChunkFrames);
        })) > 0;) {
    decoded += got;
    if (onDecoded) onDecoded(decoded);
  }
  failed = sf_error(file) != SF_ERR_NO_ERROR;
  return decoded;
}

}  // namespace

std::string openReason() {
  const std::string reason = sf_strerror(nullptr);
  if (reason.empty() || reason.find("No error") != std::string::npos) {
    return "not an audio file korvane can read";
  }
  return reason;
}

bool decodesWhole(int format) {
  return bytesPerSample(format) == 0 ||
         std::count(std::begin(kCountingContainers),
                    std::end(kCountingContainers),
                    format & SF_FORMAT_TYPEMASK) == 0;
}

std::string notWhole(int fd, int format, int channels, int64_t written,
                     const std::function<void(int64_t)>& onDecoded) {
  const int reader = dup(fd);
  if (reader < 0 || lseek(reader, 0, SEEK_SET) != 0) {
    const std::string reason = std::strerror(errno);
    if (reader >= 0) close(reader);
    return "it cannot be read back (" + reason + ")";
  }
  const bool quiet = (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
  SF_INFO info = {};
  SNDFILE* file = silenced(
      quiet, [&] { return sf_open_fd(reader, SFM_READ, &info, SF_TRUE); });
  if (file == nullptr) {
    return "it does not open as audio (" + openReason() + ")";
  }
  const int64_t declared = info.frames;
  const int64_t frameBytes = int64_t{bytesPerSample(format)} * channels;
  if (!decodesWhole(format)) {
    // libsndfile counts no more frames than the file's size holds; the size
    // is checked here as well, so that nothing rests on that.
    sf_close(file);
    struct stat status = {};
    const int64_t size = fstat(fd, &status) == 0 ? status.st_size : 0;
    const int64_t held = std::min(declared, size / frameBytes);
    return held == written && declared == written ? "" : holds(held, written);
  }
  bool failed = false;
  const int64_t decoded =
      decodedFrames(file, channels, quiet, failed, onDecoded);
  silenced(quiet, [&] { return sf_close(file); });
  const bool lossy = isLossy(format);
  const int64_t most = written + (lossy ? kCodecPaddingFrames : 0);
  const bool exactHeader =
      !lossy && (format & SF_FORMAT_TYPEMASK) != SF_FORMAT_FLAC;
  if (failed || decoded < written || decoded > most ||
      (exactHeader && declared != written)) {
    return holds(decoded, written);
  }
  return "";
}

}  // namespace korvane
