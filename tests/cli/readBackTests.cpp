// The read-back of a finished OUT, called directly: a PCM container is
// judged by its header and size, the other formats by a whole decode, and
// both report a damaged file as a whole decode counts it; a decode tells
// how far it is.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "CliRun.h"
#include "ReadBack.h"
#include "TestAudio.h"

namespace {

constexpr int kChannels = 2;
constexpr int64_t kFrames = 4800;

class ReadBack : public CliTest {};

// The frames libsndfile decodes from the file, as the read-back used to
// count them for every format; -1 when it does not open.
int64_t decodedFrames(const std::string& file) {
  SF_INFO info = {};
  SNDFILE* sound = sf_open(file.c_str(), SFM_READ, &info);
  if (sound == nullptr) return -1;
  std::vector<float> buffer(static_cast<std::size_t>(kFrames * kChannels));
  int64_t frames = 0;
  for (sf_count_t got = 0;
       (got = sf_readf_float(sound, buffer.data(), kFrames)) > 0;) {
    frames += got;
  }
  sf_close(sound);
  return frames;
}

std::string readBack(const std::string& file, int format, int64_t written) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0) << file;
  std::string fault = korvane::notWhole(fd, format, kChannels, written);
  close(fd);
  return fault;
}

TEST_F(ReadBack, AgreesWithAWholeDecode) {
  for (const int format :
       {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_AIFF | SF_FORMAT_PCM_24,
        SF_FORMAT_CAF | SF_FORMAT_FLOAT, SF_FORMAT_RF64 | SF_FORMAT_PCM_32,
        SF_FORMAT_FLAC | SF_FORMAT_PCM_16}) {
    SCOPED_TRACE(format);
    const std::string file = path("out");
    writeAudio(file, testSignal(kChannels, 48000, kFrames, format));
    EXPECT_EQ(readBack(file, format, kFrames), "");
    int64_t heard = 0;
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    korvane::notWhole(fd, format, kChannels, kFrames,
                      [&heard](int64_t decoded) { heard = decoded; });
    close(fd);
    EXPECT_EQ(heard, korvane::decodesWhole(format) ? kFrames : 0);
    // More frames rendered than the file counts: a lost write.
    EXPECT_EQ(readBack(file, format, kFrames + 1),
              "it holds 4800 of the 4801 frames rendered");
    // The file shorter than its header says: the frames it still holds.
    std::filesystem::resize_file(file, std::filesystem::file_size(file) - 999);
    const int64_t held = decodedFrames(file);
    ASSERT_GE(held, 0);
    EXPECT_EQ(readBack(file, format, kFrames), "it holds " +
                                                   std::to_string(held) +
                                                   " of the 4800 frames "
                                                   "rendered");
  }
}

}  // namespace
