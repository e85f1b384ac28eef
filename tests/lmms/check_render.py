# Checks what LMMS rendered through korvane.dll.
"""Usage: check_render.py INPUT.wav DRY.wav WET.wav REFERENCE.wav TEMPO LOG

INPUT is the file that the instrument played (make_input.py), DRY and WET
LMMS's renders of the project without and with korvane, REFERENCE what
`korvane render --tempo TEMPO` made of DRY with the Linux library, and LOG
the output of LMMS's render with korvane. korvane runs with the values it
has after construction, which these checks rely on:

- a capture starts on the first sample whose mono input differs from the
  one before ("rec thrsh" 0) and lasts two loops of 16 sixteenths at the
  host's tempo;
- the grain start clock decides on the 883rd sample processed and every
  1323 samples after that; each grain reads 4000 cells from the start of
  the capture at the input's speed, under a triangular envelope.

So the first grain that sounds is the first one started at or after the
first sample that moves, and grains started before the next capture carry
the first tone while grains started from it on carry the second one. Prints
the measurements; exits non-zero on any failed check.
"""
import cmath
import math
import os
import sys
from fractions import Fraction

sys.path.append(os.path.join(os.path.dirname(__file__), "..", "ardour"))
import floatwav  # noqa: E402
from make_input import FIRST_TONE, RATE, SECOND_TONE  # noqa: E402

# How LMMS renders the project (project.mmp).
SONG_BARS = 3  # the note's length
BEATS_PER_BAR = 4
PERIOD_FRAMES = 256  # LMMS's default frames per period
# korvane's values after construction.
FIRST_DECISION = 882  # the start clock's first decision, on the 883rd sample
DECISION_SPACING = 1323  # 1.5 x the start interval of 882 samples
GRAIN_LENGTH = 4000
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


def expected_frames(tempo):
    """LMMS renders the song and one bar more, and ends with the last whole
    period that starts before that end."""
    bar = Fraction(BEATS_PER_BAR * 60 * RATE) / Fraction(tempo)
    return int((SONG_BARS + 1) * bar) // PERIOD_FRAMES * PERIOD_FRAMES


def capture_frames(tempo):
    """Two loops, derived as korvane derives them (double precision)."""
    return 2 * int(LOOP_SIXTEENTHS * (60.0 / (tempo * 4.0)) * RATE)


def first_decision_from(frame):
    """The first grain start decision at or after `frame`."""
    if frame <= FIRST_DECISION:
        return FIRST_DECISION
    steps = -(-(frame - FIRST_DECISION) // DECISION_SPACING)
    return FIRST_DECISION + steps * DECISION_SPACING


def first_change(channels, start):
    """First frame at or after `start` that differs from the frame before."""
    for n in range(max(start, 1), len(channels[0])):
        if any(c[n] != c[n - 1] for c in channels):
            return n
    return None


def power(samples, start, length, frequency):
    """Power of `samples` at `frequency` over a Hann window."""
    total = 0j
    step = -2j * math.pi * frequency / RATE
    for n in range(length):
        weight = 0.5 - 0.5 * math.cos(2 * math.pi * n / (length - 1))
        total += samples[start + n] * weight * cmath.exp(step * n)
    return abs(total) ** 2


def tone_of(render, centre):
    """1 or 2: which tone dominates the grains around `centre`."""
    start = centre - DECISION_SPACING // 2
    scores = []
    for tone in (FIRST_TONE, SECOND_TONE):
        scores.append(sum(power(channel, start, DECISION_SPACING, frequency)
                          for channel, (frequency, _) in zip(render, tone)))
    return 1 if scores[0] > scores[1] else 2


def seconds(frames):
    return f"{frames / RATE:.4f} s"


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

    source, _ = floatwav.read(input_path)
    renders = {}
    frames = expected_frames(tempo)
    formats = True
    for name, path in (("dry", dry_path), ("wet", wet_path),
                       ("reference", reference_path)):
        channels, rate = floatwav.read(path)
        renders[name] = channels
        print(f"{name}: {len(channels[0])} frames, {len(channels)} channels, "
              f"{rate} Hz")
        formats &= check(rate == RATE and len(channels) == 2,
                         f"{name} is stereo at {RATE} Hz")
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
    first_grain = first_decision_from(first_move)
    print(f"first grain: frame {sounding} ({seconds(sounding)}); korvane's "
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

    check_switch(wet, dry, tempo, first_move, first_grain, check)

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


def check_switch(wet, dry, tempo, first_move, first_grain, check):
    """The grains change from the first tone to the second where the second
    capture starts: two loops at the project's tempo after the first."""
    frames = len(wet[0])
    capture_end = first_move + capture_frames(tempo)
    second_capture = first_change(dry, capture_end)
    if not check(second_capture is not None, "a second capture starts"):
        return
    starts = range(first_grain,
                   frames - GRAIN_LENGTH // 2 - DECISION_SPACING // 2,
                   DECISION_SPACING)
    tones = [tone_of(wet, start + GRAIN_LENGTH // 2) for start in starts]
    switch = next((starts[i] for i, tone in enumerate(tones) if tone == 2),
                  None)
    firsts = tones.count(1)
    print(f"grains: {firsts} of {len(tones)} carry the first tone, then "
          f"{len(tones) - firsts} the second")
    expected = first_decision_from(second_capture)
    fallback = first_move + capture_frames(FALLBACK_TEMPO)
    if switch is not None:
        print(f"switch: the first grain of the second tone starts at frame "
              f"{switch}, {seconds(switch - first_move)} after the capture "
              f"started; the one before it at "
              f"{seconds(switch - DECISION_SPACING - first_move)}")
    print(f"switch: two loops at {tempo:g} bpm are "
          f"{seconds(capture_frames(tempo))}, so the switch comes at frame "
          f"{expected}; at the {FALLBACK_TEMPO:g}-bpm fallback the loops are "
          f"{seconds(capture_frames(FALLBACK_TEMPO))} (frame "
          f"{first_decision_from(fallback)})")
    check(tones == [1] * firsts + [2] * (len(tones) - firsts),
          "the grains carry the first tone, then the second only")
    check(switch == expected, "the grains switch at the project's tempo")


def finish(failures):
    for what in failures:
        print(f"FAIL: {what}")
    print(f"korvane-lmms: render {'FAIL' if failures else 'PASS'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
