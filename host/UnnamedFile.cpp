// Unnamed files through O_TMPFILE, and the names they get once complete.
#include "UnnamedFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <vector>

#include "FileReplacement.h"
#include "HostError.h"
#include "Interruption.h"

namespace korvane {

namespace {

// Where a descriptor can be named from without privileges.
constexpr const char* kDescriptorFolder = "/proc/self/fd/";
// Random characters after the prefix, and attempts before giving up.
constexpr int kNameCharacters = 6;
constexpr int kNameAttempts = 100;
constexpr const char kNameAlphabet[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
// The scratch files' folder when $TMPDIR is not set.
constexpr const char* kDefaultScratchFolder = "/tmp";
constexpr const char* kScratchName = "korvane-XXXXXX";

bool canNameLater() { return access(kDescriptorFolder, X_OK) == 0; }

// AT_EMPTY_PATH needs a privilege; the descriptor's entry under /proc does
// not.
bool link(int fd, const std::string& name) {
  if (linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
  const std::string entry = kDescriptorFolder + std::to_string(fd);
  return linkat(AT_FDCWD, entry.c_str(), AT_FDCWD, name.c_str(),
                AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace

int openUnnamed(const std::string& folder) {
  if (!canNameLater()) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

std::string nameUnnamed(int fd, const std::string& folder,
                        const std::string& prefix, const std::string& what) {
  std::random_device device;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kNameAlphabet - 2);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = folder + "/" + prefix;
    for (int k = 0; k < kNameCharacters; ++k)
      name += kNameAlphabet[pick(device)];
    if (link(fd, name)) return name;
    if (errno != EEXIST) break;
  }
  throw failure("cannot name the written file in " + folder + " for " + what +
                ": " + systemReason());
}

int openScratchFile(const std::string& what) {
  const char* variable = std::getenv("TMPDIR");
  const std::string folder = variable != nullptr && variable[0] != '\0'
                                 ? variable
                                 : kDefaultScratchFolder;
  int fd = openUnnamed(folder);
  if (fd < 0) {
    std::string pattern = folder + "/" + kScratchName;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // Named only for as long as a signal is held back.
    const SignalHold hold;
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.data());
  }
  if (fd < 0) {
    throw failure("cannot make a scratch file in " + folder + " for " + what +
                  ": " + systemReason() + "; TMPDIR may name another folder");
  }
  return fd;
}

}  // namespace korvane
