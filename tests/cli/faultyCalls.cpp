// Preloaded into the tool to fail system calls as a troubled disk would,
// with no device involved: FAULTY_FSYNC=ERRNO fails the flush of a folder,
// FAULTY_BYTES=N fails with ENOSPC a write that would take a file (not a
// standard stream) past N bytes, and FAULTY_NO_TMPFILE refuses unnamed
// files (O_TMPFILE) as a file system without them does.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>

// The tool calls open (not open64), with a mode for O_TMPFILE.
extern "C" int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
  const mode_t mode =
      (flags & O_CREAT) != 0 || unnamed ? va_arg(arguments, mode_t) : 0;
  va_end(arguments);
  if (unnamed && std::getenv("FAULTY_NO_TMPFILE") != nullptr) {
    errno = EOPNOTSUPP;
    return -1;
  }
  using Open = int (*)(const char*, int, ...);
  return reinterpret_cast<Open>(dlsym(RTLD_NEXT, "open"))(path, flags, mode);
}

extern "C" int fsync(int fd) {
  const char* error = std::getenv("FAULTY_FSYNC");
  struct stat status = {};
  if (error != nullptr && fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    errno = std::atoi(error);
    return -1;
  }
  return reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"))(fd);
}

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  const char* room = std::getenv("FAULTY_BYTES");
  const off_t at = fd > STDERR_FILENO ? lseek(fd, 0, SEEK_CUR) : -1;
  if (room != nullptr && at >= 0 &&
      at + static_cast<off_t>(size) > std::atol(room)) {
    errno = ENOSPC;
    return -1;
  }
  using Write = ssize_t (*)(int, const void*, size_t);
  return reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"))(fd, data, size);
}
