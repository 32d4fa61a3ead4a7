"""Short matches of Vorna against fairymax inside the real xboard GUI, run headless under Xvfb.

Two matches, one with our engine in xboard mode, one with it in UCI mode behind xboard's polyglot
adapter. Each plays three short openings, each once with each colour: a line from the start position
(xboard sends "new" and the moves) and two set-up positions (xboard sends "setboard"), one with White
and one with Black to move, so that every order in which xboard hands the engine its colour comes up.
xboard tests the legality of every move, verifies the result claims of both engines and calls flags;
the games go to a PGN file whose result comments tell how each game ended. Since xboard does not
notice an engine that exits, our engine runs through a launcher that records its exit status and the
signals xboard sends it.
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

# The openings, as a PGN file for xboard's -loadGameFile: a game without a FEN tag starts from the
# start position, one with a FEN tag is set up with "setboard".
OPENINGS = [
    ("1. e4 e5 2. Nf3 Nc6", None),
    # White to move, and may take en passant (exf6)
    ("", "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3"),
    # Black to move (Nimzo-Indian)
    ("", "rnbqkb1r/pppp1ppp/4pn2/8/2PP4/2N5/PP2PPPP/R1BQKBNR b KQkq - 1 3"),
]
GAMES = 2 * len(OPENINGS)
# Sudden death with an increment. Our engine gives a move at most a fifteenth of its clock plus the
# increment less 300 ms, so from 5 s its clock stays at about 5 s or above (it rises while the engine
# moves faster than the increment): a move's budget is under 0.2 s, and the flag falls only after some
# 5 s without a reply. That margin survives a loaded machine; an engine that stops answering still
# loses on time. (A moves-per-session control has no such margin: the engine may spend all but 20 ms
# of its clock on the last move before the control.)
TIME_CONTROL = ["-tc", "0:05", "-inc", "0.05"]
DRAW_AFTER_MOVES = 40     # xboard adjudicates a draw after this many moves: bounds the run time
MATCH_TIMEOUT = 300       # seconds for one match; six such games take well under 100

# Result comments that mean a game did not end by the rules of chess.
ABNORMAL = re.compile(r"illegal|invalid|forfeit|on time|false"
                      r"|claim: (?!3-fold|50-move|insufficient)"
                      r"|exited|died|crash|error|disconnect|abort|resign", re.IGNORECASE)
NORMAL_RESULTS = ("1-0", "0-1", "1/2-1/2")


def opening_of(game):
    """The opening a game was played from: its FEN tag without the move counters, or None."""
    fen = game["tags"].get("FEN")
    return " ".join(fen.split()[:4]) if fen else None


def engine_log(engine_dir, uci):
    path = os.path.join(engine_dir, "Vorna_1_12_x64%s.log" % ("_uci" if uci else "_wb"))
    if not os.path.exists(path):
        return None
    with open(path, encoding="latin-1") as f:
        return f.read().splitlines()


def game_end_in_log(log, uci, number):
    """The lines of our engine's log from the last request of the given game (counted from 1) to the
    start of the next game, thinking lines folded; the end of the log when the game is not found.

    xboard mode: the game ends where xboard tells the engine the result. UCI mode: each game is a run
    of "position" lines that each extend the one before; its last one and the "go" after it are the
    last request."""
    excerpt = log[-12:]
    if not uci:
        results = [i for i, line in enumerate(log) if line.startswith("> result")]
        if len(results) >= number:
            end = results[number - 1]
            clocks = [i for i in range(end) if log[i].startswith("> time ")]
            excerpt = log[clocks[-1] if clocks else max(end - 8, 0):end + 3]
    else:
        runs, previous = [], None
        for i, line in enumerate(log):
            if line.startswith("> position "):
                if previous is None or not line.startswith(previous):
                    runs.append([i])
                runs[-1].append(i)
                previous = line
        if len(runs) >= number:
            start = runs[number - 1][-1]
            end = runs[number][0] if len(runs) > number else len(log)
            excerpt = log[start:min(end, start + 40)]
    folded, thinking = [], 0
    for line in excerpt + [None]:
        if line is not None and (line.startswith("info ") or re.fullmatch(harness.XBOARD_THINKING, line)):
            thinking += 1
            continue
        if thinking:
            folded.append("(thinking lines: %d)" % thinking)
            thinking = 0
        if line is not None:
            folded.append(line)
    return folded


def loss_evidence(comment, earlier, number, debug, engine_dir, uci):
    """What shows why our engine lost a game abnormally: xboard's last exchanges with it before the
    game ended (its debug lines start with the milliseconds since xboard started) and that game's end
    in our engine's log. The game is the number-th, and the one with this result comment after
    `earlier` games with the same."""
    try:
        with open(debug, encoding="latin-1") as f:
            lines = f.read().splitlines()
    except OSError:
        lines = []
    ends = [i for i, line in enumerate(lines) if line.startswith("GameEnds(") and comment in line]
    traffic = []
    if len(ends) > earlier:
        end = ends[earlier]
        before = [line for line in lines[:end] if re.match(r"\d+ [<>]first : ", line)]
        after = [line for line in lines[end:end + 10] if re.match(r"\d+ >first : result", line)]
        traffic = before[-8:] + [lines[end]] + after[:1]
    log = engine_log(engine_dir, uci)
    return ("xboard's last exchanges with our engine before the end of the game:\n  %s\n"
            "our engine's log at the end of that game (a request without its reply before the next "
            "command: it did not answer in time):\n  %s"
            % ("\n  ".join(traffic) or "(not found)",
               "\n  ".join(game_end_in_log(log, uci, number)) if log else "(no log)"))


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
        openings = os.path.join(workdir, "openings.pgn")
        with open(openings, "w") as f:
            for moves, fen in OPENINGS:
                tags = '[FEN "%s"]\n[SetUp "1"]\n' % fen if fen else ""
                f.write('[Event "opening"]\n%s[Result "*"]\n\n%s *\n\n' % (tags, moves))
        argv = [self.tools["xboard"], "-noGUI", "-xexit", "-saveSettingsOnExit", "false",
                "-fcp", wrapper.path, "-fd", engine_dir,
                "-scp", opponent, "-sd", fmax_dir, "-secondIsUCI", "false",
                "-matchMode", "true", "-matchGames", str(GAMES), "-matchPause", "500",
                "-loadGameFile", openings, "-loadGameIndex", "-2",  # each opening twice, colours swapped
                "-saveGameFile", pgn, "-egtFormats", "", "-ponderNextMove", "false",
                "-autoCallFlag", "true", "-testClaims", "true", "-checkMates", "false",
                "-adjudicateDrawMoves", str(DRAW_AFTER_MOVES), "-soundProgram", "",
                "-debugMode", "true", "-nameOfDebugFile", debug]
        # polyglot passes the clocks on as wtime/btime and winc/binc
        argv += TIME_CONTROL + (["-fUCI"] if uci else ["-firstIsUCI", "false"])
        poly_dir = os.path.dirname(self.tools["polyglot"])
        env = dict(os.environ, DISPLAY=self.display, HOME=home,
                   PATH=poly_dir + os.pathsep + gui_tools.tool_path())

        started = time.monotonic()
        output = []
        try:
            status = self.run_xboard(argv, workdir, env, wrapper, output, pgn, debug, engine_dir, uci)
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
        finally:
            # Whatever of the session outlived xboard (an engine that never quit, say) is ended here,
            # after the checks have seen it.
            try:
                os.killpg(self.session, signal.SIGKILL)
            except (ProcessLookupError, AttributeError):
                pass
        print("%s match: %.1f s" % (mode, took), flush=True)

    def run_xboard(self, argv, workdir, env, wrapper, output, pgn, debug, engine_dir, uci):
        """Runs xboard to the end of its match, collecting its output lines in output.

        Returns its exit status.
        """
        proc = subprocess.Popen(argv, cwd=workdir, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                start_new_session=True)
        self.session = proc.pid

        def read():
            for raw in proc.stdout:
                output.append(raw.decode("latin-1").rstrip("\n"))

        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        try:
            status = proc.wait(timeout=MATCH_TIMEOUT)
        except subprocess.TimeoutExpired:
            status = None
        if status is None:
            # The whole session (xboard, the adapter, both engines) was started here.
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            reader.join(5)
            # A game our engine lost on the way tells more than the match that never ended.
            self.check_games(pgn, debug, engine_dir, uci, complete=False)
            self.fail("xboard had not finished the match after %d s; output: %r; our engine's "
                      "launcher recorded: %s" % (MATCH_TIMEOUT, output[-20:], wrapper.describe()))
        reader.join(10)
        proc.stdout.close()
        return status

    def check_games(self, pgn, debug, engine_dir, uci, complete=True):
        """Every game of the PGN file finished by the rules, none lost by our engine abnormally, and
        (complete) each opening played with each colour."""
        mode = "uci" if uci else "xboard"
        if not os.path.exists(pgn):
            self.assertFalse(complete, "xboard saved no games")
            return
        with open(pgn, encoding="latin-1") as f:
            games = parse_pgn(f.read())
        played = []
        for number, game in enumerate(games, 1):
            tags = game["tags"]
            white, black = tags.get("White", ""), tags.get("Black", "")
            ours = "White" if "Vorna" in white else "Black" if "Vorna" in black else None
            where = "%s match, game %d (%s - %s, from %s)" % (mode, number, white, black,
                                                             opening_of(game) or "the start position")
            self.assertIsNotNone(ours, "our engine's name in neither colour tag: " + where)
            comment = game["comment"] or ""
            lost = game["result"] == ("0-1" if ours == "White" else "1-0")
            if ABNORMAL.search(comment):
                if lost or game["result"] == "1/2-1/2":
                    earlier = sum(1 for g in games[:number - 1] if g["comment"] == game["comment"])
                    self.fail("game ended abnormally against our engine: {%s} %s; %s\n%s"
                              % (comment, game["result"], where,
                                 loss_evidence(comment, earlier, number, debug, engine_dir, uci)))
                print("note: the opponent lost abnormally: {%s} (%s)" % (comment, where))
            self.assertIn(game["result"], NORMAL_RESULTS, "unfinished game: " + where)
            self.assertEqual(tags.get("Result"), game["result"], "Result tag: " + where)
            print("%s: %s {%s}, %d moves" % (where, game["result"], comment, game["moves"]),
                  flush=True)
            played.append((opening_of(game), ours))
        if complete:
            self.assertEqual(len(games), GAMES, "games in %s" % pgn)
            expected = [(" ".join(fen.split()[:4]) if fen else None, colour)
                        for _, fen in OPENINGS for colour in ("White", "Black")]
            self.assertEqual(sorted(played, key=str), sorted(expected, key=str),
                             "openings and our engine's colours")

    def check_match(self, mode, output, pgn, debug, engine_dir, uci):
        for line in output:
            self.assertNotRegex(line, r"(?i)error|exited unexpectedly",
                                "xboard reported a problem")
        self.check_games(pgn, debug, engine_dir, uci)
        with open(debug, encoding="latin-1") as f:
            debug_lines = f.read().splitlines()
        for line in debug_lines:
            if re.match(r"\d+ <first : ", line):
                self.assertNotRegex(line, r"(?i)illegal move|error",
                                    "our side rejected a command or move")
        # The margin the time control left (xboard tells the engine its clock in centiseconds).
        clocks = [int(m.group(1)) for m in (re.match(r"\d+ >first : time (-?\d+)$", line)
                                            for line in debug_lines) if m]
        if clocks:
            print("%s match: our engine's clock was never below %.2f s" % (mode, min(clocks) / 100.0))
        # The engine's run ended with the quit command, not before it.
        log = engine_log(engine_dir, uci)
        self.assertIsNotNone(log, "our engine wrote no log")
        inputs = [line for line in log if line.startswith("> ")]
        self.assertTrue(inputs and inputs[-1].strip() == "> quit",
                        "our engine's log does not end with the quit command: %r" % inputs[-3:])

    def test_xboard_mode_match(self):
        self.run_match(uci=False)

    def test_uci_mode_match_through_polyglot(self):
        self.run_match(uci=True)


if __name__ == "__main__":
    harness.main()
