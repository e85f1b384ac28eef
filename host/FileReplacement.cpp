// Exclusive temporary files beside their targets, synced and renamed.
#include "FileReplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "HostError.h"
#include "Interruption.h"

namespace korvane {

namespace fs = std::filesystem;

namespace {

// What mkstemp appends, and the dot that hides the temporary.
constexpr const char* kUniqueSuffix = ".XXXXXX";
constexpr std::size_t kUniqueBytes = 7;
constexpr std::size_t kHiddenPrefixBytes = 1;
// The name limit when the file system does not say.
constexpr long kDefaultNameMax = 255;

std::string folderOf(const fs::path& target) {
  return target.has_parent_path() ? target.parent_path().string() : ".";
}

// ".NAME.XXXXXX", with NAME cut (at a character boundary of UTF-8) so that
// the whole stays within the folder's name limit.
std::string temporaryName(const std::string& folder, const std::string& name) {
  long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
  if (nameMax <= 0) nameMax = kDefaultNameMax;
  const std::size_t room =
      static_cast<std::size_t>(nameMax) - kHiddenPrefixBytes - kUniqueBytes;
  std::string kept = name.substr(0, std::min(room, name.size()));
  if (kept.size() < name.size()) {
    // Not in the middle of a character: drop continuation bytes and the
    // lead byte they belong to.
    while (!kept.empty() &&
           (static_cast<unsigned char>(kept.back()) & 0xC0) == 0x80) {
      kept.pop_back();
    }
    if (!kept.empty() && (static_cast<unsigned char>(kept.back()) & 0x80)) {
      kept.pop_back();
    }
  }
  return "." + kept + kUniqueSuffix;
}

// Gives the temporary the mode and owner of the file it replaces, or the
// mode of a new file.
void takeOver(int fd, const std::string& target) {
  struct stat old = {};
  if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    // The owner only where the system lets us; without it the set-id bits
    // would be handed to someone else.
    const bool owned = fchown(fd, old.st_uid, old.st_gid) == 0;
    const mode_t keep = owned ? 07777 : 0777;
    fchmod(fd, old.st_mode & keep);
    return;
  }
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
}

void syncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // the rename happened; a missing sync is not a loss
  fsync(fd);
  close(fd);
}

}  // namespace

std::string systemReason() { return std::strerror(errno); }

ReplacementFile::ReplacementFile(const std::string& target) : target_(target) {
  const fs::path path(target);
  const std::string folder = folderOf(path);
  const std::string pattern =
      (fs::path(folder) / temporaryName(folder, path.filename().string()))
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
  takeOver(fd_, target);
}

ReplacementFile::~ReplacementFile() { discard(); }

void ReplacementFile::commit() {
  if (fsync(fd_) != 0) {
    const std::string reason = systemReason();
    discard();
    throw failure("cannot write " + target_ + ": " + reason +
                  "; the file that was there is kept");
  }
  const SignalHold hold;
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const std::string reason = systemReason();
    discard();
    throw failure("cannot move the written file to " + target_ + ": " + reason);
  }
  temporary_.clear();
  clearUnfinishedFile();
  close(fd_);
  fd_ = -1;
  syncFolder(folderOf(fs::path(target_)));
}

void ReplacementFile::discard() {
  const SignalHold hold;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    clearUnfinishedFile();
  }
  temporary_.clear();
}

void writeTextFile(const std::string& target, const std::string& text) {
  ReplacementFile file(target);
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t wrote =
        write(file.fd(), text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      throw failure("cannot write " + target + ": " + systemReason());
    }
    done += static_cast<std::size_t>(wrote);
  }
  file.commit();
}

}  // namespace korvane
