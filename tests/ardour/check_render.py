# Checks a render that Ardour exported through korvane against its input.
"""Usage: check_render.py INPUT.wav RENDER.wav LABEL TEMPO V0 .. V10

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
Prints the measurements; exits non-zero on any failed check.
"""
import math
import struct
import sys

import floatwav

SETTLE_FRAMES = 4096  # Ardour's gain ramp at the start of an export
FADE_FRAMES = 64  # Ardour's fade at the end of an export
MIN_PEAK = 0.01  # a render quieter than this counts as silent
MIN_DIFFERENCE = 0.01  # the render must differ from the input at least this

# korvane counts in samples of 44.1 kHz, one per processed sample whatever
# the host's rate.
KORVANE_RATE = 44100
MIN_STEP = 42


def single(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def korvane_counts(tempo, values):
    """The "pos" offset and the start interval in samples, for the values
    as set and the loop that the tempo and "bsize" give."""
    sixteenths = int(single(values[0]) * 63) + 1
    loop = int(sixteenths * (60 / (tempo * 4)) * KORVANE_RATE)
    offset = int(loop * single(values[4]))
    interval = int((loop // 16) * single(values[2])) + MIN_STEP
    return offset, interval


def main():
    input_path, render_path, label = sys.argv[1:4]
    tempo = float(sys.argv[4])
    values = [float(v) for v in sys.argv[5:16]]
    source, source_rate = floatwav.read(input_path)
    render, rate = floatwav.read(render_path)
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

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
    offset, interval = korvane_counts(tempo, values)
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

    onset = next((n for n in range(first_move, end)
                  if any(c[n] != 0.0 for c in render)), None)
    print(f"{label}: first sound at frame {onset} (the capture reaches "
          f"\"pos\" at frame {earliest})")
    check(onset is not None and onset >= earliest,
          "silent until the capture reaches \"pos\"")
    st_jitter, pos_jitter = values[3], values[5]
    if st_jitter == 0.0 and pos_jitter == 0.0:
        latest = earliest + interval + interval // 2
        check(onset is not None and onset <= latest,
              f"sounds by frame {latest}, a grain start after \"pos\"")

    for what in failures:
        print(f"FAIL: {label}: {what}")
    print(f"korvane-ardour: {label} {'FAIL' if failures else 'PASS'}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
