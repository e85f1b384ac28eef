# Writes the stereo input that the LMMS test plays through korvane.
"""Usage: make_input.py OUT.wav

A quarter second of silence, then one second of the first tone (sawtooth
waves of 110 Hz at 0.5 on the left and 165 Hz at 0.4 on the right), then the
second tone, two octaves higher (440 Hz and 660 Hz), up to 8 s in all, at
44100 Hz. The first sample of the first tone jumps from 0 to -0.45 in mono,
and every later sample differs from the one before, so korvane's default
"rec thrsh" of 0 starts a capture on the first sample that moves and starts
the next one as soon as a capture ends.
"""
import os
import sys

sys.path.append(os.path.join(os.path.dirname(__file__), "..", "ardour"))
import floatwav  # noqa: E402

RATE = 44100
SECONDS = 8
LEAD_SECONDS = 0.25
FIRST_TONE_SECONDS = 1.0
# (frequency in Hz, peak) per channel, for the first and the second tone.
FIRST_TONE = ((110.0, 0.5), (165.0, 0.4))
SECOND_TONE = ((440.0, 0.5), (660.0, 0.4))


def sawtooth(frequency, peak, start, frames):
    """`frames` samples of a rising sawtooth that starts at its lowest."""
    return [peak * (2.0 * (((start + n) * frequency / RATE) % 1.0) - 1.0)
            for n in range(frames)]


def main():
    path = sys.argv[1]
    lead = int(LEAD_SECONDS * RATE)
    first = int(FIRST_TONE_SECONDS * RATE)
    rest = SECONDS * RATE - lead - first
    channels = []
    for (f1, p1), (f2, p2) in zip(FIRST_TONE, SECOND_TONE):
        channels.append([0.0] * lead + sawtooth(f1, p1, 0, first) +
                        sawtooth(f2, p2, 0, rest))
    floatwav.write(path, channels, RATE)
    print(f"input: {path}, {len(channels[0])} frames, {RATE} Hz, 2 channels")


if __name__ == "__main__":
    main()
