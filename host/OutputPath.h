// What OUT names: the regular file a render replaces or creates, found
// through symbolic links, or the null device.
#pragma once

#include <string>

namespace korvane {

struct OutputTarget {
  // The file to replace or create: OUT with its symbolic links followed, so
  // that the links stay and their target gets the audio. A link that leads
  // nowhere yet gives the path its target will have.
  std::string path;
  // OUT is the null device: the render runs and nothing is written.
  bool discard = false;
  // OUT is standard output ("-", or a name of it such as /dev/stdout): a
  // WAV stream, written once the file is complete and read back.
  bool stream = false;
};

// What messages call OUT when it is standard output.
constexpr const char* kStandardOutputName = "standard output";

// Throws a usage error (exit 2) when OUT exists and is neither a regular
// file nor the null device (a directory, another device, a FIFO, a socket),
// when its links go round in a circle, and, unless `force`, when it is a
// write-protected regular file (the system denies the user writing it, or
// its mode has no write bit at all, which holds root off too). Throws a
// failure (exit 1) when the target's folder cannot be written, which
// `force` cannot change, and when OUT leads through a link that another
// user made in a sticky, world-writable folder (such as /tmp) they do not
// own: the system refuses to follow those for an open, and so does this.
// OUT "-", or a name of standard output, is a stream; a usage error when
// standard output is a terminal, which takes no audio.
OutputTarget resolveOutput(const std::string& out, bool force);

}  // namespace korvane
