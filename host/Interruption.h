// Ctrl-C, SIGTERM and SIGHUP during a render: the unfinished OUT is removed
// and the tool exits with 128 + the signal number.
#pragma once

#include <signal.h>

namespace korvane {

// Installs the handlers; call once, before any output file is created.
void installInterruptHandlers();

// The temporary file a handler removes, or none. Kept in static storage the
// handler may read; at most one is unfinished at a time. Both calls hold the
// signals back while they change it.
void registerUnfinishedFile(const char* path);
void clearUnfinishedFile();

// Holds the three signals back while alive (nesting is fine), so that a
// handler never sees a temporary file created or moved but not yet noted.
class SignalHold {
 public:
  SignalHold();
  ~SignalHold();
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace korvane
