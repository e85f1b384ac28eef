# Checks a render that Ardour exported through korvane against its input.
"""Usage: check_render.py INPUT.wav RENDER.wav LABEL

Checks that the render has the input's length and channel count, that
every sample is finite and within -1..+1, and, away from the start and the
end of the export (where Ardour ramps its gain: roughly the first 4096
frames and the last 64), that it is not silent and is not the input passed
through (korvane outputs its grains only), and that it is silent until the
input first changes (before that korvane has captured nothing). Prints the measurements; exits
non-zero on any failed check.
"""
import math
import sys

import floatwav

SETTLE_FRAMES = 4096  # Ardour's gain ramp at the start of an export
FADE_FRAMES = 64  # Ardour's fade at the end of an export
MIN_PEAK = 0.01  # a render quieter than this counts as silent
MIN_DIFFERENCE = 0.01  # the render must differ from the input at least this


def main():
    input_path, render_path, label = sys.argv[1:4]
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
        if first_move > SETTLE_FRAMES:
            early = max(abs(out[n]) for n in range(SETTLE_FRAMES, first_move))
            print(f"{label}: channel {index}, frames {SETTLE_FRAMES}.."
                  f"{first_move} (before the input moves): peak {early:.6f}")
            check(early == 0.0, f"channel {index} silent before any capture")

    for what in failures:
        print(f"FAIL: {label}: {what}")
    print(f"korvane-ardour: {label} {'FAIL' if failures else 'PASS'}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
