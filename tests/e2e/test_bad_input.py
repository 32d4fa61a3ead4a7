"""Bad input through pipes, one test per group of rows of docs/bad-inputs.md, for both programs.

After each bad input the engine must still answer, say what it did (a message) or nothing, and hold
the position it should: a UCI engine is asked for a move ("go depth 1") that must be legal in that
position, or given moves that must be accepted or refused as in that position; an xboard engine is
given moves in force mode, which it must accept or answer with "Illegal move" as in that position.
"""
import os
import re
import subprocess
import tempfile
import unittest

import harness
from harness import legal_moves, start_uci, start_xboard

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"
AFTER_E4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"
# A position whose legal moves share none with the start position's (king and rook against king).
ROOK_ENDING = "4k3/8/8/8/8/8/8/R3K3 w Q - 0 1"
ROOK_ENDING_MOVES = ("a1a8", "e1c1", "e1f2")   # legal there, illegal in the start position
REFUSED = "info string position refused, previous position kept: "
RESULT = re.compile(r"(1-0|0-1|1/2-1/2) \{.*\}")  # a game result line of the xboard loop

# FEN texts that are refused, with the reason the UCI loop gives.
REFUSED_FENS = [
    ("8/8/8 w", "there must be exactly one king of each colour"),                  # placement cut short
    ("8/8/8/8/8/8/8/8 w - -", "there must be exactly one king of each colour"),    # no king
    ("4k3/8/8/8/8/8/8/K3K3 w - -", "there must be exactly one king of each colour"),  # two White kings
    ("4k2k/8/8/8/8/8/8/4K3 b - -", "there must be exactly one king of each colour"),  # two Black kings
    ("P3k3/8/8/8/8/8/8/4K3 w - -", "a pawn stands on the first or last rank"),
    ("4k3/8/8/8/8/8/8/p3K3 w - -", "a pawn stands on the first or last rank"),
    ("qqqqqqqq/qqqqqqqq/qqqqqqqq/8/8/QQQQQQQQ/QQQQQQQQ/k6K w - -", "a side has more than 16 pieces"),
    ("4k3/8/8/8/8/8/8/4K2r b - -", "the side not to move is in check"),
    ("", None),  # "position fen" and nothing more: no position text
]

# FEN texts that are set up, with a move list, and the position that results (None: the first move
# of the list is refused, because the FEN did not give what it asked for).
ACCEPTED_FENS = [
    # placement only: White to move, no castling, no en passant
    ("r3k2r/8/8/8/8/8/8/R3K2R", "e1g1", None),
    ("r3k2r/8/8/8/8/8/8/R3K2R", "e1f1", "r3k2r/8/8/8/8/8/8/R4K1R b - -"),
    # castling rights without the rook (or the king) that they need are dropped
    ("4k3/8/8/8/8/8/8/4K3 w KQkq -", "e1g1", None),
    ("r3k3/8/8/8/8/8/8/R3K3 w KQkq -", "e1g1", None),
    ("r3k3/8/8/8/8/8/8/R3K3 w KQkq -", "e1c1", "r3k3/8/8/8/8/8/8/2KR4 b q -"),
    ("r3k3/8/8/8/8/8/8/4K2R b KQkq - 0 1", "e8c8 e1g1", "2kr4/8/8/8/8/8/8/5RK1 b - -"),
    # en-passant squares that are no square, on the wrong rank, or without the pawn that passed
    ("4k3/8/8/3pP3/8/8/8/4K3 w - z9", "e5d6", None),
    ("4k3/8/8/3pP3/8/8/8/4K3 w - d5", "e5d6", None),
    ("4k3/8/8/3pP3/8/8/8/4K3 w - e6", "e5d6", None),
    ("4k3/8/8/3pP3/8/8/8/4K3 w - d6", "e5d6", "4k3/8/3P4/8/8/8/8/4K3 b - -"),   # the valid one
    # any side letter but w or W is Black; further blanks and fields are skipped
    ("4k3/8/8/8/8/8/8/4K3 x - -", "e8d8", "3k4/8/8/8/8/8/8/4K3 w - -"),
    ("4k3/8/8/8/8/8/8/4K3   W   -   -   99 99 junk", "e1d1", "4k3/8/8/8/8/8/8/3K4 b - -"),
]


def bestmove(engine, timeout=30):
    m, got = engine.expect(r"bestmove (\S+)", timeout)
    return m.group(1), got[:-1]


def engine_move(engine, timeout=30):
    m, got = engine.expect(r"move (\S+)", timeout)
    return m.group(1), got[:-1]


def run_with_stderr(data, path, cwd, timeout=60):
    res = subprocess.run(harness.command(path), input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                         cwd=cwd)
    return res.returncode, res.stdout.decode("latin-1").splitlines(), res.stderr.decode("latin-1")


class UciBadInput(unittest.TestCase):
    def assert_position(self, e, fen):
        """The engine holds fen: its best move at depth 1 is legal there."""
        e.send("go depth 1")
        self.assertIn(bestmove(e)[0], legal_moves(fen))

    def test_fen_variants(self):
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                for fen, reason in REFUSED_FENS:
                    with self.subTest(program=name, fen=fen):
                        e.send("position fen " + ROOK_ENDING, "position fen " + fen)
                        m, _ = e.expect(re.escape(REFUSED) + "(.*)")
                        self.assertEqual(m.group(1), reason or "no position text")
                        self.assert_position(e, ROOK_ENDING)
                for fen, moves, result in ACCEPTED_FENS:
                    with self.subTest(program=name, fen=fen, moves=moves):
                        e.send("position fen %s moves %s" % (fen, moves))
                        if result is None:
                            e.expect(r"info string illegal move, the moves from here on are ignored: "
                                     + moves.split()[0])
                        else:
                            self.assertEqual(e.sync(), [])
                            self.assert_position(e, result)

    def test_position_without_arguments_is_the_start_position(self):
        for name, path in harness.programs():
            with self.subTest(program=name):
                e, _ = start_uci(path)
                with e:
                    e.send("position fen " + ROOK_ENDING, "position")
                    self.assertEqual(e.sync(), [])
                    self.assert_position(e, START)

    def test_lines_longer_than_the_buffer(self):
        moves = "position startpos moves"
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                with self.subTest(program=name, case="8191 characters are one whole command"):
                    line = moves + " " * (8191 - len(moves) - 5) + " e2e4"
                    self.assertEqual(len(line), 8191)
                    e.send(line)
                    self.assertEqual(e.sync(), [])
                    self.assert_position(e, AFTER_E4)
                with self.subTest(program=name, case="the 8192nd character is cut off"):
                    e.send(moves + " " * (8192 - len(moves) - 5) + " e2e4")
                    e.expect(r"info string illegal move, the moves from here on are ignored: e2e")
                    self.assert_position(e, START)
                with self.subTest(program=name, case="the rest of a long line is no command"):
                    e.send("x" * 8191 + "isready", "y" * 30000)
                    self.assertEqual(e.sync(), [], "the cut-off end of a long line was read as a line")
                with self.subTest(program=name, case="during a search, 127 characters"):
                    e.send("position fen " + ROOK_ENDING, "go infinite", "z" * 127 + "stop", "w" * 5000, "isready")
                    _, before = e.expect("readyok")
                    self.assertFalse([l for l in before if l.startswith("bestmove")],
                                     "the end of a long line read during a search stopped it")
                    e.send("stop")
                    self.assertIn(bestmove(e)[0], legal_moves(ROOK_ENDING))
                    self.assert_position(e, ROOK_ENDING)

    def test_long_games(self):
        knights = ["g1f3", "g8f6", "f3g1", "f6g8"]
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                with self.subTest(program=name, case="1600 moves: more than the state stack holds"):
                    game = " ".join(knights[i % 4] for i in range(1600))
                    e.send("position startpos moves %s g1f3 g8f6 e2e4" % game)
                    self.assertEqual(e.sync(), [])
                    self.assert_position(e, "rnbqkb1r/pppppppp/5n2/8/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq e3")
                with self.subTest(program=name, case="2000 moves: more than the line holds"):
                    # 8191 characters take the first 1633 moves and two letters of the next: that
                    # text is no move, so the list ends there.
                    game = " ".join(knights[i % 4] for i in range(2000))
                    e.send("position startpos moves " + game)
                    e.expect(r"info string illegal move, the moves from here on are ignored: g8")
                    self.assert_position(e, "rnbqkbnr/pppppppp/8/8/8/5N2/PPPPPPPP/RNBQKB1R b KQkq -")

    def test_go_keywords_without_values(self):
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                e.send("position fen " + ROOK_ENDING)
                # A missing depth reads as 0 (the first legal move at once), a missing clock of the
                # side to move or move time as no time left (an instant move).
                for go in ("go depth", "go depth x", "go wtime", "go wtime winc", "go movestogo 5 wtime",
                           "go movetime"):
                    with self.subTest(program=name, go=go):
                        e.send(go)
                        self.assertIn(bestmove(e, timeout=10)[0], legal_moves(ROOK_ENDING))
                # Missing values of the other keywords leave no limit: the search ends on "stop".
                e.send("position startpos")
                for go in ("go movestogo", "go winc", "go btime", "go binc", "go infinite"):
                    with self.subTest(program=name, go=go):
                        e.send(go, "isready")
                        _, before = e.expect("readyok")
                        self.assertFalse([l for l in before if l.startswith("bestmove")])
                        e.send("stop")
                        self.assertIn(bestmove(e)[0], legal_moves(START))
                self.assert_position(e, START)

    def test_depths_out_of_range(self):
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                e.send("position startpos")
                with self.subTest(program=name, depth=-1):  # depth 0: the first legal move at once
                    e.send("go depth -1")
                    move, before = bestmove(e, timeout=10)
                    self.assertEqual(before, [])
                    self.assertIn(move, legal_moves(START))
                with self.subTest(program=name, depth=256):  # the largest depth, not 256 - 256 = 0
                    e.send("go depth 256", "isready")
                    _, before = e.expect("readyok")
                    self.assertFalse([l for l in before if l.startswith("bestmove")], before)
                    e.send("stop")
                    self.assertIn(bestmove(e)[0], legal_moves(START))

    def test_binary_garbage(self):
        for name, path in harness.programs():
            with self.subTest(program=name):
                e, _ = start_uci(path)
                with e:
                    e.send("position fen " + ROOK_ENDING)
                    e.send_raw(b"\x00\x00\n\xff\xfe\xfd\n\x01\x02 \x7f\n\r\n\r\r\n")
                    self.assertEqual(e.sync(), [])
                    # CR LF line ends; a NUL byte ends the command where it stands
                    e.send_raw(b"isready\r\nisready\x00\xffjunk\r\n")
                    e.expect("readyok")
                    e.expect("readyok")
                    e.send_raw(b"position startpos moves e2e4\r\n")
                    self.assertEqual(e.sync(), [])
                    self.assert_position(e, AFTER_E4)


class XboardBadInput(unittest.TestCase):
    def assert_moves(self, e, legal, illegal=()):
        """In force mode: each move of legal is accepted and taken back, each of illegal refused."""
        e.send("force")
        for move in legal:
            e.send(move, "undo")
        for move in illegal:
            e.send(move)
        got = [l for l in e.sync("check") if not RESULT.fullmatch(l)]
        self.assertEqual(got, ["Illegal move: " + m for m in illegal])

    def test_setboard_variants(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                for fen, _ in REFUSED_FENS:
                    with self.subTest(program=name, fen=fen):
                        e.send("force", "setboard " + ROOK_ENDING, "setboard " + fen)
                        e.expect("tellusererror Illegal position")
                        self.assert_moves(e, ROOK_ENDING_MOVES, ["e2e4"])
                for fen, moves, result in ACCEPTED_FENS:
                    with self.subTest(program=name, fen=fen, moves=moves):
                        e.send("force", "setboard " + fen)
                        first = moves.split()[0]
                        if result is None:
                            self.assert_moves(e, [], [first])
                        else:
                            self.assert_moves(e, [first])

    def test_take_backs_beyond_the_game(self):
        for name, path in harness.programs():
            with self.subTest(program=name):
                e, _ = start_xboard(path)
                with e:
                    e.send("new", "force", "undo", "remove", "undo")  # nothing to take back
                    self.assertEqual(e.sync("1"), [])
                    self.assert_moves(e, ["e2e4"], ["e7e5"])
                    e.send("e2e4", "remove")                            # one move: remove takes none
                    self.assertEqual(e.sync("2"), [])
                    self.assert_moves(e, ["e7e5"], ["e2e4"])
                    e.send("undo", "undo")                              # back to the start
                    self.assert_moves(e, ["e2e4", "g1f3"], ["e7e5"])

    def test_commands_without_their_arguments(self):
        for name, path in harness.programs():
            with self.subTest(program=name):
                e, _ = start_xboard(path)
                with e:
                    e.send("new", "force", "setboard")
                    e.expect("tellusererror Illegal position")
                    e.send("ping")
                    e.expect("pong ")
                    # level, st, time and sd without values read 0: no time limit, depth 0 (the first
                    # legal move at once)
                    e.send("level", "level 40", "st", "time", "otim", "sd")
                    self.assertEqual(e.sync("1"), [])
                    self.assert_moves(e, ["e2e4"], ["e7e5"])
                    e.send("go")
                    move, _ = engine_move(e, timeout=10)
                    self.assertIn(move, legal_moves(START))

    def test_depths_out_of_range(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name, depth=-1):  # depth 0: the first legal move at once
                    e.send("new", "sd -1", "go")
                    move, before = engine_move(e, timeout=10)
                    self.assertEqual(before, [])
                    self.assertIn(move, legal_moves(START))
                with self.subTest(program=name, depth=256):  # the largest depth, not 256 - 256 = 0
                    e.send("new", "sd 256", "go")
                    _, before = e.expect(r"6 .*")  # a sixth iteration; any command would end the search
                    self.assertFalse([l for l in before if l.startswith("move")], before)
                    e.send("?")
                    self.assertIn(engine_move(e)[0], legal_moves(START))

    def test_lines_longer_than_the_buffer(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name, case="511 characters are one whole command"):
                    e.send("ping " + "a" * 506)
                    e.expect("pong " + "a" * 506)
                with self.subTest(program=name, case="the 512th character is cut off"):
                    e.send("ping " + "b" * 507)
                    e.expect("pong " + "b" * 506)
                with self.subTest(program=name, case="the rest of a long line is no command"):
                    e.send("new", "force", "c" * 511 + "e2e4")
                    e.expect("Illegal move: " + "c" * 511)
                    self.assert_moves(e, ["e2e4"], ["e7e5"])
                with self.subTest(program=name, case="during a search, 127 characters"):
                    e.send("new", "sd 60", "go", "d" * 127 + "quit", "e" * 3000)
                    move, _ = engine_move(e)
                    self.assertIn(move, legal_moves(START))
                    e.expect("Illegal move: " + "d" * 127)
                    e.expect("Illegal move: " + "e" * 511)
                    e.send("force")
                    self.assertEqual(e.sync("2"), [])
                    e.send("undo")
                    self.assert_moves(e, ["e2e4"], ["e7e5"])

    def test_two_thousand_moves(self):
        knights = ["g1f3", "g8f6", "f3g1", "f6g8"]
        for name, path in harness.programs():
            with self.subTest(program=name):
                e, _ = start_xboard(path)
                with e:
                    e.send("new", "force", *[knights[i % 4] for i in range(2000)])
                    e.send("e2e4", "e7e5")
                    got = e.sync("1")  # result lines of the repetitions, nothing else
                    self.assertEqual([l for l in got if not RESULT.fullmatch(l)], [])
                    e.send("undo", "undo")  # the latest moves can be taken back
                    self.assert_moves(e, ["e2e4", "g1f3"], ["e7e5"])

    def test_binary_garbage(self):
        for name, path in harness.programs():
            with self.subTest(program=name):
                e, _ = start_xboard(path)
                with e:
                    e.send("new", "force")
                    self.assertEqual(e.sync("1"), [])
                    e.send_raw(b"\x00\x00\n\r\n\n")                   # empty lines: nothing
                    self.assertEqual(e.sync("2"), [])
                    e.send_raw(b"\xff\xfe\n")                        # a word that is no move
                    e.expect("Illegal move: \xff\xfe")
                    e.send_raw(b"\r\r\n")                             # one CR is removed, one stays
                    e.expect("Illegal move: ")
                    e.send_raw(b"e2e4\x00\xffjunk\r\n")              # a NUL byte ends the word
                    self.assertEqual(e.sync("3"), [])
                    self.assert_moves(e, ["e7e5"], ["e2e4"])


class EndOfInput(unittest.TestCase):
    """The input ends at every point of a session: after each line and inside each line. The program
    must end with status 0, without a word on standard error, having answered every "go" it read."""

    UCI = ["uci", "isready", "position startpos moves e2e4 e7e5", "go depth 3", "go infinite", "isready", "stop",
           "position fen " + ROOK_ENDING + " moves e1c1", "go movetime 50", "quit"]
    XBOARD = ["xboard", "protover 2", "new", "sd 2", "e2e4", "ping 1", "analyze", "d2d4", "exit", "undo",
              "setboard " + ROOK_ENDING, "go", "quit"]

    def cuts(self, lines):
        text = "".join(line + "\n" for line in lines)
        points = set()
        pos = 0
        for line in lines:
            points.update((pos, pos + len(line) // 2, pos + len(line)))
            pos += len(line) + 1
        points.add(len(text))
        return text, sorted(points)

    def run_cuts(self, lines, check):
        text, points = self.cuts(lines)
        for name, path in harness.programs():
            with tempfile.TemporaryDirectory(prefix="vorna-e2e-") as cwd:
                for cut in points:
                    data = text[:cut]
                    with self.subTest(program=name, input=data[-40:]):
                        status, out, err = run_with_stderr(data.encode(), path, cwd)
                        self.assertEqual(status, 0)
                        self.assertEqual(err, "")
                        check(data, out)

    def test_uci(self):
        def check(data, out):
            received = data.split("\n")
            uci = received[0].strip().lower() == "uci" and (len(received) > 1 or data.endswith("uci"))
            gos = sum(1 for line in received[1:] if line.split()[:1] == ["go"]) if uci else 0
            moves = [l.split()[1] for l in out if l.startswith("bestmove")]
            self.assertEqual(len(moves), gos, "not every go was answered")
        self.run_cuts(self.UCI, check)

    def test_xboard(self):
        def check(data, out):
            # the engine moves at most twice: after e2e4 and on go
            self.assertLessEqual(len([l for l in out if l.startswith("move ")]), 2)
        self.run_cuts(self.XBOARD, check)


class UnwritableLog(unittest.TestCase):
    """A working directory without write access: no log, everything else as usual."""

    def run_in_read_only_dir(self, path, data):
        with tempfile.TemporaryDirectory(prefix="vorna-e2e-") as cwd:
            os.chmod(cwd, 0o555)
            demote = None
            if os.geteuid() == 0:  # root writes anywhere: run as nobody
                def demote():
                    os.setgid(65534)
                    os.setuid(65534)
            try:
                res = subprocess.run(harness.command(path), input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     cwd=cwd, timeout=60, preexec_fn=demote)
            except PermissionError:
                self.skipTest("the program cannot be run as nobody from here")
            self.assertEqual(os.listdir(cwd), [])
            os.chmod(cwd, 0o755)
            return res.returncode, res.stdout.decode("latin-1").splitlines(), res.stderr.decode("latin-1")

    def test_uci_and_xboard(self):
        for name, path in harness.programs():
            with self.subTest(program=name, protocol="uci"):
                status, out, err = self.run_in_read_only_dir(
                    path, b"uci\nisready\nposition startpos moves e2e4\ngo depth 2\nquit\n")
                self.assertEqual((status, err), (0, ""))
                self.assertIn("readyok", out)
                self.assertIn(out[-1].split()[1], legal_moves(AFTER_E4))
            with self.subTest(program=name, protocol="xboard"):
                status, out, err = self.run_in_read_only_dir(
                    path, b"xboard\nprotover 2\nnew\nsd 2\ne2e4\nping 1\nquit\n")
                self.assertEqual((status, err), (0, ""))
                self.assertEqual(out[-1], "pong 1")
                moves = [l.split()[1] for l in out if l.startswith("move ")]
                self.assertEqual(len(moves), 1)
                self.assertIn(moves[0], legal_moves(AFTER_E4))


if __name__ == "__main__":
    harness.main()
