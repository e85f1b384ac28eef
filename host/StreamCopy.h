// Copies between a stream and a scratch file. An input that cannot be
// sought in (a pipe, a FIFO) is copied whole into a scratch file first, so
// that it reads exactly as the same file would: libsndfile seeks in most
// containers to read them right.
#pragma once

#include <string>

namespace korvane {

// `fd` itself when it can be sought in; else a scratch file holding
// everything `fd` gives until its end, read from its start (the caller
// closes both). Throws HostError (exit 1) naming `name` when reading or
// copying fails (a full scratch folder).
int seekable(int fd, const std::string& name);

// Copies everything `from` gives until its end onto `to`. Answers which
// side failed (errno set), if one did.
enum class CopyFault { kNone, kReading, kWriting };
CopyFault copyAll(int from, int to);

}  // namespace korvane
