# Puts the input into a saved Ardour session in place of its silent take.
"""Usage: fit_session.py SESSION_DIR SESSION_NAME INPUT.wav

Ardour's Lua interface cannot import audio, so the session script records a
take of silence a little longer than the input. This overwrites the take's
two mono source files with the input's channels, then shortens the take's
regions and the session range to the input's length, so that an export of
the session range renders exactly the input through the track.
"""
import glob
import os
import sys
import xml.etree.ElementTree as ET

import floatwav


def fail(message):
    sys.exit(f"fit_session: {message}")


def source_path(session_dir, name):
    found = glob.glob(os.path.join(session_dir, "interchange", "*",
                                   "audiofiles", name))
    if len(found) != 1:
        fail(f"source file {name}: found {found}")
    return found[0]


def main():
    session_dir, session_name, input_path = sys.argv[1:4]
    channels, rate = floatwav.read(input_path)
    frames = len(channels[0])
    state_path = os.path.join(session_dir, session_name + ".ardour")
    tree = ET.parse(state_path)
    root = tree.getroot()
    if int(root.get("sample-rate")) != rate:
        fail(f"session rate {root.get('sample-rate')}, input rate {rate}")
    superclocks = int(root.find("TempoMap").get("superclocks-per-second"))
    # Ardour writes audio-time positions and lengths in superclock ticks,
    # prefixed "a"; a length carries its position after "@".
    length = f"a{frames * superclocks // rate}"

    take = root.findall("Playlists/Playlist/Region")
    if len(take) != 1:
        fail(f"expected one recorded region, found {len(take)}")
    source_ids = [take[0].get(f"source-{c}") for c in range(len(channels))]
    sources = {s.get("id"): s.get("name") for s in root.iter("Source")}
    for channel, source_id in zip(channels, source_ids):
        path = source_path(session_dir, sources[source_id])
        recorded = len(floatwav.read(path)[0][0])
        if recorded < frames:
            fail(f"{path}: take of {recorded} frames is shorter than the input")
        floatwav.write(path, [channel], rate)

    for region in root.iter("Region"):
        if region.get("source-0") == source_ids[0]:
            region.set("start", "a0")
            region.set("length", f"{length}@a0")
    ranges = [l for l in root.iter("Location")
              if "IsSessionRange" in l.get("flags", "")]
    if len(ranges) != 1:
        fail(f"expected one session range, found {len(ranges)}")
    ranges[0].set("start", "a0")
    ranges[0].set("end", length)
    tree.write(state_path, encoding="UTF-8", xml_declaration=True)
    print(f"session {session_name}: take replaced by the input, "
          f"{frames} frames")


if __name__ == "__main__":
    main()
