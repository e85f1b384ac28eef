// Following OUT's symbolic links and checking what kind of file it is.
#include "OutputPath.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "HostError.h"

namespace korvane {

namespace fs = std::filesystem;

namespace {

// As many links as the system itself follows before it gives up.
constexpr int kMaxLinks = 40;
// The null device's numbers on Linux.
constexpr unsigned kNullMajor = 1;
constexpr unsigned kNullMinor = 3;

std::string kindOf(const struct stat& status) {
  if (S_ISDIR(status.st_mode)) return "a directory";
  if (S_ISCHR(status.st_mode)) return "a character device";
  if (S_ISBLK(status.st_mode)) return "a block device";
  if (S_ISFIFO(status.st_mode)) return "a FIFO";
  if (S_ISSOCK(status.st_mode)) return "a socket";
  return "not a regular file";
}

// True when the mode denies the user writing: the owner's bit for the
// owner, the group's for a member, the others' otherwise. Root may write
// anything, so for root a file is protected only when no write bit is set.
bool writeProtected(const struct stat& status) {
  const uid_t user = geteuid();
  if (user == 0) return (status.st_mode & 0222) == 0;
  if (status.st_uid == user) return (status.st_mode & S_IWUSR) == 0;
  if (status.st_gid == getegid()) return (status.st_mode & S_IWGRP) == 0;
  return (status.st_mode & S_IWOTH) == 0;
}

}  // namespace

OutputTarget resolveOutput(const std::string& out, bool force) {
  fs::path path(out);
  for (int links = 0;; ++links) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(path, ec))) break;
    if (links == kMaxLinks) {
      throw usageError("OUT " + out + ": too many levels of symbolic links");
    }
    const fs::path target = fs::read_symlink(path, ec);
    if (ec) throw failure("cannot read the link " + path.string());
    path = target.is_absolute() ? target : path.parent_path() / target;
  }

  OutputTarget result{path.string(), false};
  struct stat status = {};
  if (stat(result.path.c_str(), &status) != 0) return result;  // a new file
  if (S_ISREG(status.st_mode)) {
    if (writeProtected(status) && !force) {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%04o",
                    static_cast<unsigned>(status.st_mode & 07777));
      throw usageError("OUT " + out + " is write-protected (mode " + mode +
                       "); --force replaces it, keeping that mode");
    }
    return result;  // a regular file to replace
  }
  if (S_ISCHR(status.st_mode) && major(status.st_rdev) == kNullMajor &&
      minor(status.st_rdev) == kNullMinor) {
    result.discard = true;
    return result;
  }
  const std::string via =
      result.path == out ? ""
                         : " (the target of the link, " + result.path + ")";
  throw usageError("OUT " + out + via + " is " + kindOf(status) +
                   "; korvane writes only regular files (or discards the "
                   "audio for the null device), so it was left alone");
}

}  // namespace korvane
