"""Helpers for the tests that run Vorna under real chess interfaces (polyglot, xboard, fairymax).

- find_tools(): locates the Debian programs (they live in /usr/games, which is not always on PATH);
  a missing program skips the test on a developer machine but fails it under CI.
- StatusWrapper: a small launcher put between the interface and our engine. It records the start,
  every signal the interface sends and the engine's exit status, because neither xboard nor polyglot
  reports an engine that died. SIGINT is passed on to the engine, as the interface sent it to the
  engine; SIGTERM and SIGHUP are only noted (they follow "quit", and the engine must end by itself).
- Process: a child process speaking a line protocol, with a reader thread and timeouts.
- Position and legal_moves(): tracks a game from coordinate moves and asks vorna-perft for the
  legal moves of each position.
"""
import os
import queue
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import harness

EXTRA_TOOL_DIRS = ("/usr/games", "/usr/local/games")


def in_ci():
    value = os.environ.get("CI", "")
    return value != "" and value.lower() not in ("0", "false", "no")


def tool_path():
    """PATH plus the games directories, where Debian installs chess programs."""
    parts = [p for p in os.environ.get("PATH", "").split(os.pathsep) if p]
    for extra in EXTRA_TOOL_DIRS:
        if extra not in parts:
            parts.append(extra)
    return os.pathsep.join(parts)


def find_tools(*names):
    """{name: absolute path}. A missing program skips the test, or fails it when CI is set."""
    found, missing = {}, []
    for name in names:
        path = shutil.which(name, path=tool_path())
        if path:
            found[name] = path
        else:
            missing.append(name)
    if missing:
        message = ("missing program(s): %s (tools/install-test-deps.sh installs them)"
                   % ", ".join(missing))
        if in_ci():
            raise AssertionError(message + "; CI is set, so this is a failure")
        raise unittest.SkipTest(message)
    return found


def perft_program(build_dir):
    path = os.path.join(build_dir, "vorna-perft")
    if not os.path.exists(path):
        raise AssertionError("vorna-perft is missing from " + build_dir)
    return path


WRAPPER_TEMPLATE = r'''#!%(python)s
# Launches the engine and records its life: start, signals received, exit status.
import os, signal, subprocess, sys, time

ENGINE = %(engine)r  # the argument list that starts the engine
STATUS = %(status)r

def note(text):
    with open(STATUS, "a") as f:
        f.write("%%.3f %%s\n" %% (time.time(), text))

child = None

def forward(signum, frame):
    note("signal %%d forwarded" %% signum)
    if child is not None:
        try:
            child.send_signal(signum)
        except ProcessLookupError:
            pass

def noted(signum, frame):
    note("signal %%d noted" %% signum)

# The engine inherits what the interface gave this launcher (an ignored signal stays ignored);
# the handlers installed here are reset to the default when the engine program starts.
int_inherited = signal.getsignal(signal.SIGINT)
if int_inherited != signal.SIG_IGN:
    signal.signal(signal.SIGINT, forward)
signal.signal(signal.SIGTERM, noted)
signal.signal(signal.SIGHUP, noted)
child = subprocess.Popen(ENGINE)
note("start %%d" %% child.pid)
status = child.wait()
note("exit %%d" %% status)
sys.exit(0 if status == 0 else 1)
'''


class StatusWrapper:
    """A launcher script for one engine program that logs its starts, signals and exit statuses."""

    def __init__(self, engine_path, directory):
        self.path = os.path.join(directory, "engine-launcher")
        self.status_path = os.path.join(directory, "engine-status.txt")
        with open(self.path, "w") as f:
            f.write(WRAPPER_TEMPLATE % {"python": sys.executable, "engine": harness.command(engine_path),
                                        "status": self.status_path})
        os.chmod(self.path, 0o755)

    def events(self):
        """[(time, text)] in the order written."""
        if not os.path.exists(self.status_path):
            return []
        out = []
        with open(self.status_path) as f:
            for line in f:
                stamp, _, text = line.rstrip("\n").partition(" ")
                out.append((float(stamp), text))
        return out

    def exit_statuses(self):
        return [int(text.split()[1]) for _, text in self.events() if text.startswith("exit ")]

    def starts(self):
        return [t for t, text in self.events() if text.startswith("start ")]

    def exits_before(self, moment):
        """Exit lines written before the given time.time() value: deaths during the match."""
        return [(t, text) for t, text in self.events() if text.startswith("exit ") and t < moment]

    def describe(self):
        """The recorded events in order, runs of the same event folded into one with a count."""
        parts = []
        for _, text in self.events():
            m = re.fullmatch(r"signal (\d+) (\w+)", text)
            if m:
                text = "%s %s" % (signal_name(int(m.group(1))), m.group(2))
            if parts and parts[-1][0] == text:
                parts[-1][1] += 1
            else:
                parts.append([text, 1])
        text = "; ".join(t if n == 1 else "%s (x%d)" % (t, n) for t, n in parts)
        return text or "nothing recorded"

    def check_clean_run(self, testcase, match_end=None, expected_starts=None):
        """Every start has an exit with status 0, and (with match_end) none happened before it."""
        starts, statuses = self.starts(), self.exit_statuses()
        testcase.assertTrue(starts, "the engine was never started (%s)" % self.describe())
        if expected_starts is not None:
            testcase.assertEqual(len(starts), expected_starts,
                                 "engine starts: %s" % self.describe())
        testcase.assertEqual(len(statuses), len(starts),
                             "an engine run left no exit status: %s" % self.describe())
        for status in statuses:
            if status < 0:
                testcase.fail("the engine was killed by %s; its launcher recorded: %s"
                              % (signal_name(-status), self.describe()))
            testcase.assertEqual(status, 0, "engine exit status; its launcher recorded: %s"
                                 % self.describe())
        if match_end is not None:
            early = self.exits_before(match_end)
            testcase.assertFalse(early, "the engine ended while the games were still running: %s"
                                 % self.describe())


OPPONENT_FILTER_TEMPLATE = r"""#!%(python)s
# Runs the opponent engine and passes the interface's lines on, except the commands it cannot take.
import signal, subprocess, sys

DROP = %(drop)r
for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
    signal.signal(sig, signal.SIG_IGN)
child = subprocess.Popen(%(argv)r, stdin=subprocess.PIPE)
try:
    for line in sys.stdin.buffer:
        words = line.split()
        if words and words[0].decode("latin-1") in DROP:
            continue
        child.stdin.write(line)
        child.stdin.flush()
except BrokenPipeError:
    pass
try:
    child.stdin.close()
except BrokenPipeError:
    pass
sys.exit(child.wait())
"""


def opponent_filter(argv, directory, drop=("computer", "result")):
    """A launcher for an opponent engine that drops the given commands before they reach it.

    fairymax 5.0b (Debian) answers an unknown command such as "computer" or "result" with an
    error line and then, about every other time, dies of a segmentation fault; xboard sends both
    commands in every game.
    """
    path = os.path.join(directory, "opponent-launcher")
    with open(path, "w") as f:
        f.write(OPPONENT_FILTER_TEMPLATE % {"python": sys.executable, "argv": list(argv),
                                            "drop": tuple(drop)})
    os.chmod(path, 0o755)
    return path


class Process:
    """A child process that talks in lines on stdin/stdout; stderr goes to a file."""

    def __init__(self, argv, cwd, env=None, name="process"):
        self.name = name
        self.stderr_path = os.path.join(cwd, "%s.stderr" % name)
        self.stderr_file = open(self.stderr_path, "wb")
        self.proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.stderr_file, bufsize=0)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode("latin-1").rstrip("\r\n"))
        self.lines.put(None)

    def send(self, *lines):
        try:
            for line in lines:
                self.proc.stdin.write((line + "\n").encode("latin-1"))
            self.proc.stdin.flush()
        except BrokenPipeError:
            raise AssertionError("%s has closed its input; last lines: %r"
                                 % (self.name, self.seen[-10:]))

    def read_line(self, timeout):
        """Next line, or None at the end of output; fails after timeout seconds."""
        try:
            line = self.lines.get(timeout=max(timeout, 0.0))
        except queue.Empty:
            raise AssertionError("%s said nothing for %.1f s; last lines: %r"
                                 % (self.name, timeout, self.seen[-10:]))
        if line is not None:
            self.seen.append(line)
        return line

    def expect(self, pattern, timeout):
        """Reads lines until one matches; returns (match, lines read)."""
        deadline = time.monotonic() + timeout
        got = []
        while True:
            line = self.read_line(deadline - time.monotonic())
            if line is None:
                raise AssertionError("%s ended its output before a line matching %r; got %r"
                                     % (self.name, pattern, got[-15:]))
            got.append(line)
            m = re.fullmatch(pattern, line)
            if m:
                return m, got

    def wait(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("%s did not exit within %.1f s" % (self.name, timeout))

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def close(self):
        self.kill()
        for stream in (self.proc.stdin, self.proc.stdout, self.stderr_file):
            try:
                stream.close()
            except OSError:
                pass


START_BOARD = ["rnbqkbnr", "pppppppp", "........", "........",
               "........", "........", "PPPPPPPP", "RNBQKBNR"]
CASTLE_LOSS = {"e1": "KQ", "h1": "K", "a1": "Q", "e8": "kq", "h8": "k", "a8": "q"}


class Position:
    """A chess position that coordinate moves are played on; the moves are trusted to be legal."""

    def __init__(self):
        self.squares = {}
        for r, row in enumerate(START_BOARD):
            for f, piece in enumerate(row):
                if piece != ".":
                    self.squares["abcdefgh"[f] + str(8 - r)] = piece
        self.white_to_move = True
        self.castling = "KQkq"
        self.ep = "-"
        self.halfmoves = 0
        self.fullmoves = 1

    def fen(self):
        rows = []
        for rank in range(8, 0, -1):
            row, empty = "", 0
            for file in "abcdefgh":
                piece = self.squares.get(file + str(rank))
                if piece is None:
                    empty += 1
                    continue
                if empty:
                    row += str(empty)
                    empty = 0
                row += piece
            rows.append(row + (str(empty) if empty else ""))
        return "%s %s %s %s %d %d" % ("/".join(rows), "w" if self.white_to_move else "b",
                                      self.castling or "-", self.ep, self.halfmoves,
                                      self.fullmoves)

    def play(self, move):
        src, dst, promo = move[0:2], move[2:4], move[4:5]
        piece = self.squares.pop(src)
        captured = self.squares.pop(dst, None)
        if piece in "Pp" and dst == self.ep:
            captured = self.squares.pop(dst[0] + src[1])
        if piece in "Kk" and abs(ord(dst[0]) - ord(src[0])) == 2:
            rook_from, rook_to = ("h", "f") if dst[0] == "g" else ("a", "d")
            self.squares[rook_to + src[1]] = self.squares.pop(rook_from + src[1])
        if promo:
            piece = promo.upper() if self.white_to_move else promo.lower()
        self.squares[dst] = piece
        for sq in (src, dst):
            for right in CASTLE_LOSS.get(sq, ""):
                self.castling = self.castling.replace(right, "")
        self.ep = "-"
        if piece in "Pp" and abs(int(dst[1]) - int(src[1])) == 2:
            self.ep = src[0] + str((int(src[1]) + int(dst[1])) // 2)
        self.halfmoves = 0 if (piece in "Pp" or captured) else self.halfmoves + 1
        if not self.white_to_move:
            self.fullmoves += 1
        self.white_to_move = not self.white_to_move


def legal_moves(perft_path, fen):
    """The legal moves of a position in coordinate notation, from vorna-perft's divide output."""
    res = subprocess.run(harness.command(perft_path, fen, "1", "divide"), stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, timeout=60)
    if res.returncode != 0:
        raise AssertionError("vorna-perft refused %r: %s" % (fen, res.stderr.decode().strip()))
    moves = set()
    for line in res.stdout.decode().splitlines():
        m = re.fullmatch(r"([a-h][1-8][a-h][1-8][qrbn]?): 1", line.strip())
        if m:
            moves.add(m.group(1))
    return moves


def scratch_dir(prefix):
    """A fresh directory for one test's files; kept (and named in failures) for inspection."""
    return tempfile.mkdtemp(prefix=prefix)


def tail(path, lines=30):
    try:
        with open(path, encoding="latin-1") as f:
            return "".join(f.readlines()[-lines:])
    except OSError:
        return "(no %s)" % path


def stop_process(proc, timeout=5.0):
    """Ends a process that this test started: terminate, then kill if it lingers."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def signal_name(number):
    try:
        return signal.Signals(number).name
    except ValueError:
        return str(number)
