// Copying a stream into a scratch file.
#include "StreamCopy.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "FileReplacement.h"
#include "HostError.h"
#include "UnnamedFile.h"

namespace korvane {

namespace {
constexpr std::size_t kCopyBytes = 1 << 20;
}  // namespace

CopyFault copyAll(int from, int to) {
  std::vector<char> buffer(kCopyBytes);
  for (;;) {
    const ssize_t got = read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return CopyFault::kReading;
    if (got == 0) return CopyFault::kNone;
    if (!writeAll(to, buffer.data(), static_cast<std::size_t>(got))) {
      return CopyFault::kWriting;
    }
  }
}

int seekable(int fd, const std::string& name) {
  if (lseek(fd, 0, SEEK_CUR) >= 0) return fd;
  const int copy = openScratchFile("a copy of IN " + name);
  const CopyFault fault = copyAll(fd, copy);
  if (fault != CopyFault::kNone) {
    const std::string reason = systemReason();
    close(copy);
    if (fault == CopyFault::kReading) {
      throw failure("error reading IN " + name + ": " + reason);
    }
    throw failure("cannot keep a copy of IN " + name + " to read it from: " +
                  reason + "; TMPDIR may name a folder with more room");
  }
  lseek(copy, 0, SEEK_SET);
  return copy;
}

}  // namespace korvane
