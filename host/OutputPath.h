// What OUT names: the regular file a render replaces or creates, found
// through symbolic links, or the null device.
#pragma once

#include <string>

namespace korvane {

struct OutputTarget {
  // The file to replace or create: OUT with its symbolic links followed, so
  // that the links stay and their target gets the audio.
  std::string path;
  // OUT is the null device: the render runs and nothing is written.
  bool discard = false;
};

// Throws a usage error (exit 2) when OUT exists and is neither a regular
// file nor the null device (a directory, another device, a FIFO, a socket),
// when its links lead nowhere or round in a circle, and, unless `force`,
// when it is a write-protected regular file (no write permission for the
// user in its mode, whoever the user is; root too, as with any file that
// has no write bit at all).
OutputTarget resolveOutput(const std::string& out, bool force);

}  // namespace korvane
