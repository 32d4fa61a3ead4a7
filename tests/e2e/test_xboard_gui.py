"""Short matches of Vorna against fairymax inside the real xboard GUI, run headless under Xvfb.

Two matches of two games each (colours alternate): one with our engine in xboard mode, one with it
in UCI mode behind xboard's polyglot adapter. xboard tests the legality of every move, verifies the
result claims of both engines and calls flags; the games go to a PGN file whose result comments
tell how each game ended. Since xboard does not notice an engine that exits, our engine runs
through a launcher that records its exit status and the signals xboard sends it.
"""
import os
import re
import select
import signal
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import gui_tools  # noqa: E402

GAMES = 2
DRAW_AFTER_MOVES = 50     # xboard adjudicates a draw after this many moves: bounds the run time
MATCH_TIMEOUT = 150       # seconds for one match; far above what two such games take

# Result comments that mean a game did not end by the rules of chess.
ABNORMAL = re.compile(r"illegal|invalid|forfeit|on time|false"
                      r"|claim: (?!3-fold|50-move|insufficient)"
                      r"|exited|died|crash|error|disconnect|abort|resign", re.IGNORECASE)
NORMAL_RESULTS = ("1-0", "0-1", "1/2-1/2")


def parse_pgn(text):
    """[{"tags": {...}, "result": str, "comment": str or None, "moves": int}] for each game."""
    games = []
    for chunk in re.split(r"\n(?=\[Event )", text.strip()):
        if not chunk.strip():
            continue
        tags = dict(re.findall(r'^\[(\w+) "(.*)"\]$', chunk, re.MULTILINE))
        body = re.sub(r"^\[.*\]$", "", chunk, flags=re.MULTILINE).strip()
        m = re.search(r"(?:\{([^}]*)\}\s*)?(1-0|0-1|1/2-1/2|\*)\s*$", body)
        comment = m.group(1) if m else None
        result = m.group(2) if m else None
        moves = len(re.findall(r"\b\d+\.(?!\.)", re.sub(r"\{[^}]*\}", "", body)))
        games.append({"tags": tags, "result": result, "comment": comment, "moves": moves})
    return games


class XboardMatches(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tools = gui_tools.find_tools("xboard", "Xvfb", "fairymax", "polyglot")
        progs = dict(harness.programs())
        if "Vorna_1_12_x64" not in progs:
            raise AssertionError("Vorna_1_12_x64 was not built")
        cls.engine = progs["Vorna_1_12_x64"]
        cls.xvfb, cls.display = cls.start_xvfb()

    @classmethod
    def tearDownClass(cls):
        gui_tools.stop_process(cls.xvfb)
        cls.xvfb_log.close()

    @classmethod
    def start_xvfb(cls):
        """A private X server; it picks a free display number and tells it through a pipe."""
        cls.xvfb_log = open(os.path.join(gui_tools.scratch_dir("vorna-xvfb-"), "xvfb.log"), "wb")
        r, w = os.pipe()
        proc = subprocess.Popen([cls.tools["Xvfb"], "-displayfd", str(w), "-nolisten", "tcp",
                                 "-screen", "0", "1024x768x24"], pass_fds=(w,),
                                stdin=subprocess.DEVNULL, stdout=cls.xvfb_log, stderr=cls.xvfb_log)
        os.close(w)
        data = b""
        deadline = time.monotonic() + 30
        try:
            while not data.endswith(b"\n"):
                left = deadline - time.monotonic()
                ready, _, _ = select.select([r], [], [], max(left, 0))
                if not ready:
                    raise AssertionError("Xvfb did not report its display within 30 s")
                chunk = os.read(r, 64)
                if not chunk:
                    raise AssertionError("Xvfb ended before reporting its display (log: %s)"
                                         % cls.xvfb_log.name)
                data += chunk
        except AssertionError:
            gui_tools.stop_process(proc)
            raise
        finally:
            os.close(r)
        return proc, ":" + data.decode().strip()

    def run_match(self, uci):
        mode = "uci" if uci else "xboard"
        workdir = gui_tools.scratch_dir("vorna-xboard-%s-" % mode)
        engine_dir = os.path.join(workdir, "engine")
        fmax_dir = os.path.join(workdir, "fairymax")
        home = os.path.join(workdir, "home")
        for d in (engine_dir, fmax_dir, home):
            os.makedirs(d)
        wrapper = gui_tools.StatusWrapper(self.engine, engine_dir)
        opponent = gui_tools.opponent_filter([self.tools["fairymax"]], fmax_dir)
        pgn = os.path.join(workdir, "games.pgn")
        debug = os.path.join(workdir, "xboard.debug")
        argv = [self.tools["xboard"], "-noGUI", "-xexit", "-saveSettingsOnExit", "false",
                "-fcp", wrapper.path, "-fd", engine_dir,
                "-scp", opponent, "-sd", fmax_dir, "-secondIsUCI", "false",
                "-matchMode", "true", "-matchGames", str(GAMES), "-matchPause", "500",
                "-saveGameFile", pgn, "-egtFormats", "", "-ponderNextMove", "false",
                "-autoCallFlag", "true", "-testClaims", "true", "-checkMates", "false",
                "-adjudicateDrawMoves", str(DRAW_AFTER_MOVES), "-soundProgram", "",
                "-debugMode", "true", "-nameOfDebugFile", debug]
        if uci:
            # Sudden death with an increment: polyglot passes wtime/btime and winc/binc.
            argv += ["-fUCI", "-tc", "0:06", "-inc", "0.1"]
        else:
            # 40 moves in 6 seconds: our engine counts the moves to the time control itself.
            argv += ["-firstIsUCI", "false", "-tc", "0:06", "-mps", "40"]
        poly_dir = os.path.dirname(self.tools["polyglot"])
        env = dict(os.environ, DISPLAY=self.display, HOME=home,
                   PATH=poly_dir + os.pathsep + gui_tools.tool_path())

        started = time.monotonic()
        try:
            status, output = self.run_xboard(argv, workdir, env, wrapper)
            took = time.monotonic() - started
            # Our engine first: a dead engine makes xboard fail in ways that hide the cause.
            # One run for the whole match, ended with status 0 (its log must end with "quit").
            wrapper.check_clean_run(self, expected_starts=1)
            self.assertEqual(status, 0, "xboard exit status; output: %r" % output[-20:])
            self.assertTrue(any("final score" in line for line in output),
                            "xboard never announced the final score; output: %r" % output[-20:])
            self.check_match(mode, output, pgn, debug, engine_dir, uci)
        except AssertionError:
            print("\nfiles kept in %s\nxboard output:\n%s\nxboard debug tail:\n%s"
                  % (workdir, "\n".join(output[-20:]), gui_tools.tail(debug, 40)))
            raise
        print("%s match: %.1f s" % (mode, took), flush=True)

    def run_xboard(self, argv, workdir, env, wrapper):
        """Runs xboard to the end of its match.

        Returns (exit status, output lines).
        """
        proc = subprocess.Popen(argv, cwd=workdir, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                start_new_session=True)
        output = []

        def read():
            for raw in proc.stdout:
                output.append(raw.decode("latin-1").rstrip("\n"))

        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        try:
            status = proc.wait(timeout=MATCH_TIMEOUT)
        except subprocess.TimeoutExpired:
            # The whole session (xboard, the adapter, both engines) was started here.
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            reader.join(5)
            self.fail("xboard had not finished the match after %d s; output: %r; our engine's "
                      "launcher recorded: %s" % (MATCH_TIMEOUT, output[-20:], wrapper.describe()))
        reader.join(10)
        proc.stdout.close()
        return status, output

    def check_match(self, mode, output, pgn, debug, engine_dir, uci):
        for line in output:
            self.assertNotRegex(line, r"(?i)error|exited unexpectedly",
                                "xboard reported a problem")
        self.assertTrue(os.path.exists(pgn), "xboard saved no games")
        with open(pgn, encoding="latin-1") as f:
            games = parse_pgn(f.read())
        self.assertEqual(len(games), GAMES, "games in %s" % pgn)
        for number, game in enumerate(games, 1):
            tags = game["tags"]
            white, black = tags.get("White", ""), tags.get("Black", "")
            ours = "White" if "Vorna" in white else "Black" if "Vorna" in black else None
            where = "%s match, game %d (%s - %s)" % (mode, number, white, black)
            self.assertIsNotNone(ours, "our engine's name in neither colour tag: " + where)
            self.assertIn(game["result"], NORMAL_RESULTS, "unfinished game: " + where)
            self.assertEqual(tags.get("Result"), game["result"], "Result tag: " + where)
            comment = game["comment"] or ""
            lost = game["result"] == ("0-1" if ours == "White" else "1-0")
            if ABNORMAL.search(comment):
                self.assertFalse(lost or game["result"] == "1/2-1/2",
                                 "game ended abnormally against our engine: {%s} %s; %s"
                                 % (comment, game["result"], where))
                print("note: the opponent lost abnormally: {%s} (%s)" % (comment, where))
            print("%s: %s {%s}, %d moves" % (where, game["result"], comment, game["moves"]),
                  flush=True)
        with open(debug, encoding="latin-1") as f:
            debug_lines = f.read().splitlines()
        for line in debug_lines:
            if re.match(r"\d+ <first : ", line):
                self.assertNotRegex(line, r"(?i)illegal move|error",
                                    "our side rejected a command or move")
        # The engine's run ended with the quit command, not before it.
        suffix = "_uci" if uci else "_wb"
        log_path = os.path.join(engine_dir, "Vorna_1_12_x64%s.log" % suffix)
        self.assertTrue(os.path.exists(log_path), "our engine wrote no log")
        with open(log_path, encoding="latin-1") as f:
            inputs = [line for line in f.read().splitlines() if line.startswith("> ")]
        self.assertTrue(inputs and inputs[-1].strip() == "> quit",
                        "our engine's log does not end with the quit command: %r" % inputs[-3:])

    def test_xboard_mode_match(self):
        self.run_match(uci=False)

    def test_uci_mode_match_through_polyglot(self):
        self.run_match(uci=True)


if __name__ == "__main__":
    harness.main()
