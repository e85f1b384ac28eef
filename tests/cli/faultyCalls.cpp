// Preloaded into the tool to make system calls fail as a troubled disk
// would, with no device involved:
//   FAULTY_FOLDER_FSYNC=ERRNO  fsync of a folder fails with ERRNO;
//   FAULTY_DISK_BYTES=N        writes to a file (not the standard streams)
//                              past its first N bytes fail with ENOSPC.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {
template <typename Call>
Call next(const char* name) {
  return reinterpret_cast<Call>(dlsym(RTLD_NEXT, name));
}

long setting(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atol(value) : -1;
}
}  // namespace

extern "C" int fsync(int fd) {
  struct stat status = {};
  const long error = setting("FAULTY_FOLDER_FSYNC");
  if (error > 0 && fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    errno = static_cast<int>(error);
    return -1;
  }
  return next<int (*)(int)>("fsync")(fd);
}

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  const long room = setting("FAULTY_DISK_BYTES");
  const off_t at = fd > STDERR_FILENO ? lseek(fd, 0, SEEK_CUR) : -1;
  if (room >= 0 && at >= 0) {
    if (at >= room) {
      errno = ENOSPC;
      return -1;
    }
    if (static_cast<long>(size) > room - at) {
      size = static_cast<size_t>(room - at);
    }
  }
  return next<ssize_t (*)(int, const void*, size_t)>("write")(fd, data, size);
}
