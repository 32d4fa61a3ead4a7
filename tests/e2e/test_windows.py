"""The Windows programs (Vorna_1_12_x64.exe, Vorna_1_12_w32.exe, cross-built with MinGW-w64) under Wine.

Each program runs behind vorna-pipe-relay.exe, which gives it anonymous Windows pipes as a Windows
chess interface does, and also straight from a Linux pipe, as a Linux interface starts it through
Wine (a pipe that Wine cannot peek, which the program reads on a thread of its own). Checked for both
programs: a UCI
session with the same thinking lines as the Linux program, "go infinite" and "stop", "isready" answered
while a search runs, an xboard session, "quit" during an xboard search, standard input from a file,
the log file names, and the same search commands typed on a console.

    python3 tests/e2e/test_windows.py [--win64-dir build-win64] [--win32-dir build-win32 | --no-win32]
                                      [--linux-build-dir build]

Skips when the programs or Wine are missing, unless the environment variable CI is set, where that
is a failure. tools/test-windows.sh installs Wine, builds the programs and runs this script.
"""
import argparse
import os
import pty
import re
import select
import signal
import shutil
import subprocess
import sys
import tempfile
import time
import tty
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Engine  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
PROGRAMS = []       # [(name, Windows program, relay)] filled in by main()
LINUX_DIR = None    # a Linux build directory with Vorna_1_12_x64, or None
WINE = None

UCI_INFO = (r"info depth (\d+) score (cp|mate) (-?\d+) time (\d+) nodes (\d+) nps (\d+) "
            r"pv ([a-h][1-8][a-h][1-8][nbrq]?)")
XB_THINKING = r"(\d+) (-?\d+) (\d+) (\d+) ([a-h][1-8][a-h][1-8][nbrq]?)"

# The Linux program's answers, used when no Linux build is at hand: "position startpos moves e2e4"
# and "go depth 6" (thinking lines without time and nps), and the xboard session below.
GOLDEN_UCI = [
    "info depth 1 score cp -3 nodes 1 pv a7a5",
    "info depth 1 score cp 6 nodes 7 pv d7d5",
    "info depth 1 score cp 10 nodes 20 pv d7d6",
    "info depth 1 score cp 10 nodes 30 pv d7d6",
    "info depth 2 score cp -8 nodes 61 pv d7d6",
    "info depth 2 score cp -7 nodes 144 pv e7e6",
    "info depth 2 score cp -3 nodes 239 pv g8f6",
    "info depth 2 score cp -3 nodes 241 pv g8f6",
    "info depth 3 score cp 10 nodes 418 pv g8f6",
    "info depth 3 score cp 10 nodes 598 pv g8f6",
    "info depth 4 score cp -7 nodes 902 pv g8f6",
    "info depth 4 score cp -4 nodes 1889 pv d7d6",
    "info depth 4 score cp -4 nodes 4353 pv d7d6",
    "info depth 5 score cp 4 nodes 9099 pv d7d6",
    "info depth 5 score cp 12 nodes 15614 pv e7e6",
    "info depth 5 score cp 12 nodes 17790 pv e7e6",
    "info depth 6 score cp 0 nodes 27481 pv e7e6",
    "info depth 6 score cp 0 nodes 41184 pv e7e6",
    "bestmove e7e6",
]
GOLDEN_FEATURES = [
    'feature myname="Vorna 1.12 {arch}"', "feature ping=1", "feature setboard=1", "feature playother=1",
    "feature draw=0", "feature analyze=1", 'feature variants="normal"', "feature name=0", "feature done=1",
]
GOLDEN_XBOARD = [  # "new", "sd 6", "e2e4": thinking lines without time, then the move
    "1 -3 1 a7a5", "1 6 7 d7d5", "1 10 20 d7d6", "1 10 30 d7d6", "2 -8 61 d7d6", "2 -7 144 e7e6",
    "2 -3 239 g8f6", "2 -3 241 g8f6", "3 10 418 g8f6", "3 10 598 g8f6", "4 -7 902 g8f6",
    "4 -4 1889 d7d6", "4 -4 4353 d7d6", "5 4 9099 d7d6", "5 12 15614 e7e6", "5 12 17790 e7e6",
    "6 0 27481 e7e6", "6 0 41184 e7e6", "move e7e6",
]

# Generous limits: Wine starts slowly on a busy machine. A failing feature blocks or never answers,
# so it still fails, only later.
START = 60.0
STEP = 30.0


def no_time(line):
    """A thinking line without its time and speed fields, which differ from run to run."""
    m = re.fullmatch(UCI_INFO, line)
    if m:
        return "info depth %s score %s %s nodes %s pv %s" % (m[1], m[2], m[3], m[5], m[7])
    m = re.fullmatch(XB_THINKING, line)
    if m:
        return "%s %s %s %s" % (m[1], m[2], m[4], m[5])
    return line


_windows_paths = {}


def windows_path(path):
    if path in _windows_paths:
        return _windows_paths[path]
    out = subprocess.run([WINE, "winepath", "-w", path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         timeout=120, check=True)
    _windows_paths[path] = out.stdout.decode().strip()
    return _windows_paths[path]


def start(program, relay, workdir=None):
    """The Windows program behind the relay, in a fresh working directory."""
    return Engine(WINE, workdir, args=(relay, windows_path(program)))


def linux_program():
    if LINUX_DIR:
        path = os.path.join(LINUX_DIR, "Vorna_1_12_x64")
        if os.access(path, os.X_OK):
            return path
    return None


def uci_depth6(engine):
    """Sends the depth-6 search of the UCI session; returns its thinking lines and best move."""
    engine.send("position startpos moves e2e4", "go depth 6")
    _, lines = engine.expect(r"bestmove .*", STEP)
    return [no_time(line) for line in lines if line.startswith(("info", "bestmove"))]


def xboard_depth6(engine):
    """Sends "new", "sd 6" and 1.e4 to an engine past "protover 2"; returns its thinking and its move."""
    engine.send("new", "sd 6", "e2e4")
    _, lines = engine.expect(r"move .*", STEP)
    return [no_time(line) for line in lines]


_reference = {}


def reference(kind):
    """What the Linux program answers ("uci", "features" or "xboard"), or the golden lists without one."""
    if not _reference:
        path = linux_program()
        if path is None:
            _reference.update(uci=GOLDEN_UCI, features=GOLDEN_FEATURES, xboard=GOLDEN_XBOARD, source="golden")
        else:
            with Engine(path) as e:
                e.send("uci")
                e.expect("uciok")
                _reference["uci"] = uci_depth6(e)
                e.send("quit")
            with Engine(path) as e:
                e.send("xboard", "protover 2")
                _, lines = e.expect("feature done=1")
                _reference["features"] = [l.replace("x64", "{arch}") for l in lines if l.startswith("feature")]
                _reference["xboard"] = xboard_depth6(e)
                e.send("quit")
            _reference["source"] = path
    return _reference[kind]


class WindowsTest(unittest.TestCase):
    def test_uci_session(self):
        for name, program, relay in PROGRAMS:
            arch = name[-3:]
            with self.subTest(program=name), start(program, relay) as e:
                e.protocol = "uci"
                e.send("uci")
                _, lines = e.expect("uciok", START)
                self.assertEqual(lines[0], "Vorna 1.12 " + arch)
                self.assertIn("id name Vorna 1.12 %s UCI" % arch, lines)
                self.assertTrue(any(line.startswith("id author ") for line in lines), lines)
                self.assertEqual(e.sync(), [])
                got = uci_depth6(e)
                self.assertEqual(got, reference("uci"), "reference: " + reference("source"))
                e.send("quit")
                self.assertEqual(e.drain(STEP), [])
                self.assertEqual(e.wait(STEP), 0)
                self.assertEqual(os.listdir(e.workdir), [name + "_uci.log"])
                log = e.log(name + "_uci.log")
                self.assertEqual(log[:3], ["> isready", "readyok", "> position startpos moves e2e4"])
                self.assertEqual(log[-2:], [got[-1], "> quit"])

    def test_search_polls_its_input(self):
        # The search keeps going with nothing on its input (a blocking read would halt it at its first
        # look at the input), answers "isready" while it runs, and ends at once on "stop".
        for name, program, relay in PROGRAMS:
            with self.subTest(program=name), start(program, relay) as e:
                e.protocol = "uci"
                e.send("uci")
                e.expect("uciok", START)
                e.send("position startpos", "go infinite")
                _, lines = e.expect(r"info depth (\d\d|[6-9]) .*", STEP)
                self.assertFalse([l for l in lines if l.startswith("bestmove")], lines)
                e.send("isready")
                _, lines = e.expect("readyok", STEP)
                self.assertFalse([l for l in lines[:-1] if not re.fullmatch(UCI_INFO, l)], lines)
                self.assertFalse([l for l in e.read_for(0.5) if not re.fullmatch(UCI_INFO, l)])
                sent = time.monotonic()
                e.send("stop")
                _, lines = e.expect(r"bestmove [a-h][1-8][a-h][1-8][nbrq]?", STEP)
                took = time.monotonic() - sent
                print("  %s: bestmove %.0f ms after stop" % (name, took * 1000), file=sys.stderr)
                self.assertLess(took, 10.0)
                e.send("isready")
                e.expect("readyok", STEP)
                e.send("quit")
                self.assertEqual(e.wait(STEP), 0)
                log = e.log(name + "_uci.log")
                i = log.index("> isready")
                self.assertEqual(log[i + 1], "readyok")
                self.assertIn("> stop", log)

    def test_xboard_session(self):
        for name, program, relay in PROGRAMS:
            arch = name[-3:]
            with self.subTest(program=name), start(program, relay) as e:
                e.protocol = "xboard"
                e.send("xboard", "protover 2")
                _, lines = e.expect("feature done=1", START)
                self.assertEqual(lines[0], "Vorna 1.12 " + arch)
                features = [l for l in lines if l.startswith("feature")]
                self.assertEqual(features, [l.replace("{arch}", arch) for l in reference("features")])
                self.assertEqual(e.sync("7"), [])
                self.assertEqual(xboard_depth6(e), reference("xboard"), "reference: " + reference("source"))
                self.assertEqual(e.sync("8"), [])
                e.send("quit")
                self.assertEqual(e.wait(STEP), 0)
                self.assertEqual(os.listdir(e.workdir), [name + "_wb.log"])
                log = e.log(name + "_wb.log")
                self.assertEqual(log[:4], ["> protover 2", "> ping 7", "pong 7", "> new"])
                self.assertEqual(log[-4:], [reference("xboard")[-1], "> ping 8", "pong 8", "> quit"])

    def test_xboard_quit_during_search(self):
        for name, program, relay in PROGRAMS:
            with self.subTest(program=name), start(program, relay) as e:
                e.send("xboard", "protover 2")
                e.expect("feature done=1", START)
                e.send("new", "e2e4")  # no clock and no depth limit: the search goes on until told
                e.expect(r"([6-9]|\d\d) .*", STEP)
                e.send("quit")
                self.assertEqual(e.wait(STEP), 0)
                self.assertEqual(e.log(name + "_wb.log")[-1], "> quit")

    def test_straight_from_a_linux_pipe(self):
        # How a Linux interface starts a Windows program ("wine Vorna_1_12_x64.exe"): its input is a
        # Linux pipe, which Wine cannot peek. The search must still go on while nothing arrives and
        # answer what does, in both protocols.
        for name, program, _ in PROGRAMS:
            with self.subTest(program=name, protocol="uci"), Engine(WINE, args=(program,)) as e:
                e.protocol = "uci"
                e.send("uci")
                e.expect("uciok", START)
                e.send("go depth 1")
                e.expect(r"bestmove [a-h][1-8][a-h][1-8]", STEP)
                e.send("position startpos", "go infinite")
                _, lines = e.expect(r"info depth (\d\d|[6-9]) .*", STEP)
                e.send("isready")
                _, lines = e.expect("readyok", STEP)
                self.assertFalse([l for l in lines[:-1] if not re.fullmatch(UCI_INFO, l)], lines)
                e.send("stop")
                e.expect(r"bestmove [a-h][1-8][a-h][1-8][nbrq]?", STEP)
                e.send("quit")
                self.assertEqual(e.wait(STEP), 0)
            with self.subTest(program=name, protocol="xboard"), Engine(WINE, args=(program,)) as e:
                e.protocol = "xboard"
                e.send("xboard", "protover 2")
                e.expect("feature done=1", START)
                e.send("new", "post")
                e.sync("1")
                # xboard interrupts its engine before each move (SIGINT, which Wine hands on as Ctrl+C)
                e.proc.send_signal(signal.SIGINT)
                e.send("e2e4")  # no clock and no depth limit: the search goes on until "?"
                e.expect(r"([6-9]|\d\d) .*", STEP)
                e.send("?")
                e.expect(r"move [a-h][1-8][a-h][1-8][nbrq]?", STEP)
                self.assertEqual(e.sync("3"), [])
                e.send("quit")
                self.assertEqual(e.wait(STEP), 0)

    def test_input_from_a_file(self):
        # A file cannot be peeked: the poll reads it and meets its end, which ends the search and the
        # program, exactly as the Linux program does at the end of its input.
        for name, program, _ in PROGRAMS:
            with self.subTest(program=name), tempfile.TemporaryDirectory(prefix="vorna-win-") as cwd:
                commands = os.path.join(cwd, "commands.txt")
                with open(commands, "wb") as f:
                    f.write(b"uci\r\nisready\r\nposition startpos\r\ngo depth 9\r\n")
                with open(commands, "rb") as f:
                    res = subprocess.run([WINE, program], stdin=f, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                         cwd=cwd, timeout=START)
                self.assertEqual(res.returncode, 0)
                out = res.stdout.decode("latin-1").splitlines()
                self.assertIn("readyok", out)
                self.assertRegex(out[-1], r"bestmove [a-h][1-8][a-h][1-8]")
                info = [no_time(l) for l in out if l.startswith("info")]
                self.assertTrue(info)
                # the search stopped at its first look at the input, long before depth 9
                self.assertLess(int(info[-1].split()[2]), 9, info)
                path = linux_program()
                if path:
                    with open(commands, "rb") as f, tempfile.TemporaryDirectory(prefix="vorna-ref-") as elsewhere:
                        ref = subprocess.run([path], stdin=f, stdout=subprocess.PIPE, cwd=elsewhere, timeout=60)
                    ref_info = [no_time(l) for l in ref.stdout.decode("latin-1").splitlines() if l.startswith("info")]
                    self.assertEqual(info, ref_info)
                self.assertEqual(sorted(os.listdir(cwd)), sorted(["commands.txt", name + "_uci.log"]))

    def test_console_input(self):
        # On a console the search looks for a key press instead of peeking a pipe: it goes on while
        # nothing is typed, and a typed line is read and answered in the middle of the search.
        for name, program, _ in PROGRAMS:
            with self.subTest(program=name), tempfile.TemporaryDirectory(prefix="vorna-win-") as cwd, \
                    Console(program, cwd) as c:
                c.expect("Vorna1.12" + name[-3:], START)
                c.type("uci\n")
                c.expect("uciok")
                c.type("position startpos\ngo infinite\n")
                _, m = c.expect(r"infodepth([6-9]|\d\d)score")
                searching = m.end()
                c.type("isready\n")
                text, m = c.expect("readyok")
                self.assertNotIn("bestmove", text[searching:m.start()])
                c.type("stop\n")
                c.expect("bestmove[a-h][1-8][a-h][1-8]")
                c.type("quit\n")
                self.assertEqual(c.wait(), 0)
                with open(os.path.join(cwd, name + "_uci.log"), encoding="latin-1") as f:
                    log = [l for l in f.read().splitlines() if not l.startswith("info ")]
                self.assertEqual(len(log), 7, log)
                self.assertEqual(log[:5] + log[6:], ["> position startpos", "> go infinite", "> isready", "readyok",
                                                     "> stop", "> quit"])
                self.assertRegex(log[5], r"bestmove [a-h][1-8][a-h][1-8]")

    def test_log_name_is_the_program_name(self):
        # Directory and extension are cut from the program's own path, at the last backslash and the
        # last dot; the log goes to the working directory, not beside the program.
        for name, program, relay in PROGRAMS:
            with self.subTest(program=name), tempfile.TemporaryDirectory(prefix="vorna-win-") as place:
                copy = os.path.join(place, "My.Engine.v2.exe")
                shutil.copy(program, copy)
                with start(copy, relay) as e:
                    e.send("xboard", "ping 1", "quit")
                    e.expect("pong 1", START)
                    self.assertEqual(e.wait(STEP), 0)
                    self.assertEqual(os.listdir(e.workdir), ["My.Engine.v2_wb.log"])
                    self.assertEqual(e.log("My.Engine.v2_wb.log"), ["> ping 1", "pong 1", "> quit"])
                self.assertEqual(os.listdir(place), ["My.Engine.v2.exe"])


class Console:
    """A program started on a console: Wine's console on a terminal of its own (a pseudo-terminal in
    raw mode, so that Enter arrives as a carriage return however early it is typed). Wine draws the
    screen with escape sequences and cursor moves, so the text is compared without them and without
    white space."""

    DRAWING = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07|\s")

    def __init__(self, program, workdir):
        self.screen = b""
        self.pid, self.fd = pty.fork()
        if self.pid == 0:  # the child: becomes Wine running the program
            try:
                tty.setraw(0)
                os.chdir(workdir)
                os.execvp(WINE, [WINE, program])
            finally:
                os._exit(127)

    def type(self, text):
        os.write(self.fd, text.replace("\n", "\r").encode())

    def expect(self, pattern, timeout=STEP):
        """Waits until the text drawn so far matches the pattern; returns (text, match)."""
        deadline = time.monotonic() + timeout
        while True:
            text = self.DRAWING.sub(b"", self.screen).decode("latin-1")
            m = re.search(pattern, text)
            if m:
                return text, m
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("console: no %r within %.0f s; screen ends %r" % (pattern, timeout, text[-300:]))
            if select.select([self.fd], [], [], min(left, 0.2))[0]:
                try:
                    data = os.read(self.fd, 65536)
                except OSError:
                    data = b""
                if not data:
                    raise AssertionError("console: program ended before %r; screen ends %r" % (pattern, text[-300:]))
                self.screen += data

    def wait(self, timeout=STEP):
        """Exit status; fails if the program is still running after timeout seconds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.pid = None
                return os.waitstatus_to_exitcode(status)
            if select.select([self.fd], [], [], 0.1)[0]:
                try:
                    os.read(self.fd, 65536)
                except OSError:
                    pass
        raise AssertionError("console: program did not end within %.0f s" % timeout)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.pid:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        os.close(self.fd)
        return False


def main():
    global LINUX_DIR, WINE
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", help="ignored; the Windows programs have build directories of their own")
    parser.add_argument("--win64-dir", default=os.path.join(ROOT, "build-win64"))
    parser.add_argument("--win32-dir", default=os.path.join(ROOT, "build-win32"))
    parser.add_argument("--no-win32", action="store_true",
                        help="test the 64-bit program only (a kernel that does not run 32-bit programs)")
    parser.add_argument("--linux-build-dir", default=os.path.join(ROOT, "build"),
                        help="Linux build whose Vorna_1_12_x64 gives the expected answers (golden lists without it)")
    args, rest = parser.parse_known_args()
    LINUX_DIR = os.path.abspath(args.linux_build_dir)

    missing = []
    WINE = shutil.which(os.environ.get("VORNA_WINE") or "wine")
    if not WINE:
        missing.append("wine")
    builds = [("Vorna_1_12_x64", args.win64_dir)]
    if not args.no_win32:
        builds.append(("Vorna_1_12_w32", args.win32_dir))
    for name, directory in builds:
        program = os.path.join(os.path.abspath(directory), name + ".exe")
        relay = os.path.join(os.path.abspath(directory), "vorna-pipe-relay.exe")
        for path in (program, relay):
            if not os.path.isfile(path):
                missing.append(path)
        PROGRAMS.append((name, program, relay))
    if missing:
        ci = os.environ.get("CI", "").lower() not in ("", "0", "false", "no")
        print("%s: missing %s" % ("FAIL" if ci else "skipped", ", ".join(missing)))
        sys.exit(1 if ci else 0)
    os.environ.setdefault("WINEDEBUG", "-all")
    print("expected answers from:", reference("source"), file=sys.stderr)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
