# Sends commands to Audacity through its scripting pipes (mod-script-pipe).
"""Usage: script_pipe.py UID [--probe SECONDS] [COMMAND]...

Audacity's scripting module reads commands from the named pipe
/tmp/audacity_script_pipe.to.UID and answers on .from.UID; each answer ends
with a line "BatchCommand finished: OK" (or another verdict) and an empty
line. Each command is printed before it is sent and its answer after it, so
that a log ends at the command Audacity did not answer.

With --probe, first waits up to SECONDS for the pipes to appear and for
Audacity to answer "Help: Command=Help" (the pipes open before commands
work): a probe that gets no answer within a few seconds is sent again.
Exits 0 when every command answered OK, 1 at the first that did not.
"""
import os
import select
import sys
import time

PIPE = "/tmp/audacity_script_pipe.%s.%s"
PROBE = "Help: Command=Help"
PROBE_WAIT = 5  # seconds for an answer to one probe
CLOSED_WAIT = 10  # seconds of end-of-file before the pipe counts as closed
# Seconds for the answer to one command: applying korvane to 8 s of audio
# takes about one. A command that fails opens a dialog and is not answered
# until someone closes it.
COMMAND_WAIT = 60
VERDICT = "BatchCommand finished: "


class Pipes:
    def __init__(self, uid, deadline):
        # Opening a pipe blocks until Audacity opens its end; non-blocking
        # opens are retried instead, so that the deadline holds.
        self.to = self._open(PIPE % ("to", uid), os.O_WRONLY, deadline)
        self.source = self._open(PIPE % ("from", uid), os.O_RDONLY, deadline)
        self.pending = b""

    @staticmethod
    def _open(path, mode, deadline):
        while True:
            try:
                fd = os.open(path, mode | os.O_NONBLOCK)
                os.set_blocking(fd, mode == os.O_WRONLY)
                return fd
            except OSError:
                if time.monotonic() > deadline:
                    raise TimeoutError(f"{path} did not open")
                time.sleep(0.2)

    def send(self, command):
        os.write(self.to, command.encode() + b"\n")

    def answer(self, deadline):
        """The lines up to the verdict and the empty line after it, or None
        when none came before the deadline or Audacity closed its end."""
        closed_since = None
        while True:
            text = self.pending.decode(errors="replace")
            at = text.find(VERDICT)
            if at >= 0 and "\n\n" in text[at:]:
                end = text.index("\n\n", at) + 2
                self.pending = text[end:].encode()
                return text[:end]
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return None
            ready, _, _ = select.select([self.source], [], [],
                                        min(remaining, 1.0))
            if ready:
                chunk = os.read(self.source, 65536)
                if chunk:
                    closed_since = None
                    self.pending += chunk
                    continue
                # No writer: Audacity has not opened its end yet, or has
                # closed it.
                closed_since = closed_since or time.monotonic()
                if time.monotonic() - closed_since > CLOSED_WAIT:
                    return None
                time.sleep(0.1)


def show(prefix, text):
    for line in text.rstrip("\n").split("\n"):
        print(prefix + line, flush=True)


def main_with(args):
    args = list(args)
    uid = args.pop(0)
    probe = None
    if args[:1] == ["--probe"]:
        probe = float(args[1])
        args = args[2:]
    deadline = time.monotonic() + (probe or 30)
    pipes = Pipes(uid, deadline)
    if probe is not None:
        while True:
            pipes.send(PROBE)
            reply = pipes.answer(min(deadline, time.monotonic() + PROBE_WAIT))
            if reply is not None and VERDICT + "OK" in reply:
                print("audacity answers on its scripting pipe", flush=True)
                # Answers to earlier probes that came late are dropped.
                late = pipes.answer(time.monotonic() + PROBE_WAIT / 5)
                while late is not None:
                    late = pipes.answer(time.monotonic() + PROBE_WAIT / 5)
                break
            if time.monotonic() > deadline:
                print(f"audacity did not answer '{PROBE}' in {probe:g} s")
                return 1
    for command in args:
        print(f"> {command}", flush=True)
        pipes.send(command)
        reply = pipes.answer(time.monotonic() + COMMAND_WAIT)
        if reply is None:
            print(f"  no answer in {COMMAND_WAIT} s (Audacity ended, or shows "
                  "a dialog: a command that fails opens one)")
            return 1
        show("  ", reply)
        if VERDICT + "OK" not in reply:
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main_with(sys.argv[1:]))
