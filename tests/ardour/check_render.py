# Checks a render that Ardour exported through korvane against its input.
"""Usage: check_render.py [--lv2 KORVANE LIBRARY SESSION_DIR SESSION_NAME]
                       INPUT.wav RENDER.wav LABEL TEMPO V0 .. V10 [SWITCH]

Checks that the render has the input's length and channel count, that
every sample is finite and within -1..+1, and, away from the start and the
end of the export (where Ardour ramps its gain: roughly the first 4096
frames and the last 64), that it is not silent and is not the input passed
through (korvane outputs its grains only).

TEMPO and V0..V10 are the session's tempo and korvane's values as they were
set before saving. The render must have used them after the session was
reopened: grains start "pos" cells into the capture, which begins where the
input first changes (its first sample jumps by more than any "rec thrsh" the
test uses), so the render is silent until the capture reaches that cell.
Without spread on the start interval and the position, a grain starts there
within one and a half start intervals, so the render sounds by then.

korvane counts its samples at the session's rate, the render's. With SWITCH
(the input changes to its second tone SWITCH seconds in, make_input.py),
the grains must change from the first tone to the second where the second
capture starts: two loops of "bsize" sixteenths at TEMPO, their notated
length in seconds, after the first capture. That needs values without any
spread, "pos" 0 and a transposition of 0, so that each grain carries the
tone of the capture it reads and no other. Grains started before the second
capture carry the first tone and sound up to a grain length after it, so
the tone changes within a grain length from there; loops counted at
another rate change it a tenth of a second or more away.

With --lv2, V0..V10 are the LV2 bundle's port values ("bsize" in
sixteenths, "tp" in semitones, "env" 1 to 6), and the render must also equal,
bit for bit, `korvane render --tempo TEMPO` (KORVANE with the VST 2 library
LIBRARY) of the input with the same settings and the seed saved in the
session's state, after the frames of silence that Ardour's export ran korvane
before the session's first: that lead moves the first grain, which comes on
a start decision, so only the leads up to MAX_LEAD that put it where
Ardour's render has it are tried.
Prints the measurements; exits non-zero on any failed check.
"""
import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

import floatwav
import tones

SETTLE_FRAMES = 4096  # Ardour's gain ramp at the start of an export
FADE_FRAMES = 64  # Ardour's fade at the end of an export
MIN_PEAK = 0.01  # a render quieter than this counts as silent
MIN_DIFFERENCE = 0.01  # the render must differ from the input at least this

MIN_STEP = 42
BASE_RATE = 44100  # the rate a switch at the wrong rate is shown for
TONE_WINDOW = 1024  # frames over which the tone of the render is measured
MAX_LEAD = 16384  # frames of silence before the session's first, at most

NAMES = ["bsize", "rec thrsh", "st rate", "st jitter", "pos", "pos jitter",
         "len", "len jitter", "tp", "p jitter", "env"]
LV2 = None  # with --lv2: KORVANE, LIBRARY, SESSION_DIR, SESSION_NAME


def single(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def loop_length(tempo, values, rate):
    """The loop in samples at `rate` that the tempo and "bsize" give."""
    sixteenths = int(values[0]) if LV2 else int(single(values[0]) * 63) + 1
    return int(sixteenths * (60 / (tempo * 4)) * rate)


def settings(values):
    """`korvane render` options for LV2 port values: "bsize" and "tp" in
    their units, "env" as the VST 2 value of its field, the rest as is."""
    texts = [repr(v) for v in values]
    texts[0], texts[8] = f"{values[0]:g}/16", f"{values[8]:g}st"
    texts[10] = repr((values[10] - 1) / 5)
    return [f"--set={name}={text}" for name, text in zip(NAMES, texts)]


def saved_seed(session_dir, session_name):
    """The seed in the state that the saved session names for korvane."""
    root = ET.parse(os.path.join(session_dir, session_name + ".ardour"))
    processor = root.find(".//Processor[@unique-id='urn:zvk:korvane']")
    if processor is None or processor.find("lv2") is None:
        return None
    with open(os.path.join(session_dir, "plugins", processor.get("id"),
                           processor.find("lv2").get("state-dir"),
                           "state.ttl")) as source:
        found = re.search(r'<urn:zvk:korvane:seed> "(\d+)"', source.read())
    return int(found.group(1)) if found else None


def onset_of(channels, start=0, end=sys.maxsize):
    """The first frame from `start` on, before `end`, that is not silent."""
    return next((n for n in range(start, min(end, len(channels[0])))
                 if any(c[n] != 0.0 for c in channels)), None)


def check_reference(label, render, source, rate, tempo, values, check):
    """The render equals korvane render after the lead Ardour ran. The
    start decisions come at a fixed interval: "st jitter" must be 0."""
    korvane, library, *session = LV2
    seed = saved_seed(*session)
    print(f"{label}: korvane's seed in the saved session: {seed}")
    if not check(seed is not None, "the session's state holds the seed"):
        return
    _, interval, _ = korvane_counts(loop_length(tempo, values, rate), values)
    period = interval + interval // 2  # start decisions without jitter
    with tempfile.TemporaryDirectory() as folder:
        def reference(lead):
            """korvane render after `lead` frames of silence, those dropped."""
            padded = os.path.join(folder, "input.wav")
            rendered = os.path.join(folder, "render.wav")
            floatwav.write(padded, [[0.0] * lead + list(c) for c in source],
                           rate)
            subprocess.run([korvane, "render", padded, rendered, "--tempo",
                            f"{tempo:g}", "--seed", str(seed), "--plugin",
                            library, "--quiet"] + settings(values), check=True)
            return [c[lead:] for c in floatwav.read(rendered)[0]]

        got, want = onset_of(render), onset_of(reference(0))
        leads = range(0) if got is None or want is None else \
            range((want - got) % period, MAX_LEAD + 1, period)
        lead = next((n for n in leads if all(
            a.tobytes() == b.tobytes() for a, b in zip(render, reference(n)))),
            None)
    if lead is None:
        print(f"{label}: korvane render --tempo {tempo:g} first sounds at "
              f"frame {want}, Ardour's at {got}; after none of {len(leads)} "
              f"leads of silence ({', '.join(map(str, leads))} frames) does "
              "it equal the render")
    else:
        print(f"{label}: equals korvane render --tempo {tempo:g} of the "
              f"input after {lead} frames of silence, sample for sample "
              f"({' '.join(settings(values))})")
    check(lead is not None, "equals korvane render with the same settings")


def korvane_counts(loop, values):
    """The "pos" offset, the start interval and the grain length in samples,
    for the values as set and the loop."""
    offset = int(loop * single(values[4]))
    interval = int((loop // 16) * single(values[2])) + MIN_STEP
    length = int((loop / 4) * single(values[6])) + MIN_STEP
    return offset, interval, length


def first_change(channels, start):
    """First frame at or after `start` that differs from the frame before."""
    for n in range(max(start, 1), len(channels[0])):
        if any(c[n] != c[n - 1] for c in channels):
            return n
    return None


def check_switch(label, render, source, rate, tempo, values, first_move,
                 tone_change, end, check):
    """The tone of the grains changes where the second capture starts, two
    loops at the session's tempo, counted at its rate, after the first.
    The input changes its tone at frame `tone_change`."""
    loop = loop_length(tempo, values, rate)
    _, interval, length = korvane_counts(loop, values)
    second = first_change(source, first_move + 2 * loop)
    if not check(second is not None, "a second capture starts"):
        return
    # The grains read the first `length` cells of a capture: the first
    # capture's must hold the first tone, the second capture the second.
    check(first_move + length <= tone_change <= second,
          "the input changes its tone between the cells that the grains "
          "read of the first capture and the start of the second")
    # The first tone sounds until the second capture starts, the second
    # from a grain length after it on; a window is judged by its middle.
    earliest = second - TONE_WINDOW // 2
    latest = second + length + TONE_WINDOW // 2
    # Half a loop either side of the second capture's start.
    centres = range(max(first_move + length, second - loop // 2),
                    min(end - TONE_WINDOW // 2, second + loop // 2),
                    TONE_WINDOW // 4)
    carried = [(c, tones.tone_of(render, c - TONE_WINDOW // 2, TONE_WINDOW,
                                 rate)) for c in centres]
    switch = next((c for c, tone in carried if tone == 2), None)
    print(f"{label}: loop {loop} samples at {rate} Hz "
          f"({loop / rate:.4f} s), start interval {interval}, grain length "
          f"{length}; the second capture starts at frame {second}, "
          f"{(second - first_move) / rate:.4f} s after the first")
    print(f"{label}: the second tone first dominates at frame {switch} "
          f"(expected {earliest}..{latest})")
    if rate != BASE_RATE:
        wrong = first_move + 2 * loop_length(tempo, values, BASE_RATE)
        print(f"{label}: loops counted at {BASE_RATE} Hz would start it at "
              f"frame {wrong}, {(wrong - first_move) / rate:.4f} s after "
              f"the first")
    check(switch is not None and earliest <= switch <= latest,
          "the grains switch tone two loops of the notated length after "
          "the first capture")
    check(all(tone == 1 for c, tone in carried if c < earliest),
          "the first tone only before the second capture")
    check(all(tone == 2 for c, tone in carried if c > latest),
          "the second tone only from a grain length after it on")


def main():
    global LV2
    if sys.argv[1] == "--lv2":
        LV2 = sys.argv[2:6]
        del sys.argv[1:6]
    input_path, render_path, label = sys.argv[1:4]
    tempo = float(sys.argv[4])
    values = [float(v) for v in sys.argv[5:16]]
    switch_seconds = float(sys.argv[16]) if len(sys.argv) > 16 else None
    source, source_rate = floatwav.read(input_path)
    render, rate = floatwav.read(render_path)
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)
        return ok

    frames = len(render[0])
    print(f"{label}: {frames} frames, {len(render)} channels, {rate} Hz "
          f"(input {len(source[0])} frames, {len(source)} channels, "
          f"{source_rate} Hz)")
    check(rate == source_rate, "sample rate equals the input's")
    check(len(render) == len(source), "channel count equals the input's")
    check(frames == len(source[0]), "length equals the input's")

    samples = [x for channel in render for x in channel]
    finite = all(math.isfinite(x) for x in samples)
    check(finite, "every sample is finite")
    if finite:
        low, high = min(samples), max(samples)
        print(f"{label}: range {low:.6f} .. {high:.6f}")
        check(-1.0 <= low and high <= 1.0, "every sample within -1..+1")

    end = min(frames, len(source[0])) - FADE_FRAMES
    first_move = next((n for n in range(len(source[0]))
                       if any(c[n] != 0.0 for c in source)), len(source[0]))
    offset, interval, _ = korvane_counts(loop_length(tempo, values, rate),
                                         values)
    earliest = first_move + offset
    print(f"{label}: input moves at frame {first_move}; \"pos\" "
          f"{offset} samples, start interval {interval} samples")
    for index, (out, into) in enumerate(zip(render, source)):
        window = range(SETTLE_FRAMES, end)
        if not finite or len(window) == 0:
            check(False, f"channel {index}: frames to compare")
            continue
        peak = max(abs(out[n]) for n in window)
        rms = math.sqrt(sum(out[n] * out[n] for n in window) / len(window))
        difference = max(abs(out[n] - into[n]) for n in window)
        print(f"{label}: channel {index}, frames {SETTLE_FRAMES}..{end}: "
              f"peak {peak:.4f}, rms {rms:.4f}, "
              f"largest difference from the input {difference:.4f}")
        check(peak >= MIN_PEAK, f"channel {index} is not silent")
        check(difference >= MIN_DIFFERENCE,
              f"channel {index} is not the input passed through")
        if earliest > SETTLE_FRAMES:
            quiet = range(SETTLE_FRAMES, min(earliest, end))
            early = max(abs(out[n]) for n in quiet)
            print(f"{label}: channel {index}, frames {SETTLE_FRAMES}.."
                  f"{quiet.stop} (before the capture reaches \"pos\"): "
                  f"peak {early:.6f}")
            check(early == 0.0,
                  f"channel {index} silent until the capture reaches \"pos\"")

    onset = onset_of(render, first_move, end)
    print(f"{label}: first sound at frame {onset} (the capture reaches "
          f"\"pos\" at frame {earliest})")
    check(onset is not None and onset >= earliest,
          "silent until the capture reaches \"pos\"")
    st_jitter, pos_jitter = values[3], values[5]
    if st_jitter == 0.0 and pos_jitter == 0.0:
        latest = earliest + interval + interval // 2
        check(onset is not None and onset <= latest,
              f"sounds by frame {latest}, a grain start after \"pos\"")
    if switch_seconds is not None and finite:
        check_switch(label, render, source, rate, tempo, values, first_move,
                     int(switch_seconds * rate), end, check)

    if LV2 and finite:
        check_reference(label, render, source, rate, tempo, values, check)

    for what in failures:
        print(f"FAIL: {label}: {what}")
    print(f"korvane-ardour: {label} {'FAIL' if failures else 'PASS'}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
