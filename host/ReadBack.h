// Reading a finished OUT back before it takes the path: it must hold every
// frame rendered.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace korvane {

// Why the finished file on `fd` is not whole; empty when it is. The file is
// read from its start through a second descriptor and must open as audio of
// `format`. A container of fixed-size samples (PCM, float, u-law, A-law)
// must count exactly the `written` frames in its header and be large
// enough to hold them; other formats are decoded, since their encoders may
// drop frames: they must decode to `written` frames (a lossy codec may add
// its padding), and a FLAC's header is not asked.
// `onDecoded` hears the frames decoded so far, for a progress display.
std::string notWhole(int fd, int format, int channels, int64_t written,
                     const std::function<void(int64_t)>& onDecoded = nullptr);

// True when notWhole() decodes a file of `format` whole, rather than read
// its header.
bool decodesWhole(int format);

// libsndfile's reason for failing to open a file, without its placeholder
// for errors it has no text for.
std::string openReason();

}  // namespace korvane
