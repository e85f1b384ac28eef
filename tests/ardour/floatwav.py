# Reads and writes 32-bit float WAV files (format 3) with the standard library.
"""Float WAV files as lists of channels.

The standard `wave` module handles integer PCM only, so the RIFF layout is
written and parsed here: a `fmt ` chunk with format tag 3, a `fact` chunk
with the frame count, and the `data` chunk. Reading skips any other chunk
(Ardour's export may add some).
"""
import array
import struct
import sys

FORMAT_FLOAT = 3
BYTES_PER_SAMPLE = 4


def write(path, channels, rate):
    """Writes equally long channels (sequences of floats) interleaved."""
    frames = len(channels[0])
    if any(len(c) != frames for c in channels):
        raise ValueError("channels differ in length")
    count = len(channels)
    samples = array.array("f", [0.0]) * (frames * count)
    for index, channel in enumerate(channels):
        samples[index::count] = array.array("f", channel)
    if sys.byteorder != "little":
        samples.byteswap()
    data = samples.tobytes()
    block = count * BYTES_PER_SAMPLE
    fmt = struct.pack("<HHIIHH", FORMAT_FLOAT, count, rate, rate * block,
                      block, 8 * BYTES_PER_SAMPLE)
    fact = struct.pack("<I", frames)
    body = (b"WAVE" + _chunk(b"fmt ", fmt) + _chunk(b"fact", fact) +
            _chunk(b"data", data))
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def read(path):
    """Answers (channels, rate): one array of floats per channel."""
    with open(path, "rb") as source:
        blob = source.read()
    if blob[0:4] != b"RIFF" or blob[8:12] != b"WAVE":
        raise ValueError(f"{path}: not a RIFF WAVE file")
    fmt = None
    data = None
    offset = 12
    while offset + 8 <= len(blob):
        name = blob[offset:offset + 4]
        size = struct.unpack_from("<I", blob, offset + 4)[0]
        body = blob[offset + 8:offset + 8 + size]
        if name == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body)
        elif name == b"data":
            data = body
        offset += 8 + size + (size & 1)
    if fmt is None or data is None:
        raise ValueError(f"{path}: no fmt or data chunk")
    tag, count, rate, _, _, bits = fmt
    if tag != FORMAT_FLOAT or bits != 8 * BYTES_PER_SAMPLE:
        raise ValueError(f"{path}: format {tag}, {bits} bits; want 32-bit float")
    usable = len(data) - len(data) % (count * BYTES_PER_SAMPLE)
    samples = array.array("f")
    samples.frombytes(data[:usable])
    if sys.byteorder != "little":
        samples.byteswap()
    return [samples[index::count] for index in range(count)], rate


def _chunk(name, body):
    pad = b"\0" if len(body) % 2 else b""
    return name + struct.pack("<I", len(body)) + body + pad
