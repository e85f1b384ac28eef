# The two tones of the host tests' inputs, and which of them a render carries.
"""The Ardour and LMMS tests play sawtooth waves through korvane: a first
tone, and in the inputs that test where a capture ends, a second tone two
octaves higher. Grains read what a capture holds, so the tone they carry
tells which capture they read."""
import cmath
import math

# (frequency in Hz, peak) per channel, for the first and the second tone.
FIRST_TONE = ((110.0, 0.5), (165.0, 0.4))
SECOND_TONE = ((440.0, 0.5), (660.0, 0.4))


def sawtooth(frequency, peak, start, frames, rate):
    """`frames` samples of a rising sawtooth that starts at its lowest
    `start` samples before the first one."""
    return [peak * (2.0 * (((start + n) * frequency / rate) % 1.0) - 1.0)
            for n in range(frames)]


def power(samples, start, length, frequency, rate):
    """Power of `samples` at `frequency` over a Hann window."""
    total = 0j
    step = -2j * math.pi * frequency / rate
    for n in range(length):
        weight = 0.5 - 0.5 * math.cos(2 * math.pi * n / (length - 1))
        total += samples[start + n] * weight * cmath.exp(step * n)
    return abs(total) ** 2


def tone_of(render, start, length, rate):
    """1 or 2: which tone's fundamentals dominate the `length` frames of the
    stereo `render` from `start` on."""
    scores = []
    for tone in (FIRST_TONE, SECOND_TONE):
        scores.append(sum(power(channel, start, length, frequency, rate)
                          for channel, (frequency, _) in zip(render, tone)))
    return 1 if scores[0] > scores[1] else 2
