// Ctrl-C, SIGTERM and SIGHUP during a render: the unfinished OUT is removed
// and the tool exits with 128 + the signal number.
#pragma once

#include <signal.h>

namespace korvane {

// Installs the handlers; call once, before any output file is created. A
// signal the tool was started with ignored (nohup, a background job) stays
// ignored. SIGXFSZ is ignored, so that a write past the file size limit
// fails with "File too large" and the render ends as on any write error.
void installInterruptHandlers();

// Tells the handlers whether stderr holds an unfinished line (the progress
// bar), so that their message starts on a line of its own.
void noteOpenLine(bool open);

// Where the handlers write their message: stderr, or the descriptor that
// keeps it while stderr is silenced.
void redirectMessages(int fd);

// The temporary file a handler removes, or none; "" for one that has no
// name, which goes with the process. Kept in static storage the handler may
// read; at most one is unfinished at a time. Both calls hold the
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
