# Checks what LMMS rendered through korvane.dll.
"""Usage: check_render.py INPUT.wav DRY.wav WET.wav REFERENCE.wav TEMPO LOG

INPUT is the file that the instrument played (make_input.py), DRY and WET
LMMS's renders of the project without and with korvane, REFERENCE what
`korvane render --tempo TEMPO` made of DRY with the Linux library, and LOG
the output of LMMS's render with korvane. All four are at the rate R that
LMMS rendered at, which is the rate korvane ran at (no oversampling).
korvane runs with the values it has after construction, which these checks
rely on:

- a capture starts on the first sample whose mono input differs from the
  one before ("rec thrsh" 0) and lasts two loops of 16 sixteenths at the
  host's tempo, counted in samples at R: two loops of 16 sixteenths at
  90 bpm are 5.333 s, 235200 samples at 44100 Hz and 256000 at 48000 Hz;
- the grain start clock decides on the sample after the first I samples
  processed and every 1.5 I samples after that, and each grain reads G
  cells from the start of the capture at the input's speed, under a
  triangular envelope: I and G are the defaults of "st rate" and "len",
  882 and 4000 samples at 44100 Hz, the same times at R (956 and 4350 at
  48000 Hz).

So the first grain that sounds is the first one started at or after the
first sample that moves, and grains started before the next capture carry
the first tone while grains started from it on carry the second one. Prints
the measurements; exits non-zero on any failed check.
"""
import math
import os
import sys
from fractions import Fraction

sys.path.append(os.path.join(os.path.dirname(__file__), "..", "ardour"))
import floatwav  # noqa: E402
import tones  # noqa: E402

# How LMMS renders the project (project.mmp).
SONG_BARS = 3  # the note's length
BEATS_PER_BAR = 4
PERIOD_FRAMES = 256  # LMMS's default frames per period
# korvane's values after construction, in samples at 44100 Hz: the start
# interval, the grain length, and the minimum of both mappings.
BASE_RATE = 44100
DEFAULT_INTERVAL = 882
DEFAULT_LENGTH = 4000
MIN_STEP = 42
LOOP_SIXTEENTHS = 16
FALLBACK_TEMPO = 120.0
# A render quieter than this, or closer than this to the dry one, fails.
MIN_PEAK = 0.01
MIN_DIFFERENCE = 0.01
# What LMMS and its remote plug-in host print when they have loaded korvane.
LOG_LINES = {
    "unique ID: GmSt": "LMMS read korvane's identifier GmSt",
    "inputs: 2  output: 2": "the remote host found 2 inputs and 2 outputs",
}
LOG_LOADED = "korvane.dll"  # in Wine's line about the library it loaded


def at_rate(count, rate):
    """A default count of samples at 44100 Hz as korvane keeps it at `rate`:
    the part above the mapping's minimum scaled to the nearest sample."""
    return MIN_STEP + math.floor((count - MIN_STEP) * rate / BASE_RATE + 0.5)


class Korvane:
    """korvane's counts after construction at the rate it runs at."""

    def __init__(self, rate):
        self.rate = rate
        interval = at_rate(DEFAULT_INTERVAL, rate)
        # The start clock decides on the sample after the first `interval`,
        # then every interval and a half.
        self.first_decision = interval
        self.decision_spacing = interval + interval // 2
        self.grain_length = at_rate(DEFAULT_LENGTH, rate)

    def expected_frames(self, tempo):
        """LMMS renders the song and one bar more, and ends with the last
        whole period that starts before that end."""
        bar = Fraction(BEATS_PER_BAR * 60 * self.rate) / Fraction(tempo)
        return int((SONG_BARS + 1) * bar) // PERIOD_FRAMES * PERIOD_FRAMES

    def capture_frames(self, tempo, rate=None):
        """Two loops, derived as korvane derives them (double precision),
        counted at `rate` (korvane's own unless given)."""
        rate = self.rate if rate is None else rate
        return 2 * int(LOOP_SIXTEENTHS * (60.0 / (tempo * 4.0)) * rate)

    def first_decision_from(self, frame):
        """The first grain start decision at or after `frame`."""
        if frame <= self.first_decision:
            return self.first_decision
        steps = -(-(frame - self.first_decision) // self.decision_spacing)
        return self.first_decision + steps * self.decision_spacing

    def tone_of(self, render, centre):
        """1 or 2: which tone dominates the grains around `centre`."""
        return tones.tone_of(render, centre - self.decision_spacing // 2,
                             self.decision_spacing, self.rate)

    def seconds(self, frames):
        return f"{frames / self.rate:.4f} s"


def first_change(channels, start):
    """First frame at or after `start` that differs from the frame before."""
    for n in range(max(start, 1), len(channels[0])):
        if any(c[n] != c[n - 1] for c in channels):
            return n
    return None


def main():
    input_path, dry_path, wet_path, reference_path, tempo_text, log_path = \
        sys.argv[1:7]
    tempo = float(tempo_text)
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)
        return ok

    with open(log_path, encoding="utf-8", errors="replace") as log:
        lines = log.read().splitlines()
    loaded = [line for line in lines
              if "Loaded" in line and LOG_LOADED in line.lower()]
    for line in loaded[:1]:
        print(f"log: {line.strip()}")
    check(loaded, "Wine's log shows the remote host loading korvane.dll")
    for text, what in LOG_LINES.items():
        found = [line for line in lines if text in line]
        for line in found[:1]:
            print(f"log: {line.strip()}")
        check(found, what)

    source, rate = floatwav.read(input_path)
    korvane = Korvane(rate)
    print(f"korvane at {rate} Hz: start interval {korvane.first_decision}, "
          f"grain length {korvane.grain_length} samples")
    renders = {}
    frames = korvane.expected_frames(tempo)
    formats = True
    for name, path in (("dry", dry_path), ("wet", wet_path),
                       ("reference", reference_path)):
        channels, its_rate = floatwav.read(path)
        renders[name] = channels
        print(f"{name}: {len(channels[0])} frames, {len(channels)} channels, "
              f"{its_rate} Hz")
        formats &= check(its_rate == rate and len(channels) == 2,
                         f"{name} is stereo at {rate} Hz")
        formats &= check(len(channels[0]) == frames,
                         f"{name} has {frames} frames (four bars in whole "
                         f"periods)")
    if not formats:
        return finish(failures)
    dry, wet, reference = renders["dry"], renders["wet"], renders["reference"]

    samples = [x for channel in wet for x in channel]
    if not check(all(math.isfinite(x) for x in samples),
                 "every sample is finite"):
        return finish(failures)
    low, high = min(samples), max(samples)
    print(f"wet: range {low:.6f} .. {high:.6f}")
    check(-1.0 <= low and high <= 1.0, "every sample within -1..+1")

    moved = first_change(source, 1)
    first_move = first_change(dry, 1)
    print(f"the input first moves at frame {moved}, the dry render at "
          f"{first_move}")
    if not check(first_move is not None and first_move == moved,
                 "the dry render starts moving where the input does"):
        return finish(failures)

    sounding = next((n for n in range(frames)
                     if wet[0][n] != 0.0 or wet[1][n] != 0.0), frames)
    check(sounding >= first_move, "silent until the input first moves")
    first_grain = korvane.first_decision_from(first_move)
    print(f"first grain: frame {sounding} ({korvane.seconds(sounding)}); "
          f"korvane's "
          f"start clock puts it at frame {first_grain}")
    check(sounding == first_grain, "the first grain where the start clock "
          "puts it")

    for index in range(2):
        after = range(first_grain, frames)
        peak = max(abs(wet[index][n]) for n in after)
        difference = max(abs(wet[index][n] - dry[index][n]) for n in after)
        print(f"wet: channel {index} from the first grain on: peak "
              f"{peak:.4f}, largest difference from the dry render "
              f"{difference:.4f}")
        check(peak >= MIN_PEAK, f"channel {index} is not silent")
        check(difference >= MIN_DIFFERENCE,
              f"channel {index} is not the dry signal")

    check_switch(korvane, wet, dry, tempo, first_move, first_grain, check)

    differing = [(n, index) for index in range(2) for n in range(frames)
                 if wet[index][n] != reference[index][n]]
    if differing:
        n, index = differing[0]
        print(f"wet and korvane render differ in {len(differing)} samples, "
              f"first at frame {n}, channel {index}: {wet[index][n]!r} and "
              f"{reference[index][n]!r}")
    else:
        print(f"wet equals korvane render of the dry render at {tempo:g} bpm "
              f"in all {2 * frames} samples")
    check(not differing, "sample for sample equal to korvane render")
    return finish(failures)


def check_switch(korvane, wet, dry, tempo, first_move, first_grain, check):
    """The grains change from the first tone to the second where the second
    capture starts: two loops at the project's tempo after the first,
    counted at the rate korvane runs at. Loops counted at the fallback tempo,
    or in samples of 44100 Hz at another rate, switch at least a tenth of a
    second away."""
    frames = len(wet[0])
    spacing, length = korvane.decision_spacing, korvane.grain_length
    capture_end = first_move + korvane.capture_frames(tempo)
    second_capture = first_change(dry, capture_end)
    if not check(second_capture is not None, "a second capture starts"):
        return
    starts = range(first_grain, frames - length // 2 - spacing // 2, spacing)
    carried = [korvane.tone_of(wet, start + length // 2) for start in starts]
    switch = next((starts[i] for i, tone in enumerate(carried) if tone == 2),
                  None)
    firsts = carried.count(1)
    print(f"grains: {firsts} of {len(carried)} carry the first tone, then "
          f"{len(carried) - firsts} the second")
    expected = korvane.first_decision_from(second_capture)
    seconds = korvane.seconds
    if switch is not None:
        print(f"switch: the first grain of the second tone starts at frame "
              f"{switch}, {seconds(switch - first_move)} after the capture "
              f"started; the one before it at "
              f"{seconds(switch - spacing - first_move)}")
    loops = korvane.capture_frames(tempo)
    print(f"switch: two loops at {tempo:g} bpm are {loops} samples, "
          f"{seconds(loops)}, so the switch comes at frame {expected}")
    wrong = [(f"at the {FALLBACK_TEMPO:g}-bpm fallback",
              korvane.capture_frames(FALLBACK_TEMPO))]
    if korvane.rate != BASE_RATE:
        wrong.append((f"counted at {BASE_RATE} Hz",
                      korvane.capture_frames(tempo, BASE_RATE)))
    for what, capture in wrong:
        print(f"switch: {what} the loops would be {seconds(capture)} (frame "
              f"{korvane.first_decision_from(first_move + capture)})")
    check(carried == [1] * firsts + [2] * (len(carried) - firsts),
          "the grains carry the first tone, then the second only")
    check(switch == expected, "the grains switch at the project's tempo, "
          "two loops of its length in seconds")


def finish(failures):
    for what in failures:
        print(f"FAIL: {what}")
    print(f"korvane-lmms: render {'FAIL' if failures else 'PASS'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
