"""Vorna's UCI mode behind polyglot, the UCI-to-xboard adapter, playing fairymax.

This script plays the GUI: it speaks xboard to polyglot (which runs our engine in UCI mode) and to
fairymax, relays the moves between them and keeps the clocks. Every move of our engine must be
legal three times over: in our own move generator (vorna-perft), for polyglot (which resigns for
an engine that plays an illegal move) and for fairymax (which answers "Illegal move"). Each program
plays two games, one with White under a clock with increment and one with Black under a
moves-per-session control, and must then quit with exit status 0 without having died on the way.
"""
import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import gui_tools  # noqa: E402

MAX_PLIES = 100          # a game still going after this many plies is stopped undecided
CLOCK_GRACE_MS = 1000    # tolerance for pipe and scheduling delays before we call a flag fall
RESULT = re.compile(r"(1-0|0-1|1/2-1/2|resign)\b.*")


class Clock:
    """A chess clock for one side under an xboard "level" control (times in milliseconds)."""

    def __init__(self, moves_per_session, base_ms, increment_ms):
        self.mps, self.base, self.inc = moves_per_session, base_ms, increment_ms
        self.left = base_ms
        self.moves = 0

    def spend(self, elapsed_ms):
        self.left -= elapsed_ms
        self.moves += 1
        self.left += self.inc
        if self.mps and self.moves % self.mps == 0:
            self.left += self.base

    def centiseconds(self):
        return max(self.left, 0) // 10


class PolyglotGames(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tools = gui_tools.find_tools("polyglot", "fairymax")
        cls.perft = gui_tools.perft_program(harness.REFERENCE_DIR or harness.BUILD_DIR)

    def start_polyglot(self, engine_path, workdir):
        self.wrapper = gui_tools.StatusWrapper(engine_path, workdir)
        home = os.path.join(workdir, "home")
        os.makedirs(home, exist_ok=True)
        env = dict(os.environ, HOME=home)
        self.polyglot_log = os.path.join(workdir, "polyglot.log")
        argv = [self.tools["polyglot"], "-noini", "-ec", self.wrapper.path, "-ed", workdir,
                "-log", "true", "-lf", self.polyglot_log]
        poly = gui_tools.Process(argv, cwd=workdir, env=env, name="polyglot")
        poly.send("xboard", "protover 2")
        m, got = poly.expect(r'feature myname="(.*)"|feature done=1', 20)
        name = m.group(1)
        if name is None:
            self.fail("polyglot gave no engine name: %r" % got)
        poly.expect(r"feature done=1", 20)
        return poly, name

    def start_fairymax(self, workdir, game):
        fmax = gui_tools.Process([self.tools["fairymax"]], cwd=workdir, name="fairymax-%d" % game)
        fmax.send("xboard", "protover 2")
        fmax.expect(r"feature .*done=1.*", 20)
        # Only commands fairymax knows: it may crash on an unknown one (see gui_tools).
        fmax.send("new", "sd 4")
        return fmax

    def next_line(self, proc, deadline, what):
        line = proc.read_line(deadline - time.monotonic())
        if line is None:
            self.fail("%s ended its output while %s; last lines: %r"
                      % (proc.name, what, proc.seen[-15:]))
        return line

    def wait_move(self, proc, deadline, what):
        """("move", text) or ("result", line); fails on an illegal-move reply."""
        while True:
            line = self.next_line(proc, deadline, what)
            if line.startswith("move "):
                return "move", line.split()[1]
            if line.startswith("Illegal move"):
                self.fail("%s rejected a move while %s: %r; its last lines: %r"
                          % (proc.name, what, line, proc.seen[-15:]))
            if line.startswith("tellusererror") or "illegal engine move" in line:
                self.fail("%s reports a fault while %s: %r" % (proc.name, what, line))
            if RESULT.fullmatch(line):
                return "result", line

    def run_game(self, poly, fmax, engine_white, mps, base_s, inc_s, label):
        clock = Clock(mps, base_s * 1000, int(inc_s * 1000))
        other = Clock(mps, base_s * 1000, int(inc_s * 1000))
        level = "level %d 0:%02d %s" % (mps, base_s, ("%g" % inc_s))
        poly.send("new", "post", level)
        pos = gui_tools.Position()
        moves = []
        legal = gui_tools.legal_moves(self.perft, pos.fen())
        game_deadline = time.monotonic() + 240
        while True:
            if not legal:
                return "no legal move after %d plies (%s)" % (len(moves), pos.fen())
            if pos.halfmoves >= 100:
                return "fifty-move rule after %d plies" % len(moves)
            if len(moves) >= MAX_PLIES:
                return "stopped after %d plies" % len(moves)
            engine_on_move = pos.white_to_move == engine_white
            where = "%s, after %s" % (label, " ".join(moves[-6:]) or "the start")
            if engine_on_move:
                poly.send("time %d" % clock.centiseconds(), "otim %d" % other.centiseconds())
                started = time.monotonic()
                poly.send(("usermove " + moves[-1]) if moves else "go")
                deadline = min(game_deadline, started + max(clock.left, 0) / 1000 + 15)
                kind, text = self.wait_move(poly, deadline, "our engine was to move (%s)" % where)
                elapsed_ms = int((time.monotonic() - started) * 1000)
                if kind == "result":
                    return "polyglot announced %r after %d plies" % (text, len(moves))
                self.assertIn(text, legal, "our engine played an illegal move %r in %s (%s)"
                              % (text, pos.fen(), where))
                self.assertLessEqual(elapsed_ms, max(clock.left, 0) + CLOCK_GRACE_MS,
                                     "our engine lost on time: %d ms used with %d ms on its "
                                     "clock (%s)" % (elapsed_ms, clock.left, where))
                clock.spend(elapsed_ms)
            else:
                started = time.monotonic()
                fmax.send(moves[-1] if moves else "go")
                kind, text = self.wait_move(fmax, game_deadline,
                                            "fairymax was to move (%s)" % where)
                if kind == "result":
                    return "fairymax announced %r after %d plies" % (text, len(moves))
                self.assertIn(text, legal, "our move generator does not list fairymax's move %r "
                              "in %s (%s)" % (text, pos.fen(), where))
                other.spend(int((time.monotonic() - started) * 1000))
            moves.append(text)
            pos.play(text)
            legal = gui_tools.legal_moves(self.perft, pos.fen())

    def sync(self, poly, token):
        """Stops whatever polyglot does and waits until it has read everything sent so far."""
        poly.send("force", "ping %d" % token)
        _, got = poly.expect(r"pong %d" % token, 30)
        for line in got:
            if "illegal engine move" in line or line.startswith("tellusererror"):
                self.fail("polyglot reports a fault: %r" % line)

    def check_program(self, name, path):
        workdir = gui_tools.scratch_dir("vorna-polyglot-%s-" % name)
        poly, engine_name = self.start_polyglot(path, workdir)
        fmax = None
        try:
            expected_name = name.replace("Vorna_1_12_", "Vorna 1.12 ") + " UCI"
            self.assertEqual(engine_name, expected_name, "engine name seen by polyglot")
            games = [(True, 0, 6, 0.1), (False, 40, 6, 0)]
            for number, (engine_white, mps, base_s, inc_s) in enumerate(games, 1):
                label = "%s game %d, Vorna %s" % (name, number,
                                                  "White" if engine_white else "Black")
                fmax = self.start_fairymax(workdir, number)
                t0 = time.monotonic()
                how = self.run_game(poly, fmax, engine_white, mps, base_s, inc_s, label)
                print("%s: %s (%.1f s)" % (label, how, time.monotonic() - t0), flush=True)
                fmax.send("quit")
                fmax.wait(10)
                fmax.close()
                fmax = None
                self.sync(poly, number)
            match_end = time.time()
            poly.send("quit")
            status = poly.wait(20)
            self.assertEqual(status, 0, "polyglot exit status")
            self.wrapper.check_clean_run(self, match_end=match_end, expected_starts=1)
            for line in poly.seen:
                self.assertFalse(line.startswith("tellusererror"), "polyglot reported %r" % line)
            with open(self.polyglot_log, encoding="latin-1") as f:
                log = f.read()
            # Polyglot logs every line of both sides: an illegal move of either, or our engine's
            # note that it refused a position or move polyglot sent, shows up here.
            for line in log.splitlines():
                self.assertNotRegex(line, r"(?i)illegal|refused", "in polyglot's log")
            engine_log = os.path.join(workdir, name + "_uci.log")
            self.assertTrue(os.path.exists(engine_log), "our engine wrote no log in its directory")
            with open(engine_log, encoding="latin-1") as f:
                inputs = [line for line in f.read().splitlines() if line.startswith("> ")]
            self.assertTrue(inputs and inputs[-1].strip() == "> quit",
                            "our engine's log does not end with the quit command: %r" % inputs[-3:])
        except AssertionError:
            print("files kept in %s; polyglot log tail:\n%s"
                  % (workdir, gui_tools.tail(self.polyglot_log)))
            raise
        finally:
            if fmax is not None:
                fmax.close()
            poly.close()

    def test_x64(self):
        self.run_named("Vorna_1_12_x64")

    def test_w32(self):
        self.run_named("Vorna_1_12_w32")

    def test_arm64(self):
        self.run_named("Vorna_1_12_arm64")

    def test_arm32(self):
        self.run_named("Vorna_1_12_arm32")

    def run_named(self, name):
        progs = dict(harness.programs())
        if name not in progs:
            if gui_tools.in_ci() and harness.configured(name):
                self.fail("%s was not built" % name)
            self.skipTest("%s was not built" % name)
        self.check_program(name, progs[name])


if __name__ == "__main__":
    harness.main()
