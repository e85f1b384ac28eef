# Writes the stereo input that the Ardour test runs through korvane.
"""Usage: make_input.py OUT.wav [SECONDS] [RATE] [SWITCH]

A quarter second of silence, then two sawtooth waves (110 Hz at 0.5 on the
left, 165 Hz at 0.4 on the right); with SWITCH, from SWITCH seconds after
the start on, the second tone of tones.py, two octaves higher. Each falling
edge of a sawtooth moves the mono input by a quarter or more from one
sample to the next, so any "rec thrsh" below that starts a capture.
"""
import sys

import floatwav
from tones import FIRST_TONE, SECOND_TONE, sawtooth

LEAD_SECONDS = 0.25


def main():
    path = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 2.5
    rate = int(sys.argv[3]) if len(sys.argv) > 3 else 48000
    frames = int(seconds * rate)
    lead = int(LEAD_SECONDS * rate)
    switch = int(float(sys.argv[4]) * rate) if len(sys.argv) > 4 else frames
    channels = []
    for (f1, p1), (f2, p2) in zip(FIRST_TONE, SECOND_TONE):
        channels.append([0.0] * lead +
                        sawtooth(f1, p1, 0, switch - lead, rate) +
                        sawtooth(f2, p2, 0, frames - switch, rate))
    floatwav.write(path, channels, rate)
    print(f"input: {path}, {frames} frames, {rate} Hz, 2 channels" +
          (f", second tone from frame {switch}" if switch < frames else ""))


if __name__ == "__main__":
    main()
