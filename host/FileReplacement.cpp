// Exclusive temporary files beside their targets, synced and renamed.
#include "FileReplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "HostError.h"
#include "Interruption.h"
#include "UnnamedFile.h"
#include "Warnings.h"

namespace korvane {

namespace fs = std::filesystem;

namespace {

// The hidden temporary beside the target; mkstemp fills in the X's. Short
// and fixed, it fits every folder's name limit.
constexpr const char* kTemporaryPrefix = ".korvane-";
constexpr const char* kTemporaryRandom = "XXXXXX";

// Gives the temporary the mode, owner and group of the file it replaces,
// or the mode of a new file. Returns what could not be kept ("" for all).
std::string takeOver(int fd, const std::string& target) {
  struct stat old = {};
  if (stat(target.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    return "";
  }
  // Only root gives a file away; a member of the old group may still keep
  // that. Without the owner, the set-id bits would be handed to someone
  // else, so they go too.
  const bool owned = fchown(fd, old.st_uid, old.st_gid) == 0;
  if (!owned) fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  fchmod(fd, old.st_mode & (owned ? 07777 : 0777));
  struct stat now = {};
  fstat(fd, &now);
  std::string lost;
  if (now.st_uid != old.st_uid) {
    lost = "owner (user " + std::to_string(old.st_uid) + ")";
  }
  if (now.st_gid != old.st_gid) {
    lost += (lost.empty() ? "" : " and ") + std::string("group (") +
            std::to_string(old.st_gid) + ")";
  }
  return lost;
}

// A file system that cannot flush folders (EINVAL) keeps no less for it.
void syncFolder(const std::string& folder, const std::string& target) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // the rename happened; a missing sync is not a loss
  const bool synced = fsync(fd) == 0 || errno == EINVAL;
  const std::string reason = systemReason();
  close(fd);
  if (!synced) {
    throw failure("cannot flush the folder " + folder + " after writing " +
                  target + ": " + reason + "; " + target +
                  " is in place, but whether it survives a crash or power "
                  "failure is unknown");
  }
}

}  // namespace

std::string systemReason() { return std::strerror(errno); }

std::string folderOf(const std::string& path) {
  const fs::path p(path);
  return p.has_parent_path() ? p.parent_path().string() : ".";
}

ReplacementFile::ReplacementFile(const std::string& target)
    : target_(target), replaces_(access(target.c_str(), F_OK) == 0) {
  const std::string folder = folderOf(target);
  // Unnamed until complete where the file system allows: nothing to remove
  // after any ending, a kill included.
  fd_ = openUnnamed(folder);
  if (fd_ >= 0) {
    registerUnfinishedFile("");
    lost_ = takeOver(fd_, target);
    return;
  }
  const std::string pattern =
      (fs::path(folder) / (std::string(kTemporaryPrefix) + kTemporaryRandom))
          .string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // The handlers must know the file from the moment it exists.
  const SignalHold hold;
  // mkstemp opens with O_CREAT | O_EXCL, and so never through a link.
  fd_ = mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) {
    throw failure("cannot create a file in " + folder + " for " + target +
                  ": " + systemReason());
  }
  temporary_ = name.data();
  registerUnfinishedFile(temporary_.c_str());
  lost_ = takeOver(fd_, target);
}

std::string ReplacementFile::keptNote() const {
  return replaces_ ? "the file that was there is kept" : "no file was created";
}

ReplacementFile::~ReplacementFile() { discard(); }

void ReplacementFile::commit() {
  if (fsync(fd_) != 0) {
    const std::string reason = systemReason();
    discard();
    throw failure("cannot write " + target_ + ": " + reason + "; " +
                  keptNote());
  }
  const SignalHold hold;
  if (temporary_.empty()) {
    // Named only now that it is complete, and at once renamed.
    temporary_ = nameUnnamed(fd_, folderOf(target_), kTemporaryPrefix, target_);
    registerUnfinishedFile(temporary_.c_str());
  }
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const std::string reason = systemReason();
    discard();
    throw failure("cannot move the written file to " + target_ + ": " + reason);
  }
  temporary_.clear();
  clearUnfinishedFile();
  close(fd_);
  fd_ = -1;
  if (!lost_.empty()) {
    warn("replaced " + target_ + " without its " + lost_ +
         ", which the system does not let you give it; it has yours instead");
  }
  syncFolder(folderOf(target_), target_);
}

void ReplacementFile::discard() {
  const SignalHold hold;
  if (fd_ >= 0) {
    close(fd_);
    if (!temporary_.empty()) unlink(temporary_.c_str());
    clearUnfinishedFile();
  }
  fd_ = -1;
  temporary_.clear();
}

void writeTextFile(const std::string& target, const std::string& text) {
  ReplacementFile file(target);
  if (!writeAll(file.fd(), text.data(), text.size())) {
    throw failure("cannot write " + target + ": " + systemReason());
  }
  file.commit();
}

bool writeAll(int fd, const char* data, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    errno = 0;
    const ssize_t wrote = write(fd, data + done, size - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (errno == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace korvane
