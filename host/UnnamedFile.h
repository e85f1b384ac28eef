// Files that have no name in their folder until they are complete
// (O_TMPFILE): a kill or a power loss at any moment leaves nothing behind.
#pragma once

#include <string>

namespace korvane {

// A new file open for reading and writing in `folder` without a name, or -1
// (errno set) where the file system cannot make one or the system could not
// name it later; the caller then makes a named one instead.
int openUnnamed(const std::string& folder);

// Gives the unnamed file on `fd` a new hidden name in `folder` that starts
// as `prefix` does, and answers it. Throws HostError (exit 1) naming `what`.
std::string nameUnnamed(int fd, const std::string& folder,
                        const std::string& prefix, const std::string& what);

// A file for the tool's own scratch data in $TMPDIR (else /tmp), open for
// reading and writing, that no folder lists: unnamed where the system
// allows, else removed right after it is made. Throws HostError (exit 1)
// naming `what` it was for.
int openScratchFile(const std::string& what);

}  // namespace korvane
