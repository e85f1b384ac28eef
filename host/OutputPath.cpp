// Following OUT's symbolic links and checking what kind of file it is.
#include "OutputPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "FileReplacement.h"
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

// The system's rule for links in sticky, world-writable folders: only the
// user who made the link, or the folder's owner, has it followed.
void refuseForeignLink(const std::string& out, const fs::path& link,
                       const struct stat& status) {
  struct stat folder = {};
  if (status.st_uid == geteuid() ||
      stat(folderOf(link.string()).c_str(), &folder) != 0 ||
      (folder.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH) ||
      folder.st_uid == status.st_uid) {
    return;
  }
  throw failure("OUT " + out + " leads through the link " + link.string() +
                " of user " + std::to_string(status.st_uid) + " in " +
                folderOf(link.string()) +
                ", a sticky folder that anyone may write in and that they do "
                "not own; such links are not followed, so nothing was "
                "written");
}

// "-", or a name of the pipe or socket that standard output is
// (/dev/stdout, whose link the system gives no path for then).
bool namesStandardOutput(const std::string& out) {
  struct stat named = {};
  struct stat output = {};
  return out == "-" ||
         (stat(out.c_str(), &named) == 0 &&
          fstat(STDOUT_FILENO, &output) == 0 &&
          (S_ISFIFO(output.st_mode) || S_ISSOCK(output.st_mode)) &&
          named.st_dev == output.st_dev && named.st_ino == output.st_ino);
}

}  // namespace

OutputTarget resolveOutput(const std::string& out, bool force) {
  if (namesStandardOutput(out)) {
    if (isatty(STDOUT_FILENO) != 0) {
      throw usageError("OUT " + out +
                       " is standard output, which is a terminal; pipe it "
                       "into another tool (korvane render in.wav - | sox - "
                       "out.flac) or name a file");
    }
    return {kStandardOutputName, false, true};
  }
  fs::path path(out);
  struct stat status = {};
  for (int links = 0;
       lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode); ++links) {
    refuseForeignLink(out, path, status);
    std::error_code ec;
    const fs::path target = fs::read_symlink(path, ec);
    if (ec) throw failure("cannot read the link " + path.string());
    if (links == kMaxLinks) {
      throw usageError("OUT " + out + ": too many levels of symbolic links");
    }
    path = path.parent_path() / target;
  }

  OutputTarget result{path.string(), false, false};
  const bool exists = stat(result.path.c_str(), &status) == 0;
  if (exists && S_ISCHR(status.st_mode) &&
      major(status.st_rdev) == kNullMajor &&
      minor(status.st_rdev) == kNullMinor) {
    result.discard = true;
    return result;
  }
  if (exists && !S_ISREG(status.st_mode)) {
    const std::string via =
        result.path == out ? ""
                           : " (the target of the link, " + result.path + ")";
    throw usageError("OUT " + out + via + " is " + kindOf(status) +
                     "; korvane writes only regular files (or discards the "
                     "audio for the null device), so it was left alone");
  }
  // The temporary file and the rename need the folder; --force cannot help.
  const std::string folder = folderOf(result.path);
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0 &&
      errno != ENOENT) {
    const std::string reason = systemReason();
    throw failure("OUT " + out + " cannot be written: the folder " + folder +
                  " does not let you (" + reason +
                  "), and --force cannot change that");
  }
  // Root may write anything, so a file with no write bit at all is
  // protected from root too.
  if (exists && !force &&
      ((status.st_mode & 0222) == 0 ||
       faccessat(AT_FDCWD, result.path.c_str(), W_OK, AT_EACCESS) != 0)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o",
                  static_cast<unsigned>(status.st_mode & 07777));
    throw usageError("OUT " + out + " is write-protected (mode " + mode +
                     "); --force replaces it, keeping that mode");
  }
  return result;
}

}  // namespace korvane
