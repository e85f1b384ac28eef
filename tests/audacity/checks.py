# The checks of the Audacity test: what Audacity is told to do, and the
# comparison of its renders with korvane render.
"""Usage:
  checks.py inputs WORK
  checks.py registered REGISTRY LIBRARY...
  checks.py probe UID SECONDS
  checks.py run SESSION UID WORK
  checks.py compare WORK KORVANE LIBRARY

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
the stand-in's log, then saves the project and exits Audacity. Before the
first check with chosen settings it writes those settings to WORK/values,
which the stand-in reads when an instance is created.

`compare` renders each check's input with `korvane render` as Audacity
used korvane: tempo 120, the block size of Audacity's processing calls (read
from the stand-in's log), as many passes as Audacity applied the effect, and
the chosen settings where the check has them; then compares Audacity's
render with it sample for sample, bit for bit. Prints what it measured and
a line "korvane-audacity: NAME PASS" or "FAIL" per check; exits non-zero
when any check fails.
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

# The chosen settings, normalised, in the format of `korvane render
# --params`; every spread at 0, so that the seed (which Audacity never sends)
# does not matter.
SETTINGS = """\
bsize = 0.1
rec thrsh = 0.05
st rate = 0.3
st jitter = 0
pos = 0.5
pos jitter = 0
len = 0.5
len jitter = 0
tp = 0.75
p jitter = 0
env = 0.4
"""

STEREO = "stereo-44100.wav"
MONO = "mono-44100.wav"
STEREO_48K = "stereo-48000.wav"

# effect: the scripting command; passes: how often it is applied; settings:
# whether the stand-in sets SETTINGS; opens: the project that the check opens
# instead of importing its input, and how often the effect was applied to
# the input in it; saves: the project it saves at its end.
Check = namedtuple("Check", "name session effect input channels passes "
                   "settings opens saves what")
Opens = namedtuple("Opens", "project passes")
CHECKS = [
    Check("defaults", "main", REAL, STEREO, 2, 1, False, None, None,
          "korvane.so itself, with nothing but Audacity's own write-back"),
    Check("defaults-traced", "main", STAND_IN, STEREO, 2, 1, False, None,
          None, "the same through the stand-in, which sets nothing and logs"),
    Check("applied-twice", "main", STAND_IN, STEREO, 2, 2, True, None, None,
          "chosen settings, the effect applied twice"),
    Check("mono", "main", STAND_IN, MONO, 1, 1, True, None, None,
          "chosen settings on a mono track"),
    Check("rate-48000", "main", STAND_IN, STEREO_48K, 2, 1, True, None, None,
          "chosen settings on a 48 kHz track in a 44.1 kHz project"),
    Check("settings", "main", STAND_IN, STEREO, 2, 1, True, None, PROJECT,
          "chosen settings; the project is then saved and Audacity closed"),
    Check("reopened", "reopen", STAND_IN, STEREO, 2, 1, True,
          Opens(PROJECT, 1), None,
          "the saved project reopened in a new Audacity, applied again"),
]


def render_path(work, check):
    return os.path.join(work, f"audacity-{check.name}.wav")


def commands(work, check, last):
    """The scripting commands of one check. Unless it is the last of its
    session, it removes its tracks at the end (the session's end saves the
    project, and Audacity asks before it saves an empty one)."""
    if check.opens:
        project = os.path.join(work, check.opens.project)
        start = [f"OpenProject2: Filename={project}"]
    else:
        start = [f"Import2: Filename={os.path.join(work, check.input)}"]
    apply = ["SelectAll:"] + [f"{check.effect}:"] * check.passes
    export = [f"Export2: Filename={render_path(work, check)} "
              f"NumChannels={check.channels}"]
    end = []
    if check.saves:
        end = [f"SaveProject2: Filename={os.path.join(work, check.saves)}"]
    elif not last:
        end = ["SelectAll:", "RemoveTracks:"]
    return start + apply + export + end


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


def run_session(session, uid, work):
    log = os.path.join(work, "standin.log")
    checks = [check for check in CHECKS if check.session == session]
    for check in checks:
        values = os.path.join(work, "values")
        if check.settings and not os.path.exists(values):
            with open(values, "w") as out:
                out.write(SETTINGS)
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


# What the stand-in's log says about one instance that processed audio.
Application = namedtuple("Application",
                         "blocks rate resumed_at tempo writes sets")

LINE = re.compile(r"pid (\d+) instance (\d+): (.*)")


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
            key = (match.group(1), match.group(2))
            text = match.group(3)
            state = instances.setdefault(key, {
                "blocks": [], "rate": None, "resumed_at": None, "tempo": None,
                "writes": [], "sets": []})
            processing = re.match(r"processReplacing call \d+, (\d+) frames",
                                  text) or re.match(
                                      r"process call \d+, (\d+) frames", text)
            if processing:
                if not state["blocks"]:
                    found[check].append(state)
                state["blocks"].append(int(processing.group(1)))
                continue
            rate = re.match(r"dispatcher opcode 10 .* opt ([0-9.]+):", text)
            if rate and not state["blocks"]:
                state["rate"] = float(rate.group(1))
            if re.match(r"dispatcher opcode 12 index 0 value 1 ", text):
                state["resumed_at"] = state["rate"]
            tempo = re.match(r"first time request: tempo ([0-9.]+)", text)
            if tempo:
                state["tempo"] = float(tempo.group(1))
            write = re.match(r"setParameter \d+ \((.*)\) to (\S+)", text)
            if write and not state["blocks"]:
                state["writes"].append((write.group(1), write.group(2)))
            stand_in = re.match(r"stand-in sets \d+ \((.*)\) to (\S+),", text)
            if stand_in:
                state["sets"].append((stand_in.group(1), stand_in.group(2)))
    return {name: [Application(**state) for state in states]
            for name, states in found.items()}


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


def check_one(work, korvane, library, found, traced_block, check):
    """Prints what one check measured; answers whether it passed."""
    ok = True

    def note(condition, text):
        nonlocal ok
        print(f"  {'ok' if condition else 'FAIL'}: {text}")
        ok = ok and condition

    got = render_path(work, check)
    if not os.path.exists(got):
        note(False, f"Audacity exported no {os.path.basename(got)}")
        return False
    block = None
    apps = found.get(check.name, [])
    if check.effect == STAND_IN:
        note(len(apps) == check.passes,
             f"{len(apps)} instance(s) processed audio, one for each of "
             f"{check.passes} application(s)")
        input_rate = floatwav.read(os.path.join(work, check.input))[1]
        for number, app in enumerate(apps):
            size = block_size(app.blocks)
            block = block or size
            note(size is not None and size == block,
                 f"{len(app.blocks)} processing calls of {app.blocks[0]}"
                 f" frames, the last of {app.blocks[-1]}")
            late = ("" if app.resumed_at == app.rate else
                    f" (after the resume call, which came at "
                    f"{app.resumed_at:g} Hz)")
            note(app.rate == input_rate, "sample rate announced before "
                 f"processing: {app.rate:g} Hz{late}")
            note(app.tempo == TEMPO, f"tempo reported: {app.tempo}")
            if number == 0:
                writes = ", ".join(f"{n}={v}" for n, v in app.writes)
                print(f"  Audacity's writes before processing: {writes}")
            if check.settings:
                note(len(app.sets) == len(SETTINGS.splitlines()),
                     f"the stand-in set {len(app.sets)} values after "
                     "them, before the first sample")
    else:
        block = traced_block
        note(block is not None, "the block size is that of the traced "
             f"check: {block}")
    if block is None:
        return False
    values = os.path.join(work, "values") if check.settings else None
    source = os.path.join(work, check.input)
    # Audacity resumes a new instance at the project's rate and announces a
    # track of another rate only after that, with no resume to follow.
    # korvane takes a new rate at a resume, never while resumed (processing
    # may be running), so it runs such a track at the rate of the resume:
    # the reference is the same samples rendered at that rate.
    resumed = apps[0].resumed_at if len(apps) == 1 else None
    track_rate = None
    if resumed is not None and resumed != apps[0].rate:
        track_rate = floatwav.read(source)[1]
        channels, _ = floatwav.read(source)
        source = os.path.join(work, f"input-{check.name}-at-{int(resumed)}.wav")
        floatwav.write(source, channels, int(resumed))
        print(f"  resumed at {resumed:g} Hz, {apps[0].rate:g} Hz announced "
              "after the resume: korvane keeps the rate of the resume, so "
              f"the reference is IN's samples at {resumed:g} Hz")
    passes = check.passes + (check.opens.passes if check.opens else 0)
    for number in range(1, passes + 1):
        target = os.path.join(work, f"korvane-{check.name}-{number}.wav")
        korvane_render(korvane, library, source, target, block, values)
        source = target
    equal, text = compare_files(got, source, track_rate)
    note(equal, f"equals korvane render ({passes} pass(es), tempo "
         f"{TEMPO}, blocks of {block}{', settings' if values else ''}): "
         f"{text}")
    if not equal and check.name.startswith("defaults"):
        explain_defaults(work, korvane, library, found, block, got)
    return ok


def compare(work, korvane, library):
    found = applications(work)
    failures = []
    # korvane.so itself logs nothing; Audacity calls it as it calls the
    # stand-in in the same check.
    traced = found.get("defaults-traced")
    traced_block = block_size(traced[0].blocks) if traced else None
    for check in CHECKS:
        print(f"== {check.name}: {check.what}")
        ok = check_one(work, korvane, library, found, traced_block, check)
        if not ok:
            failures.append(check.name)
        print(f"korvane-audacity: {check.name} {'PASS' if ok else 'FAIL'}")
    return failures


def explain_defaults(work, korvane, library, found, block, got):
    """Renders the input again with the values that Audacity wrote back set
    explicitly, and says whether that is what Audacity rendered."""
    traced = found.get("defaults-traced", [])
    if not traced or not traced[0].writes:
        return
    writes = traced[0].writes
    target = os.path.join(work, "korvane-written-back.wav")
    korvane_render(korvane, library, os.path.join(work, STEREO), target,
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
    command, args = sys.argv[1], sys.argv[2:]
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
