// Signal handlers that clean up after an interrupted render.
#include "Interruption.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace korvane {

namespace {

struct HandledSignal {
  int number;
  const char* message;  // written whole by the handler
};

// The signals that end a render from outside, and what the tool says.
constexpr HandledSignal kHandled[] = {
    {SIGINT, "korvane: interrupted (SIGINT)"},
    {SIGTERM, "korvane: terminated (SIGTERM)"},
    {SIGHUP, "korvane: hung up (SIGHUP)"},
};
constexpr int kSignalExitBase = 128;

// Read by the handler, so plain static storage: a path and a flag.
char unfinished[PATH_MAX + 1];
volatile sig_atomic_t hasUnfinished = 0;
volatile sig_atomic_t lineOpen = 0;
volatile sig_atomic_t messageFd = STDERR_FILENO;

void say(const char* text) {
  // Nothing to do when stderr is gone; the exit code still tells.
  if (write(messageFd, text, std::strlen(text)) < 0) return;
}

// Only async-signal-safe calls: unlink, write and _exit.
extern "C" void onSignal(int number) {
  if (lineOpen != 0) say("\n");
  for (const HandledSignal& handled : kHandled) {
    if (handled.number == number) say(handled.message);
  }
  if (hasUnfinished != 0) {
    // A file without a name goes with the process.
    if (unfinished[0] != '\0') unlink(unfinished);
    say("; the unfinished output was removed");
  }
  say("\n");
  _exit(kSignalExitBase + number);
}

sigset_t handledSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const HandledSignal& handled : kHandled) {
    sigaddset(&set, handled.number);
  }
  return set;
}

}  // namespace

void installInterruptHandlers() {
  struct sigaction action = {};
  action.sa_handler = onSignal;
  action.sa_mask = handledSet();
  for (const HandledSignal& handled : kHandled) {
    struct sigaction inherited = {};
    if (sigaction(handled.number, nullptr, &inherited) == 0 &&
        inherited.sa_handler == SIG_IGN) {
      continue;  // ignored by whoever started the tool, as it asked
    }
    sigaction(handled.number, &action, nullptr);
  }
  signal(SIGXFSZ, SIG_IGN);
}

void noteOpenLine(bool open) { lineOpen = open ? 1 : 0; }

void redirectMessages(int fd) { messageFd = fd; }

void registerUnfinishedFile(const char* path) {
  const SignalHold hold;
  const std::size_t length = strnlen(path, PATH_MAX);
  std::memcpy(unfinished, path, length);
  unfinished[length] = '\0';
  hasUnfinished = 1;
}

void clearUnfinishedFile() {
  const SignalHold hold;
  hasUnfinished = 0;
}

SignalHold::SignalHold() {
  const sigset_t set = handledSet();
  sigprocmask(SIG_BLOCK, &set, &previous_);
}

SignalHold::~SignalHold() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace korvane
