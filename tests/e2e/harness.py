"""Drives a Vorna program through pipes, the way a chess GUI does.

Every test script takes --build-dir (the CMake build directory) and finds the programs there: the x86
programs (Vorna_1_12_x64, Vorna_1_12_w32) of a build on this machine, or the ARM program of a cross
build. With --reference-dir (the build directory of this machine's programs), the tests that compare
programs line by line compare the build's programs with that build's 64-bit program, and the legal
moves of a position come from that build's perft tool. Engine.expect() reads lines until one matches,
with a timeout, so a hung engine fails the test instead of hanging it.
"""
import argparse
import functools
import os
import queue
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BUILD_DIR = None
# The WebAssembly build's directory (--web-dir): when given, the tests run its Node program and bench
# instead of the build directory's programs.
WEB_DIR = None
# A build directory of this machine's programs (--reference-dir), for the tests of a cross build: its
# 64-bit program is the one the others must think alike with. With --web-dir the build directory is it.
REFERENCE_DIR = None

# Every program is started through tools/launch: a 32-bit x86 program runs natively where the kernel runs
# 32-bit programs and under qemu-user where it refuses them (or when VORNA_EMULATE32=1 says so); an ARM
# program runs under qemu-user, a .js program under Node.
LAUNCH = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                      "tools", "launch")

# How much slower a program runs under qemu-user than natively: nodes per second of
# "vorna-bench-w32 search 6" natively and under qemu-i386, in alternating runs on the 2-core development
# machine, 8.2x to 9.6x (13x once under heavier load); the ARM programs' search bench under qemu-aarch64
# and qemu-arm against the 64-bit program's on this machine, see docs/arm.md. Budgets on latency and
# speed are multiplied by 15 for an emulated program; every other assertion stays exactly as it is.
EMULATION_FACTOR = 15

# The engine programs a build directory may hold.
PROGRAM_NAMES = ("Vorna_1_12_x64", "Vorna_1_12_w32", "Vorna_1_12_arm64", "Vorna_1_12_arm32")

# One thinking line of each protocol, with the fields as groups.
UCI_INFO = (r"info depth (\d+) score (cp|mate) (-?\d+) time (\d+) nodes (\d+) nps (\d+) "
            r"pv ([a-h][1-8][a-h][1-8][nbrq]?)")
XBOARD_THINKING = r"(\d+) (-?\d+) (\d+) (\d+) ([a-h][1-8][a-h][1-8][nbrq]?)"
MOVE_TEXT = r"[a-h][1-8][a-h][1-8][nbrq]?"


# The word each program reports after "Vorna 1.12", by the name of the program's file, which also
# names its log (<name>_uci.log).
TAGS = {"Vorna_1_12_x64": "x64", "Vorna_1_12_w32": "w32", "Vorna_1_12_arm64": "arm64", "Vorna_1_12_arm32": "arm32",
        "vorna": "wasm"}


def tag(name):
    return TAGS[name]


def programs():
    """The engine programs under test: [(name, path)], those present in the build directory, or the
    WebAssembly build's Node program (vorna.js) when --web-dir is given."""
    if WEB_DIR:
        candidates = [("vorna", os.path.join(WEB_DIR, "vorna.js"))]
    else:
        candidates = [(name, os.path.join(BUILD_DIR, name)) for name in PROGRAM_NAMES]
    return [(name, path) for name, path in candidates if os.path.exists(path)]


def bench_programs():
    """The bench programs under test, as programs() chooses: [path]."""
    if WEB_DIR:
        candidates = [os.path.join(WEB_DIR, "vorna-bench.js")]
    else:
        candidates = [os.path.join(BUILD_DIR, name) for name in ("vorna-bench", "vorna-bench-w32")]
    return [path for path in candidates if os.path.exists(path)]


def compared_programs():
    """The programs whose thinking must agree line by line: the reference build's 64-bit program
    first when there is one (with --web-dir, the build directory's), then the programs under test."""
    found = programs()
    if REFERENCE_DIR:
        path = os.path.join(REFERENCE_DIR, "Vorna_1_12_x64")
        if not os.path.exists(path):
            raise AssertionError("no Vorna_1_12_x64 in the reference build " + REFERENCE_DIR)
        found.insert(0, ("Vorna_1_12_x64", path))
    return found


def configured(name):
    """Whether the build directory was configured to build the program: a build on this machine makes
    the x86 programs (the sanitizer build and a configure with -DVORNA_W32=OFF leave out the 32-bit
    one), an ARM cross build the program of its compiler."""
    try:
        with open(os.path.join(BUILD_DIR, "CMakeCache.txt")) as f:
            cache = f.read()
    except OSError:
        return True
    arm = re.search(r"^CMAKE_TOOLCHAIN_FILE:\w+=.*linux-(aarch64|armhf)\.cmake$", cache, re.M)
    if arm:
        return name == {"aarch64": "Vorna_1_12_arm64", "armhf": "Vorna_1_12_arm32"}[arm.group(1)]
    if name == "Vorna_1_12_w32":
        return "VORNA_SANITIZE:BOOL=ON" not in cache and "VORNA_W32:BOOL=OFF" not in cache
    return name == "Vorna_1_12_x64"


def command(path, *args):
    """The argument list that starts a program the way every test starts it."""
    return [LAUNCH, path, *args]


_modes = {}


def emulated(path):
    """Whether tools/launch runs the program under qemu-user."""
    if path not in _modes:
        _modes[path] = subprocess.run([LAUNCH, "--mode", path], stdout=subprocess.PIPE, check=True,
                                      timeout=30).stdout.decode().strip()
    return _modes[path] == "emulated"


def budget(path, ms):
    """A latency or speed budget in milliseconds for the program: scaled when it is emulated."""
    return ms * EMULATION_FACTOR if emulated(path) else ms


class Engine:
    """One running engine process with a reader thread collecting its output lines."""

    protocol = None  # "uci" or "xboard" once start_uci() or start_xboard() has set it up

    def __init__(self, path, workdir=None, args=()):
        self.own_workdir = workdir is None
        self.workdir = workdir or tempfile.mkdtemp(prefix="vorna-e2e-")
        self.proc = subprocess.Popen(command(path, *args), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, cwd=self.workdir, bufsize=0)
        self.lines = queue.Queue()
        self.seen = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode("latin-1").rstrip("\r\n"))
        self.lines.put(None)

    def send(self, *lines):
        for line in lines:
            self.proc.stdin.write((line + "\n").encode("latin-1"))
        self.proc.stdin.flush()

    def send_raw(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def close_input(self):
        try:
            self.proc.stdin.close()
        except BrokenPipeError:
            pass

    def read_line(self, timeout=10.0):
        """Next output line, or None at the end of output; fails after timeout seconds."""
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError("engine said nothing for %.1f s; last lines: %r" % (timeout, self.seen[-10:]))
        if line is not None:
            self.seen.append(line)
        return line

    def expect(self, pattern, timeout=10.0):
        """Reads lines until one matches the regular expression; returns (match, lines read)."""
        deadline = time.monotonic() + timeout
        got = []
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no line matching %r within %.1f s; got %r" % (pattern, timeout, got[-15:]))
            line = self.read_line(left)
            if line is None:
                raise AssertionError("output ended before a line matching %r; got %r" % (pattern, got[-15:]))
            got.append(line)
            m = re.fullmatch(pattern, line)
            if m:
                return m, got

    def drain(self, timeout=10.0):
        """Reads everything up to the end of output."""
        got = []
        while True:
            line = self.read_line(timeout)
            if line is None:
                return got
            got.append(line)

    def wait(self, timeout=10.0):
        """Exit status; fails if the process is still running after timeout seconds."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise AssertionError("engine did not exit within %.1f s" % timeout)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        """Kills the process if it still runs and removes the working directory it was given."""
        self.kill()
        self.reader.join(5)  # the output ends with the process
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                stream.close()
            except (OSError, ValueError):
                pass
        if self.own_workdir:
            shutil.rmtree(self.workdir, ignore_errors=True)
        return False

    def read_for(self, seconds):
        """Every line written within the next seconds (fewer at the end of output); never fails."""
        deadline = time.monotonic() + seconds
        got = []
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return got
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                return got
            if line is None:
                self.lines.put(None)  # later reads see the end of output too
                return got
            self.seen.append(line)
            got.append(line)

    def sync(self, token="sync"):
        """A round trip through the command loop: "isready" in UCI mode, "ping" in xboard mode.
        Returns the lines written before the answer."""
        if self.protocol == "uci":
            self.send("isready")
            return self.expect("readyok")[1][:-1]
        self.send("ping " + token)
        return self.expect("pong " + re.escape(token))[1][:-1]

    def log(self, name):
        with open(os.path.join(self.workdir, name), encoding="latin-1") as f:
            return f.read().splitlines()


def run(input_bytes, path, timeout=60, cwd=None):
    """Runs a program with all of its input at once; returns (exit status, stdout lines)."""
    with tempfile.TemporaryDirectory(prefix="vorna-e2e-") as scratch:
        res = subprocess.run(command(path), input=input_bytes, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             timeout=timeout, cwd=cwd or scratch)
    return res.returncode, res.stdout.decode("latin-1").splitlines()


def start_uci(path, workdir=None):
    """An engine past "uci" and its "uciok"; returns it with the lines read (banner and identification)."""
    engine = Engine(path, workdir)
    engine.protocol = "uci"
    engine.send("uci")
    return engine, engine.expect("uciok")[1]


def start_xboard(path, workdir=None):
    """An engine past "xboard" and "protover 2"; returns it with the lines read (banner and features)."""
    engine = Engine(path, workdir)
    engine.protocol = "xboard"
    engine.send("xboard", "protover 2")
    return engine, engine.expect("feature done=1")[1]


def perft_tool():
    """The perft tool that lists legal moves: the reference build's where there is one."""
    return os.path.join(REFERENCE_DIR or BUILD_DIR, "vorna-perft")


@functools.lru_cache(maxsize=None)
def legal_moves(fen):
    """The legal moves of a position (FEN text) in coordinate notation, as the perft tool lists them."""
    res = subprocess.run(command(perft_tool(), fen, "1", "divide"), stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, timeout=60)
    moves = set()
    for line in res.stdout.decode("latin-1").splitlines():
        m = re.fullmatch(r"(%s): 1" % MOVE_TEXT, line.strip())
        if m:
            moves.add(m.group(1))
    if res.returncode != 0:
        raise AssertionError("perft tool failed on %r: %s" % (fen, res.stderr.decode("latin-1")))
    return frozenset(moves)


def elapsed_ms(start):
    return (time.monotonic() - start) * 1000.0


def main():
    """Entry point for test scripts: parses --build-dir, --web-dir and --reference-dir, then runs
    unittest."""
    global BUILD_DIR, WEB_DIR, REFERENCE_DIR
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--web-dir", help="test the WebAssembly programs of this directory")
    parser.add_argument("--reference-dir", help="a build of this machine's programs, for a cross build's tests")
    args, rest = parser.parse_known_args()
    BUILD_DIR = os.path.abspath(args.build_dir)
    WEB_DIR = args.web_dir and os.path.abspath(args.web_dir)
    REFERENCE_DIR = args.reference_dir and os.path.abspath(args.reference_dir)
    if WEB_DIR and not REFERENCE_DIR:
        REFERENCE_DIR = BUILD_DIR
    if not programs():
        print("no engine program in", WEB_DIR or BUILD_DIR)
        sys.exit(1)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
