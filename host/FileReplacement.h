// The one way the tool writes a file: a hidden temporary beside the target,
// created exclusively, made durable and renamed onto the target only when
// it is complete.
#pragma once

#include <string>

namespace korvane {

// A file being written in place of `target`. The temporary has no name
// until commit() where the file system allows (O_TMPFILE), so that even a
// kill leaves nothing behind; elsewhere it is a hidden file beside the
// target, created with O_CREAT | O_EXCL (a name planted beforehand, link or
// not, is never followed or reused). It gets the mode of the file it replaces
// (and its owner and group, where the system permits: commit() warns of what
// could not be kept), or the mode a new file gets. Until commit() it is removed
// when the object goes and when SIGINT, SIGTERM or SIGHUP end the tool.
class ReplacementFile {
 public:
  // `target` is the file to create or replace, its links already followed.
  // Throws HostError (exit 1) naming the folder and the reason.
  explicit ReplacementFile(const std::string& target);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  int fd() const { return fd_; }
  const std::string& target() const { return target_; }
  // What a failed write leaves at the target, for messages: the file that
  // was there, or none.
  std::string keptNote() const;

  // Flushes the temporary to the disk, renames it onto the target and
  // flushes the folder's entry. Throws HostError (exit 1) naming the target
  // and the reason; the temporary is then removed and the target untouched,
  // except when only the folder's flush fails: the new file then stays.
  void commit();

 private:
  void discard();
  std::string target_;
  std::string temporary_;  // empty while the file has no name
  bool replaces_;          // the target existed when the file was made
  std::string lost_;       // what the file it replaces had and it has not
  int fd_ = -1;
};

// Writes `text` to `target` (links already followed) through a
// ReplacementFile. Throws HostError (exit 1).
void writeTextFile(const std::string& target, const std::string& text);

// Writes all `size` bytes, again after an interruption. False, errno set,
// when the file takes no more.
bool writeAll(int fd, const char* data, std::size_t size);

// The system's reason for the last failed call (errno), as text.
std::string systemReason();

// The folder that holds `path`: its parent, or "." for a bare name.
std::string folderOf(const std::string& path);

}  // namespace korvane
