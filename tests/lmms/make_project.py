# Writes the LMMS test's projects from project.mmp.
"""Usage: make_project.py OUT.mmp INPUT.wav TEMPO [PLUGIN.dll]

Sets the song tempo and the path of the input that the instrument plays.
With PLUGIN.dll the track's effect chain runs that plug-in; without, the
chain is switched off and emptied, for the dry render. Paths are written
as given; use absolute ones.
"""
import os
import sys
import xml.etree.ElementTree as ElementTree

TEMPLATE = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                        "project.mmp")
HEADER = '<?xml version="1.0"?>\n<!DOCTYPE lmms-project>\n'


def main():
    out, source, tempo = sys.argv[1:4]
    plugin = sys.argv[4] if len(sys.argv) > 4 else None
    root = ElementTree.parse(TEMPLATE).getroot()
    root.find("head").set("bpm", str(int(tempo)))
    root.find(".//audiofileprocessor").set("src", source)
    chain = root.find(".//instrumenttrack/fxchain")
    effect = chain.find("effect")
    if plugin is None:
        chain.remove(effect)
        chain.set("enabled", "0")
        chain.set("numofeffects", "0")
    else:
        effect.find("vsteffectcontrols").set("plugin", plugin)
        effect.find("key/attribute[@name='file']").set("value", plugin)
    with open(out, "w", encoding="utf-8") as target:
        target.write(HEADER + ElementTree.tostring(root, encoding="unicode"))
        target.write("\n")


if __name__ == "__main__":
    main()
