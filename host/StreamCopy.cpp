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

int seekable(int fd, const std::string& name) {
  if (lseek(fd, 0, SEEK_CUR) >= 0) return fd;
  const int copy = openScratchFile("a copy of IN " + name);
  std::vector<char> buffer(kCopyBytes);
  for (;;) {
    const ssize_t got = read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const std::string reason = systemReason();
      close(copy);
      throw failure("error reading IN " + name + ": " + reason);
    }
    if (got == 0) break;
    if (!writeAll(copy, buffer.data(), static_cast<std::size_t>(got))) {
      const std::string reason = systemReason();
      close(copy);
      throw failure("cannot keep a copy of IN " + name + " to read it from: " +
                    reason + "; TMPDIR may name a folder with more room");
    }
  }
  lseek(copy, 0, SEEK_SET);
  return copy;
}

}  // namespace korvane
