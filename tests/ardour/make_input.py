# Writes the stereo input that the Ardour test runs through korvane.
"""Usage: make_input.py OUT.wav [SECONDS] [RATE]

A quarter second of silence, then two sawtooth waves (110 Hz at 0.5 on the
left, 165 Hz at 0.4 on the right). Each falling edge of a sawtooth moves the
mono input by a quarter or more from one sample to the next, so any
"rec thrsh" below that starts a capture.
"""
import sys

import floatwav

LEAD_SECONDS = 0.25
VOICES = ((110.0, 0.5), (165.0, 0.4))  # (frequency in Hz, peak) per channel


def sawtooth(frames, rate, frequency, peak, lead):
    out = []
    for n in range(frames):
        if n < lead:
            out.append(0.0)
            continue
        phase = ((n - lead) * frequency / rate) % 1.0
        out.append(peak * (2.0 * phase - 1.0))
    return out


def main():
    path = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 2.5
    rate = int(sys.argv[3]) if len(sys.argv) > 3 else 48000
    frames = int(seconds * rate)
    lead = int(LEAD_SECONDS * rate)
    channels = [sawtooth(frames, rate, f, p, lead) for f, p in VOICES]
    floatwav.write(path, channels, rate)
    print(f"input: {path}, {frames} frames, {rate} Hz, 2 channels")


if __name__ == "__main__":
    main()
