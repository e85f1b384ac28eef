# The checks of the Audacity test: what Audacity is told to do, and the
# comparison of its renders with korvane render.
"""Usage:
  checks.py inputs WORK
  checks.py registered REGISTRY LIBRARY...
  checks.py probe UID SECONDS
  checks.py [--lv2] run SESSION UID WORK
  checks.py [--lv2] compare WORK KORVANE LIBRARY
  checks.py presets BUNDLE

`inputs` writes the inputs into WORK: the LMMS test's stereo input at
44100 Hz (tests/lmms/make_input.py), its left channel alone, and the same
samples at 48000 Hz.

`registered` checks that Audacity's plug-in registry lists each LIBRARY as
a valid, enabled effect, and disables any other library that answers the
name of one of them (a korvane installed for the system, which Audacity
scans too), so that each scripting command reaches the library meant.

`probe` waits for Audacity to answer on its scripting pipe.

`run` sends Audacity, through its scripting pipe, the commands of every
check of SESSION ("main" or "reopen"), each after a line "== check NAME" in
the stand-in's log, then saves the project and exits Audacity. Before each
check with chosen settings it writes those settings to WORK/values, which
the stand-in reads when an instance is created, and removes the file before
each check without.

`compare` renders each check's input with `korvane render` as Audacity
used korvane: tempo 120, the block size of Audacity's processing calls (read
from the stand-in's log), as many passes as Audacity applied the effect, and
the chosen settings where the check has them; then compares Audacity's
render with it sample for sample, bit for bit. Where one application ran
over N tracks of the same input, track N is compared with the last N-th of
one render of the input N times over: one instance runs over the tracks in
turn, as over one long input. Prints what it measured and
a line "korvane-audacity: NAME PASS" or "FAIL" per check; exits non-zero
when any check fails.

With --lv2, `run` and `compare` do the same checks with the LV2 bundle,
but for the stand-in's at defaults: Audacity applies korvane.lv2, which logs
nothing, in blocks of 8192 frames, and takes the chosen settings as the LV2
preset that `presets` writes into the bundle BUNDLE, the test's own.
"""
import os
import re
import subprocess
import sys
from collections import namedtuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.append(os.path.join(HERE, "..", "ardour"))
import floatwav  # noqa: E402
import script_pipe  # noqa: E402

TEMPO = 120  # Audacity 3.2 has no project tempo and always reports 120
MIN_PEAK = 0.01  # a reference quieter than this would prove nothing
REAL = "Korvane"  # the scripting commands of the two libraries
STAND_IN = "KorvaneStand-in"
PROJECT = "project.aup3"

# The chosen settings: the normalised values that the stand-in sets and
# `korvane render --params` takes, and the LV2 port values that give the same
# fields (7 sixteenths, 12 semitones, an envelope peak of 3). Every spread is
# 0, so that the seed (which Audacity never sends) does not matter.
SETTINGS = [("bsize", 0.1, 7), ("rec thrsh", 0.05, 0.05),
            ("st rate", 0.3, 0.3), ("st jitter", 0, 0), ("pos", 0.5, 0.5),
            ("pos jitter", 0, 0), ("len", 0.5, 0.5), ("len jitter", 0, 0),
            ("tp", 0.75, 12), ("p jitter", 0, 0), ("env", 0.4, 3)]
PRESET = "korvane test settings"
LV2_BLOCK = 8192  # Audacity's processing block

STEREO = "stereo-44100.wav"
MONO = "mono-44100.wav"
STEREO_48K = "stereo-48000.wav"

# effect: the scripting command; passes: how often it is applied; settings:
# whether the stand-in sets SETTINGS; opens: the project that the check opens
# instead of importing its input, and how often the effect was applied to
# the input in it; saves: the project it saves at its end; tracks: how many
# tracks holding the input one application runs over; trace: for korvane.so
# itself, which logs nothing, the stand-in's check that Audacity called the
# same way.
Check = namedtuple("Check", "name session effect input channels passes "
                   "settings opens saves what tracks trace",
                   defaults=(1, None))
Opens = namedtuple("Opens", "project passes")
CHECKS = [
    Check("defaults", "main", REAL, STEREO, 2, 1, False, None, None,
          "korvane.so itself at its defaults",
          trace="defaults-traced"),
    Check("defaults-traced", "main", STAND_IN, STEREO, 2, 1, False, None,
          None, "the same through the stand-in, which sets nothing and logs"),
    Check("rate-48000-defaults", "main", REAL, STEREO_48K, 2, 1, False, None,
          None, "korvane.so itself on a 48 kHz track in a 44.1 kHz project",
          trace="rate-48000"),
    Check("two-tracks-defaults", "main", STAND_IN, STEREO, 2, 1, False, None,
          None, "one application to two tracks of the same input, through "
          "the stand-in, which sets nothing", tracks=2),
    Check("applied-twice", "main", STAND_IN, STEREO, 2, 2, True, None, None,
          "chosen settings, the effect applied twice"),
    Check("mono", "main", STAND_IN, MONO, 1, 1, True, None, None,
          "chosen settings on a mono track"),
    Check("rate-48000", "main", STAND_IN, STEREO_48K, 2, 1, True, None, None,
          "chosen settings on a 48 kHz track in a 44.1 kHz project"),
    Check("two-tracks", "main", STAND_IN, STEREO, 2, 1, True, None, None,
          "chosen settings, one application to two tracks of the same input",
          tracks=2),
    Check("settings", "main", STAND_IN, STEREO, 2, 1, True, None, PROJECT,
          "chosen settings; the project is then saved and Audacity closed"),
    Check("reopened", "reopen", STAND_IN, STEREO, 2, 1, True,
          Opens(PROJECT, 1), None,
          "the saved project reopened in a new Audacity, applied again"),
]

LV2 = False  # whether the checks are the LV2 bundle's


def write_presets(bundle):
    """The chosen settings as an LV2 preset for korvane, in a bundle of its
    own: a manifest naming it and a file with its port values."""
    os.makedirs(bundle, exist_ok=True)
    head = ("@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
            "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
            "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
            "<urn:zvk:korvane:test-settings> a pset:Preset ;\n"
            "  lv2:appliesTo <urn:zvk:korvane> ;\n")
    ports = " ,\n".join(f'    [ lv2:symbol "{name.replace(" ", "_")}" ; '
                        f"pset:value {float(port)!r} ]"
                        for name, _, port in SETTINGS)
    for name, body in [("manifest.ttl", "  rdfs:seeAlso <settings.ttl> .\n"),
                       ("settings.ttl", f'  rdfs:label "{PRESET}" ;\n'
                        f"  lv2:port\n{ports} .\n")]:
        with open(os.path.join(bundle, name), "w") as out:
            out.write(head + body)
    print(f"preset \"{PRESET}\": {bundle}")


def render_path(work, check, track=1):
    suffix = f"-{track}" if check.tracks > 1 else ""
    return os.path.join(work, f"audacity-{check.name}{suffix}.wav")


def commands(work, check, last):
    """The scripting commands of one check. Each track is exported alone
    (Export2 exports the selected tracks). Unless it is the last of its
    session, it removes its tracks at the end (the session's end saves the
    project, and Audacity asks before it saves an empty one)."""
    if check.opens:
        project = os.path.join(work, check.opens.project)
        start = [f"OpenProject2: Filename={project}"]
    else:
        start = [f"Import2: Filename={os.path.join(work, check.input)}"]
    effect = f"{check.effect}:"
    if LV2 and check.settings:
        effect += f' Use_Preset="Factory Preset:{PRESET}"'
    apply = ["SelectAll:"] + [effect] * check.passes
    export = []
    for track in range(1, check.tracks + 1):
        if check.tracks > 1:
            export.append(f"SelectTracks: Track={track - 1} TrackCount=1 "
                          "Mode=Set")
        export.append(f"Export2: Filename={render_path(work, check, track)} "
                      f"NumChannels={check.channels}")
    end = []
    if check.saves:
        end = [f"SaveProject2: Filename={os.path.join(work, check.saves)}"]
    elif not last:
        end = ["SelectAll:", "RemoveTracks:"]
    return start * check.tracks + apply + export + end


def make_inputs(work):
    stereo = os.path.join(work, STEREO)
    subprocess.run([sys.executable, os.path.join(HERE, "..", "lmms",
                                                 "make_input.py"), stereo],
                   check=True)
    channels, rate = floatwav.read(stereo)
    floatwav.write(os.path.join(work, MONO), channels[:1], rate)
    floatwav.write(os.path.join(work, STEREO_48K), channels, 48000)
    print(f"inputs: {MONO} (its left channel), {STEREO_48K} (the same "
          "samples at 48000 Hz)")


def registered(registry, *libraries):
    """Whether every library is registered valid and enabled."""
    with open(registry) as source:
        lines = source.read().split("\n")
    # Sections of key=value lines; an effect's section holds Path=FILE;0.
    sections = []
    for number, line in enumerate(lines):
        if line.startswith("["):
            sections.append({"start": number})
        elif sections and "=" in line:
            key, value = line.split("=", 1)
            sections[-1][key] = value
            sections[-1][key + "@"] = number
    ours = {}
    for section in sections:
        path = section.get("Path", "").rsplit(";", 1)[0]
        if path in libraries:
            ours[path] = section
    missing = 0
    for library in libraries:
        section = ours.get(library)
        state = ("not registered" if section is None else
                 f"registered as \"{section.get('Name')}\", valid "
                 f"{section.get('Valid')}, enabled {section.get('Enabled')}")
        print(f"  {library}: {state}")
        if section is None or section.get("Valid") != "1" or \
                section.get("Enabled") != "1":
            missing += 1
    names = {section.get("Name") for section in ours.values()}
    for section in sections:
        path = section.get("Path", "").rsplit(";", 1)[0]
        if section.get("Name") in names and path not in libraries and \
                section.get("Enabled") == "1":
            print(f"  {path} answers the same name; disabled for the test")
            lines[section["Enabled@"]] = "Enabled=0"
    with open(registry, "w") as out:
        out.write("\n".join(lines))
    return 1 if missing else 0


def probe(uid, seconds):
    return script_pipe.main_with([uid, "--probe", seconds])


def write_settings(path):
    with open(path, "w") as out:
        out.writelines(f"{name} = {value:g}\n" for name, value, _ in SETTINGS)


def run_session(session, uid, work):
    log = os.path.join(work, "standin.log")
    values = os.path.join(work, "values")
    checks = [check for check in CHECKS if check.session == session]
    for check in checks:
        if check.settings:
            write_settings(values)
        elif os.path.exists(values):
            os.remove(values)
        with open(log, "a") as out:
            out.write(f"== check {check.name}\n")
        print(f"== {check.name}: {check.what}", flush=True)
        last = check is checks[-1]
        if script_pipe.main_with([uid] + commands(work, check, last)) != 0:
            print(f"korvane-audacity: {check.name} FAIL (Audacity did not "
                  "carry out a command)")
            return 1
    scratch = os.path.join(work, f"session-{session}.aup3")
    # Exit asks whether to save an unsaved project, in a dialog.
    return script_pipe.main_with([uid, f"SaveProject2: Filename={scratch}",
                                  "Exit:"])


# What the stand-in's log says about one instance that processed audio: the
# tempo it was told, and its runs, one per track: the processing after one
# resume, with the rate announced last before its first block, the rate at
# the resume, and the values Audacity wrote and the stand-in set before it.
Application = namedtuple("Application", "tempo runs")
Run = namedtuple("Run", "blocks rate resumed_at writes sets")

LINE = re.compile(r"pid (\d+) instance (\d+): (.*)")
PATTERNS = {
    "block": r"process(?:Replacing)? call \d+, (\d+) frames",
    "rate": r"dispatcher opcode 10 .* opt ([0-9.]+):",
    "resume": r"dispatcher opcode 12 index 0 value 1 ()",
    "tempo": r"first time request: tempo ([0-9.]+)",
    "writes": r"setParameter \d+ \((.*)\) to (\S+)",
    "sets": r"stand-in sets \d+ \((.*)\) to (\S+),",
}


def applications(work):
    """For each check, the instances that processed audio, in order."""
    found = {}
    check = None
    instances = {}
    with open(os.path.join(work, "standin.log")) as source:
        for line in source:
            if line.startswith("== check "):
                check = line[len("== check "):].strip()
                found[check] = []
                instances = {}
                continue
            match = LINE.match(line)
            if check is None or not match:
                continue
            state = instances.setdefault(match.group(1, 2), {
                "runs": [], "rate": None, "resumed_at": None, "tempo": None,
                "writes": [], "sets": [], "resumed": True})
            for kind, pattern in PATTERNS.items():
                event = re.match(pattern, match.group(3))
                if event:
                    break
            else:
                continue
            if kind == "block":
                if state["resumed"]:
                    if not state["runs"]:
                        found[check].append(state)
                    state["runs"].append(Run([], state["rate"],
                                             state["resumed_at"],
                                             state["writes"], state["sets"]))
                    state.update(resumed=False, writes=[], sets=[])
                state["runs"][-1].blocks.append(int(event.group(1)))
            elif kind == "resume":
                state.update(resumed=True, resumed_at=state["rate"])
            elif kind in ("rate", "tempo"):
                state[kind] = float(event.group(1))
            else:
                state[kind].append(event.group(1, 2))
    return {name: [Application(state["tempo"], state["runs"])
                   for state in states] for name, states in found.items()}


def block_size(blocks):
    """The block size when every call but the last has it and the last has
    at most as many frames, as `korvane render --block` calls; else None."""
    first = blocks[0]
    if all(b == first for b in blocks[:-1]) and 0 < blocks[-1] <= first:
        return first
    return None


def korvane_render(korvane, library, source, target, block, values=None,
                   sets=()):
    command = [korvane, "render", source, target, "--tempo", str(TEMPO),
               "--block", str(block), "--plugin", library, "--quiet"]
    if values:
        command += ["--params", values]
    for name, value in sets:
        command += ["--set", f"{name}={value}"]
    subprocess.run(command, check=True)


def all_passes(check):
    """Applications to the input: the check's own and those in the project
    it opens."""
    return check.passes + (check.opens.passes if check.opens else 0)


def reference(work, korvane, library, check, block, track, rate=None):
    """korvane render of the check's input as Audacity ran it on track
    `track` of one application: the input repeated `track` times (one
    instance runs over the tracks in turn), at `rate` when given, rendered
    pass after pass; the last part, as long as the input."""
    channels, own_rate = floatwav.read(os.path.join(work, check.input))
    frames = len(channels[0])
    stem = os.path.join(work, f"korvane-{check.name}-{track}")
    stem += f"-at-{rate}" if rate else ""
    source = f"{stem}-input.wav"
    floatwav.write(source, [channel * track for channel in channels],
                   rate or own_rate)
    values = os.path.join(work, "settings.params") if check.settings else None
    if values:
        write_settings(values)
    for number in range(1, all_passes(check) + 1):
        target = f"{stem}-{number}.wav"
        korvane_render(korvane, library, source, target, block, values)
        source = target
    rendered, _ = floatwav.read(source)
    floatwav.write(source, [channel[-frames:] for channel in rendered],
                   rate or own_rate)
    return source


def compare_files(got, want, rate=None):
    """(verdict, text): whether two float WAV files are equal bit for bit,
    and what was measured; `want` is taken to be at `rate` when given."""
    (a, rate_a), (b, rate_b) = floatwav.read(got), floatwav.read(want)
    shape_a = (len(a), len(a[0]), rate_a)
    shape_b = (len(b), len(b[0]), rate or rate_b)
    if shape_a != shape_b:
        return False, (f"channels, frames, rate {shape_a}, korvane render "
                       f"{shape_b}")
    differing = 0
    first = None
    largest = 0.0
    for channel_a, channel_b in zip(a, b):
        if channel_a.tobytes() == channel_b.tobytes():
            continue
        for frame, (x, y) in enumerate(zip(channel_a, channel_b)):
            if x != y or (x == 0 and str(x) != str(y)):
                differing += 1
                first = frame if first is None else min(first, frame)
                largest = max(largest, abs(x - y))
    peak = max(max(abs(x) for x in channel) for channel in b)
    samples = len(a) * len(a[0])
    text = (f"{len(a)} channel(s), {len(a[0])} frames at {rate_a} Hz, peak "
            f"{peak:.4f}; {differing} of {samples} samples differ")
    if differing:
        text += (f" (first at frame {first}, {first / rate_a:.3f} s; "
                 f"largest difference {largest:.6f})")
    return differing == 0 and peak >= MIN_PEAK, text


def check_one(work, korvane, library, found, check):
    """Prints what one check measured; answers whether it passed."""
    ok = True

    def note(condition, text):
        nonlocal ok
        print(f"  {'ok' if condition else 'FAIL'}: {text}")
        ok = ok and condition

    got = [render_path(work, check, track)
           for track in range(1, check.tracks + 1)]
    missing = [path for path in got if not os.path.exists(path)]
    for path in missing:
        note(False, f"Audacity exported no {os.path.basename(path)}")
    apps = found.get(check.trace or check.name, [])
    runs = [run for app in apps for run in app.runs]
    block = block_size(runs[0].blocks) if runs else None
    if LV2:
        block = LV2_BLOCK
    elif check.trace:
        note(block is not None, f"the block size is that of {check.trace}: "
             f"{block}")
    else:
        note(len(apps) == check.passes,
             f"{len(apps)} instance(s) processed audio, one for each of "
             f"{check.passes} application(s)")
        input_rate = floatwav.read(os.path.join(work, check.input))[1]
        for app in apps:
            note(app.tempo == TEMPO, f"tempo reported: {app.tempo}")
            note(len(app.runs) == check.tracks,
                 f"it ran over {len(app.runs)} track(s), each after a "
                 f"resume; {check.tracks} selected")
        for number, run in enumerate(runs):
            size = block_size(run.blocks)
            note(size is not None and size == block,
                 f"{len(run.blocks)} processing calls of {run.blocks[0]}"
                 f" frames, the last of {run.blocks[-1]}")
            late = ("" if run.resumed_at == run.rate else
                    f" (after the resume call, which came at "
                    f"{run.resumed_at:g} Hz)")
            note(run.rate == input_rate, "sample rate announced before "
                 f"processing: {run.rate:g} Hz{late}")
            if number < check.tracks:
                writes = ", ".join(f"{n}={v}" for n, v in run.writes)
                print(f"  Audacity's writes before track {number + 1}: "
                      f"{writes}")
            if check.settings:
                note(len(run.sets) == len(SETTINGS),
                     f"the stand-in set {len(run.sets)} values after "
                     "them, before the first sample")
    if block is None or missing:
        return False
    for track, path in enumerate(got, 1):
        want = reference(work, korvane, library, check, block, track)
        equal, text = compare_files(path, want)
        whole = "" if track == 1 else (
            f", the last of {track} parts of one render of the input "
            f"{track} times over")
        note(equal, f"track {track} equals korvane render "
             f"({all_passes(check)} pass(es), tempo {TEMPO}, blocks of {block}"
             f"{', settings' if check.settings else ''}{whole}): {text}")
        if not equal and track == 1:
            explain(work, korvane, library, found, check, block, path, runs)
    return ok


def compare(work, korvane, library):
    found = applications(work)
    failures = []
    for check in CHECKS:
        print(f"== {check.name}: {check.what}")
        ok = check_one(work, korvane, library, found, check)
        if not ok:
            failures.append(check.name)
        print(f"korvane-audacity: {check.name} {'PASS' if ok else 'FAIL'}")
    return failures


def explain(work, korvane, library, found, check, block, got, runs):
    """Says whether Audacity's render, which differs from the reference, is
    korvane render of the track's samples at the rate of the resume when
    Audacity announced the track's rate only after it; else, at defaults,
    whether it is korvane render with the values Audacity wrote back set."""
    if runs and runs[0].resumed_at != runs[0].rate:
        rate = int(runs[0].resumed_at)
        want = reference(work, korvane, library, check, block, 1, rate)
        equal, _ = compare_files(got, want, runs[0].rate)
        print(f"  resumed at {rate} Hz, {runs[0].rate:g} Hz announced after "
              f"the resume: Audacity's render {'is' if equal else 'is not'} "
              f"korvane render of the track's samples at {rate} Hz")
        return
    traced = found.get("defaults-traced", [])
    if check.settings or not traced or not traced[0].runs[0].writes:
        return
    writes = traced[0].runs[0].writes
    target = os.path.join(work, "korvane-written-back.wav")
    korvane_render(korvane, library, os.path.join(work, check.input), target,
                   block, sets=writes)
    equal, _ = compare_files(got, target)
    listed = " ".join(f"--set '{n}={v}'" for n, v in writes)
    print(f"  Audacity read every value of a new instance and wrote it back "
          f"before processing; korvane render {listed} "
          f"{'gives exactly' if equal else 'does not give'} Audacity's "
          "render: " + ("korvane took its own answers, written back, as "
                        "settings that differ from its defaults"
                        if equal else "the difference is elsewhere"))


def main():
    global LV2, CHECKS
    command, args = sys.argv[1], sys.argv[2:]
    if command == "--lv2":
        # korvane.so's checks, those of korvane.lv2 itself, but for the
        # stand-in's at defaults, there to trace korvane.so's calls.
        LV2, command, args = True, args[0], args[1:]
        CHECKS = [check._replace(name="lv2-" + check.name, effect=REAL,
                                 trace=None, what=check.what.replace(
                                     "korvane.so", "korvane.lv2"))
                  for check in CHECKS
                  if check.effect == REAL or check.settings]
    if command == "presets":
        write_presets(*args)
        return 0
    if command == "inputs":
        make_inputs(*args)
        return 0
    if command == "registered":
        return registered(*args)
    if command == "probe":
        return probe(*args)
    if command == "run":
        return run_session(*args)
    if command == "compare":
        failures = compare(*args)
        print(f"korvane-audacity: {'FAIL ' + ' '.join(failures) if failures else 'PASS'}")
        return 1 if failures else 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
