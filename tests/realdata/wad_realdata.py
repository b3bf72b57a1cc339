"""What the real-data checks of vrex on Doom WADs share: failing with a
message, running vrex (or VREX_E2E_EXE through VREX_E2E_LAUNCHER), the
independent WAD reader, and the full names the marker rule gives entries."""
import os
import subprocess
import sys

LABEL_BELOW = 100


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def wad_reader():
    """The omg library, the WAD reader (Debian package python3-omg), with
    its omg.wadio loaded."""
    try:
        import omg
        import omg.wadio
    except ImportError:
        fail("the WAD reader python3-omg is not installed for %s (apt-get install python3-omg)" % sys.executable)
    return omg


def run_vrex(vrex, cwd, *args):
    """Runs vrex in `cwd`; returns (exit code, stdout). Output on stderr fails."""
    command = [os.environ.get("VREX_E2E_EXE") or vrex] + list(args)
    launcher = os.environ.get("VREX_E2E_LAUNCHER")
    if launcher:
        command = [launcher] + command
    done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = done.stdout.decode("latin-1").replace("\r\n", "\n")
    err = done.stderr.decode("latin-1").replace("\r\n", "\n")
    if err:
        fail("vrex %s wrote to stderr: %s" % (" ".join(args), err[:500]))
    return done.returncode, out


def marker_kind(name, size):
    """"map", "start", "end" for a marker (a label with a marker's name), else None."""
    if size >= LABEL_BELOW:
        return None
    padded = name.ljust(8, "\0")
    if padded.startswith("MAP") or (padded[0] == "E" and padded[2] == "M"):
        return "map"
    if padded[1:7] == "_START":
        return "start"
    if padded[1:5] == "_END":
        return "end"
    return None


def full_names(entries):
    """The full name of every (name, size) entry by the marker rule: a map
    marker (MAP..., E?M...) prefixes the next 10 entries, a namespace start
    (?_START...) every entry up to the one after its end (?_END...); markers
    met inside a group add to the prefix."""
    prefix, countdown, names = "", 1, []
    for name, size in entries:
        if countdown == 1:
            prefix, countdown = "", 0
        elif countdown > 1:
            countdown -= 1
        names.append(prefix + name)
        kind = marker_kind(name, size)
        if kind == "map":
            countdown, prefix = 11, prefix + name + "\\"
        elif kind == "start":
            countdown, prefix = -1, prefix + name + "\\"
        elif kind == "end":
            countdown = 1
    return names


def member_names(entries, every=False):
    """(directory index, full name) of every member of (name, size) entries:
    those of 100 bytes or more; with `every` (-all), every entry but the
    markers."""
    return [(index, full) for index, (full, (name, size)) in enumerate(zip(full_names(entries), entries))
            if size >= LABEL_BELOW or (every and not marker_kind(name, size))]
