# Writes the stereo input that the LMMS test plays through korvane.
"""Usage: make_input.py OUT.wav [RATE]

A quarter second of silence, then one second of the first tone (sawtooth
waves of 110 Hz at 0.5 on the left and 165 Hz at 0.4 on the right), then the
second tone, two octaves higher (440 Hz and 660 Hz), up to 8 s in all, at
RATE Hz (44100 by default; the test writes it at the rate LMMS renders at,
so that LMMS plays it without resampling). The first sample of the first
tone jumps from 0 to -0.45 in mono, and every later sample differs from the
one before, so korvane's default "rec thrsh" of 0 starts a capture on the
first sample that moves and starts the next one as soon as a capture ends.
"""
import os
import sys

sys.path.append(os.path.join(os.path.dirname(__file__), "..", "ardour"))
import floatwav  # noqa: E402
from tones import FIRST_TONE, SECOND_TONE, sawtooth  # noqa: E402

SECONDS = 8
LEAD_SECONDS = 0.25
FIRST_TONE_SECONDS = 1.0


def main():
    path = sys.argv[1]
    rate = int(sys.argv[2]) if len(sys.argv) > 2 else 44100
    lead = int(LEAD_SECONDS * rate)
    first = int(FIRST_TONE_SECONDS * rate)
    rest = SECONDS * rate - lead - first
    channels = []
    for (f1, p1), (f2, p2) in zip(FIRST_TONE, SECOND_TONE):
        channels.append([0.0] * lead + sawtooth(f1, p1, 0, first, rate) +
                        sawtooth(f2, p2, 0, rest, rate))
    floatwav.write(path, channels, rate)
    print(f"input: {path}, {len(channels[0])} frames, {rate} Hz, 2 channels")


if __name__ == "__main__":
    main()
