"""The xboard protocol through pipes: features, the game the engine keeps (moves, take-backs, side
changes), the results it announces, commands during a search, analysis, thinking lines and the log."""
import re
import time
import unittest

import harness
from harness import MOVE_TEXT, XBOARD_THINKING, legal_moves, start_xboard

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"
AFTER_E4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"
PINNED = "4k3/4r3/8/8/8/8/4R3/4K3 w - -"  # the rook on e2 may not leave the e-file
FEATURES = ['feature myname="Vorna 1.12 %s"', "feature ping=1", "feature setboard=1", "feature playother=1",
            "feature draw=0", "feature analyze=1", 'feature variants="normal"', "feature name=0", "feature done=1"]


def engine_move(engine, timeout=30):
    """Reads up to the engine's "move" line; returns (move text, the lines before it)."""
    m, got = engine.expect(r"move (%s)" % MOVE_TEXT, timeout)
    return m.group(1), got[:-1]


def rook_walk(plies, white_first=True, white=0, black=0):
    """Quiet moves from SHUFFLE_FEN: the white rook walks round the third rank (8 squares), the black
    one round the sixth (7 squares), so no position comes back within 112 plies. Starts with the rooks
    on the given squares of their walks; returns the moves and where the rooks end."""
    white_squares = ["%s3" % f for f in "abcdefgh"]
    black_squares = ["%s6" % f for f in "abcdefg"]
    moves = []
    for ply in range(plies):
        if (ply % 2 == 0) == white_first:
            moves.append(white_squares[white] + white_squares[(white + 1) % 8])
            white = (white + 1) % 8
        else:
            moves.append(black_squares[black] + black_squares[(black + 1) % 7])
            black = (black + 1) % 7
    return moves, white, black


SHUFFLE_FEN = "6k1/5ppp/r7/8/8/R7/4PPPP/4K2R w K - 0 1"


class XboardTest(unittest.TestCase):
    def new_game(self, engine, *commands):
        engine.send("new", "force", *commands)

    def assertPlays(self, engine, moves, expect_lines=()):
        """Plays moves in force mode; exactly expect_lines are written in reply."""
        engine.send(*moves)
        self.assertEqual(engine.sync(), list(expect_lines), moves[-3:])

    def assertPosition(self, engine, fen):
        """The engine's position has the legal moves of fen: it plays one of them at depth 1 and takes it back."""
        engine.send("sd 1", "go")
        move, _ = engine_move(engine)
        self.assertIn(move, legal_moves(fen))
        engine.send("force", "undo", "sd 100")
        engine.sync()

    def test_features_and_ping(self):
        for name, path in harness.programs():
            with self.subTest(program=name):
                e, got = start_xboard(path)
                with e:
                    self.assertEqual(got[2:], [FEATURES[0] % harness.tag(name)] + FEATURES[1:])
                    self.assertEqual(e.sync("7"), [])
                    e.send("protover 2", "ping 8 and more")
                    self.assertEqual(e.expect("pong 8")[1][:-1], [FEATURES[0] % harness.tag(name)] + FEATURES[1:])
                    e.send("quit")
                    self.assertEqual(e.drain(), [])
                    self.assertEqual(e.wait(), 0)
                    self.assertEqual(e.log(name + "_wb.log"), ["> protover 2", "> ping 7", "pong 7", "> protover 2",
                                                              "> ping 8 and more", "pong 8", "> quit"])

    def test_engine_replies_and_plays_white_on_go(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name, what="st 1"):
                    e.send("new", "st 1")
                    start = time.monotonic()
                    e.send("e2e4")
                    move, lines = engine_move(e)
                    ms = harness.elapsed_ms(start)
                    print("%s: reply under st 1 after %.0f ms" % (name, ms))
                    self.assertIn(move, legal_moves(AFTER_E4))
                    self.assertLess(ms, harness.budget(path, 2000))
                    self.assertTrue(lines and all(re.fullmatch(XBOARD_THINKING, l) for l in lines), lines)
                # Seconds with a fraction, as clients send them: a budget that the move meets, and
                # no reply before the engine's time for starting new iterations (a sixth of the budget).
                for st in ["0.5", "2.25"]:
                    with self.subTest(program=name, what="st " + st):
                        e.send("new", "st " + st)
                        e.sync()
                        start = time.monotonic()
                        e.send("e2e4")
                        move, _ = engine_move(e, timeout=10)
                        ms = harness.elapsed_ms(start)
                        print("%s: reply under st %s after %.0f ms" % (name, st, ms))
                        self.assertIn(move, legal_moves(AFTER_E4))
                        self.assertGreaterEqual(ms, float(st) * 1000 * 0.17)
                        self.assertLess(ms, float(st) * 1000 + harness.budget(path, 400))
                with self.subTest(program=name, what="go"):
                    e.send("new", "sd 3", "go")
                    self.assertIn(engine_move(e)[0], legal_moves(START))
                # A clock at or below zero: a move at once.
                for clock in ["0", "-20"]:
                    with self.subTest(program=name, time=clock):
                        e.send("new", "level 0 5 0", "time " + clock, "otim 30000")
                        e.sync()
                        start = time.monotonic()
                        e.send("e2e4")
                        move, _ = engine_move(e)
                        ms = harness.elapsed_ms(start)
                        print("%s: reply with time %s after %.0f ms" % (name, clock, ms))
                        self.assertIn(move, legal_moves(AFTER_E4))
                        self.assertLess(ms, harness.budget(path, 1000))

    def test_illegal_moves_change_nothing(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name, position="start"):
                    self.new_game(e)
                    for text in ["e2e5", "e1e2", "e7e5", "foo", "e2e4e", "E2", "e2e4q"]:
                        e.send(text)
                        self.assertEqual(e.sync(), ["Illegal move: " + text])
                    self.assertPosition(e, START)
                    self.assertPlays(e, ["E2E4"])  # any case
                    self.assertPosition(e, AFTER_E4)
                for fen, refused, played, after in [
                        ("r3k2r/8/8/8/8/8/4q3/R3K2R w KQkq -", "e1g1", "e1e2", "r3k2r/8/8/8/8/8/4K3/R6R b kq -"),
                        ("r3kr2/8/8/8/8/8/8/R3K2R w KQq -", "e1g1", "e1c1", "r3kr2/8/8/8/8/8/8/2KR3R b q -")]:
                    with self.subTest(program=name, position=fen):  # castling out of or through check
                        e.send("setboard " + fen, "force", refused)
                        self.assertEqual(e.sync(), ["Illegal move: " + refused])
                        self.assertPlays(e, [played])
                        self.assertPosition(e, after)
                with self.subTest(program=name, position="pinned"):
                    e.send("setboard " + PINNED, "force", "e2d3")
                    self.assertEqual(e.sync(), ["Illegal move: e2d3"])
                    e.send("undo")  # nothing was recorded
                    self.assertPosition(e, PINNED)
                    self.assertPlays(e, ["e2e3"])
                    self.assertPosition(e, "4k3/4r3/8/8/8/4R3/8/4K3 b - -")

    def test_silent_words(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name):
                    self.new_game(e)
                    e.send(".", "exit", "?", "hard", "easy", "random", "hint", "bk", "result 1-0 {x}", "otim 100",
                           "computer", "accepted setboard", "rejected foo", "draw", "post", "nopost", "   ", "level 40 5 0",
                           "st 1", "sd 9", "time 1000")
                    self.assertEqual(e.sync(), [])
                    self.assertPosition(e, START)

    def test_setboard_and_refused_positions(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name):
                    self.new_game(e, "e2e4")
                    for fen in ["8/8/8/8/8/8/8/8 w - -", "4k3/8/8/8/8/8/8/4RK2 w - -", "nonsense", ""]:
                        e.send(("setboard " + fen).strip())
                        self.assertEqual(e.sync(), ["tellusererror Illegal position"])
                    self.assertPosition(e, AFTER_E4)
                    e.send("setboard   " + PINNED + " 0 1")
                    e.send("sd 2", "go")  # still in force mode: the engine plays White on go
                    self.assertIn(engine_move(e)[0], legal_moves(PINNED))

    def test_games_from_set_up_positions(self):
        """xboard's own command sequences for a game from a set-up position (from its debug log): force
        mode holds through "setboard", the opponent's first move is only recorded, and the colour command
        with "go" makes the engine play its side: one move, legal for that side."""
        ruy_lopez = "r1bqk2r/1pppbppp/p1n2n2/4p3/B3P3/5N2/PPPP1PPP/RNBQ1RK1 w kq - 4 1"
        after_qe1 = "r1bqk2r/1pppbppp/p1n2n2/4p3/B3P3/5N2/PPPP1PPP/RNB1QRK1 b kq - 5 1"
        nimzo = "rnbqkb1r/pppp1ppp/4pn2/8/2PP4/2N5/PP2PPPP/R1BQKBNR b KQkq - 1 1"
        after_c6 = "rnbqkb1r/pp1p1ppp/2p1pn2/8/2PP4/2N5/PP2PPPP/R1BQKBNR w KQkq - 0 2"
        games = [("Black", ["setboard " + ruy_lopez, "computer", "time 1000", "otim 980", "d1e1", "black", "go"],
                  after_qe1),
                 ("White", ["setboard " + nimzo, "computer", "time 1000", "otim 980", "c7c6", "white", "go"],
                  after_c6)]
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                for colour, commands, fen in games:
                    with self.subTest(program=name, engine=colour):
                        e.send("new", "level 0 0:10 0.1", "post", "hard", "easy", "ping 5", "force", *commands)
                        move, lines = engine_move(e)
                        self.assertIn(move, legal_moves(fen))
                        lines += e.sync()
                        self.assertEqual([l for l in lines if not re.fullmatch(XBOARD_THINKING, l)], ["pong 5"])
                with self.subTest(program=name, what="new, setboard and a move"):
                    e.send("new", "sd 2", "setboard " + ruy_lopez, "d1e1")  # out of force mode since "new"
                    self.assertIn(engine_move(e)[0], legal_moves(after_qe1))
                with self.subTest(program=name, what="setboard in force mode, then playother"):
                    e.send("force", "setboard " + ruy_lopez, "playother")
                    self.assertEqual(e.sync(), [])
                    e.send("d1e1")
                    self.assertIn(engine_move(e)[0], legal_moves(after_qe1))

    def test_white_and_black(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name, what="side change"):
                    self.new_game(e, "e2e4", "white")
                    self.assertPlays(e, ["d2d4", "undo", "undo", "undo"])  # nothing to take back past "white"
                    self.assertPlays(e, ["d2d4", "e7e5"])
                    self.assertPosition(e, "rnbqkbnr/pppp1ppp/8/4p3/3PP3/8/PPP2PPP/RNBQKBNR w KQkq -")
                    e.send("black")
                    self.assertPlays(e, ["d7d5"])
                    self.assertPosition(e, "rnbqkbnr/ppp2ppp/8/3pp3/3PP3/8/PPP2PPP/RNBQKBNR w KQkq -")
                with self.subTest(program=name, what="refused"):
                    e.send("setboard 4k3/8/8/8/8/8/8/4RK2 b - -", "force", "white")
                    self.assertEqual(e.sync(), ["Error (illegal position): white"])
                    self.assertPosition(e, "4k3/8/8/8/8/8/8/4RK2 b - -")
                    e.send("setboard 4K3/8/8/8/8/8/8/4rk2 w - -", "force", "black")
                    self.assertEqual(e.sync(), ["Error (illegal position): black"])
                    self.assertPosition(e, "4K3/8/8/8/8/8/8/4rk2 w - -")
                with self.subTest(program=name, what="a change and straight back leaves the game as it was"):
                    # xboard's idiom when the engine is to take White: its en-passant capture and the
                    # moves before it are still there
                    e.send("new", "force", "e2e4", "d7d5", "e4e5", "f7f5", "black", "time 500", "otim 500", "white")
                    self.assertPlays(e, ["e5f6", "undo", "undo", "undo", "e4e5", "f7f5", "e5f6"])
                    self.assertPosition(e, "rnbqkbnr/ppp1p1pp/5P2/3p4/8/8/PPPP1PPP/RNBQKBNR b KQkq -")
                with self.subTest(program=name, what="the engine plays White after black"):
                    e.send("new", "sd 2", "black")
                    self.assertEqual(e.sync(), [])
                    e.send("e7e5")
                    self.assertIn(engine_move(e)[0], legal_moves("rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR w KQkq -"))

    def test_undo_and_remove(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name, what="too few moves"):
                    self.new_game(e, "undo", "remove")
                    self.assertPlays(e, ["e2e4", "remove"])
                    e.send("e2e4")
                    self.assertEqual(e.sync(), ["Illegal move: e2e4"])
                    self.assertPlays(e, ["undo", "e2e4", "e7e5", "remove", "e2e4", "e7e5", "g1f3", "remove"])
                    self.assertPosition(e, AFTER_E4)
                with self.subTest(program=name, what="after the engine's reply"):
                    e.send("new", "sd 2", "e2e4")
                    reply, _ = engine_move(e)
                    e.send("force", "undo")
                    self.assertPlays(e, [reply, "undo"])  # its move is Black's again
                    self.assertPosition(e, AFTER_E4)
                    self.assertPlays(e, [reply, "remove", "e2e4"])
                    self.assertPosition(e, AFTER_E4)

    def test_mate(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name, what="fool's mate"):
                    self.new_game(e)
                    self.assertPlays(e, ["f2f3", "e7e5", "g2g4"])
                    self.assertPlays(e, ["d8h4"], ["0-1 {mate}"])
                    # the engine on move without a move: the result again, no search, no move
                    e.send("go")
                    self.assertEqual(e.sync(), ["0-1 {mate}"])
                    self.assertEqual(e.read_for(0.2), [])
                with self.subTest(program=name, what="the engine mates"):
                    e.send("setboard 6k1/5ppp/8/8/8/8/8/R5K1 w - -", "sd 3", "go")
                    move, lines = engine_move(e)
                    self.assertEqual(move, "a1a8")
                    self.assertEqual(re.fullmatch(XBOARD_THINKING, lines[-1]).group(2), "32765")
                    self.assertEqual(e.sync(), ["1-0 {mate}"])
                    self.assertEqual(e.read_for(0.2), [], "no move after the end of the game")
                with self.subTest(program=name, what="check with an escape"):
                    e.send("setboard 4k3/8/8/8/8/8/8/R3K3 w - -", "force")
                    self.assertPlays(e, ["a1a8"])

    def test_stalemate(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                for fen, move in [("7k/8/5K2/8/8/8/8/6Q1 w - -", "g1g6"),
                                  ("7k/p7/P4K2/8/8/8/8/6Q1 w - -", "g1g6"),   # pawns that cannot move
                                  ("7k/7B/8/6K1/8/8/8/8 w - -", "g5g6")]:     # also too little material
                    with self.subTest(program=name, fen=fen):
                        e.send("setboard " + fen, "force")
                        self.assertPlays(e, [move], ["1/2-1/2 {stalemate}"])
                with self.subTest(program=name, what="the engine on move, stalemated"):
                    e.send("setboard 7k/8/6QK/8/8/8/8/8 b - -")
                    self.assertEqual(e.sync(), [])
                    e.send("go")
                    self.assertEqual(e.sync(), ["1/2-1/2 {stalemate}"])
                    self.assertEqual(e.read_for(0.2), [])

    def test_repetition(self):
        knights = ["g1f3", "g8f6", "f3g1", "f6g8"] * 2
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name, start="new game"):
                    self.new_game(e)
                    self.assertPlays(e, knights)  # the start position a third time: not counted
                    self.assertPlays(e, ["g1f3"], ["1/2-1/2 {repetition}"])
                with self.subTest(program=name, start="1.e4 e5"):
                    self.new_game(e, "e2e4", "e7e5")
                    self.assertPlays(e, knights)  # first reached by a pawn move: not counted
                    self.assertPlays(e, ["g1f3"], ["1/2-1/2 {repetition}"])
                with self.subTest(program=name, start="setboard"):
                    e.send("setboard " + START, "force")
                    self.assertPlays(e, knights)
                    self.assertPlays(e, ["g1f3"], ["1/2-1/2 {repetition}"])
                with self.subTest(program=name, start="undo"):
                    self.assertPlays(e, ["undo"])
                    self.assertPlays(e, ["g1f3"], ["1/2-1/2 {repetition}"])

    def test_fifty_moves(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name, what="100 plies"):
                    e.send("setboard " + SHUFFLE_FEN, "force")
                    moves, _, _ = rook_walk(100)
                    self.assertPlays(e, moves[:99])
                    self.assertPlays(e, moves[99:], ["1/2-1/2 {50 moves}"])
                with self.subTest(program=name, what="castling starts the count again"):
                    e.send("setboard " + SHUFFLE_FEN, "force")
                    moves, white, black = rook_walk(60)
                    self.assertPlays(e, moves + ["e1g1"])
                    moves, _, _ = rook_walk(100, False, white, black)
                    self.assertPlays(e, moves[:99])
                    self.assertPlays(e, moves[99:], ["1/2-1/2 {50 moves}"])

    def test_insufficient_material(self):
        drawn = [("4k3/8/8/8/8/8/8/4K3 w - -", "e1e2"),              # bare kings
                 ("4k3/8/8/8/8/8/8/1N2K3 w - -", "e1e2"),            # a knight
                 ("4k3/8/8/8/8/8/8/2B1K3 w - -", "e1e2"),            # a bishop
                 ("4k3/8/8/8/8/8/8/2b1K3 w - -", "e1e2"),            # a black bishop
                 ("2b1k3/8/8/8/8/8/8/3BK3 w - -", "e1e2"),           # bishops on light squares
                 ("3bk3/8/8/8/8/8/8/2B1K3 w - -", "e1e2"),           # bishops on dark squares
                 ("4k3/8/8/8/8/8/4r3/4K1N1 w - -", "g1e2")]          # the last rook taken
        not_drawn = [("4k3/8/8/8/8/8/8/1NN1K3 w - -", "e1e2"),       # two knights
                     ("4k3/8/8/8/8/8/8/1BB1K3 w - -", "e1e2"),       # two bishops
                     ("2b1k3/8/8/8/8/8/8/2B1K3 w - -", "e1e2"),      # bishops on squares of both colours
                     ("2n1k3/8/8/8/8/8/8/2B1K3 w - -", "e1e2"),      # bishop against knight
                     ("2n1k3/8/8/8/8/8/8/1N2K3 w - -", "e1e2"),      # knight against knight
                     ("4k3/8/8/8/8/8/P7/4K3 w - -", "e1e2"),         # a pawn
                     ("4k3/8/8/8/8/8/8/R3K3 w - -", "e1e2"),         # a rook
                     ("4k3/8/8/8/8/8/8/3QK3 w - -", "e1e2")]         # a queen
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                for fen, move in drawn:
                    with self.subTest(program=name, fen=fen):
                        e.send("setboard " + fen, "force")
                        self.assertPlays(e, [move], ["1/2-1/2 {insufficient material}"])
                for fen, move in not_drawn:
                    with self.subTest(program=name, fen=fen):
                        e.send("setboard " + fen, "force")
                        self.assertPlays(e, [move])

    def test_commands_during_a_search(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name, command="?"):
                    e.send("new", "st 60", "go")
                    e.expect(XBOARD_THINKING)
                    time.sleep(0.1)
                    e.send("draw", " draw  ")  # changes nothing
                    lines = e.read_for(0.2)
                    self.assertFalse([l for l in lines if not re.fullmatch(XBOARD_THINKING, l)], lines)
                    start = time.monotonic()
                    e.send(" ? ")
                    move, _ = engine_move(e)
                    ms = harness.elapsed_ms(start)
                    print("%s: move %.1f ms after ?" % (name, ms))
                    self.assertLess(ms, harness.budget(path, 1000))
                    self.assertIn(move, legal_moves(START))
                with self.subTest(program=name, command="empty lines"):
                    e.send("new", "go")
                    e.expect(XBOARD_THINKING)
                    time.sleep(0.1)
                    e.send("", "   ")  # no command: the search goes on
                    lines = e.read_for(0.3)
                    self.assertFalse([l for l in lines if not re.fullmatch(XBOARD_THINKING, l)], lines)
                    e.send("?")
                    self.assertIn(engine_move(e)[0], legal_moves(START))
                    log = e.log(name + "_wb.log")
                    self.assertIn(["> ", ">    "], [log[i:i + 2] for i in range(len(log))])
                with self.subTest(program=name, command="new"):
                    e.send("e7e5")  # the engine thinks for White
                    e.expect(XBOARD_THINKING)
                    time.sleep(0.1)
                    e.send("new ", "sd 2")  # blanks around a command do not count
                    lines = e.sync()
                    self.assertFalse([l for l in lines if not re.fullmatch(XBOARD_THINKING, l)], lines)
                    e.send("e2e4")  # a new game: the engine is Black
                    self.assertIn(engine_move(e)[0], legal_moves(AFTER_E4))
                with self.subTest(program=name, command="force"):
                    e.send("new", "st 60", "go")
                    e.expect(XBOARD_THINKING)
                    time.sleep(0.1)
                    e.send("force", "ping 1")
                    move, _ = engine_move(e)
                    self.assertIn(move, legal_moves(START))
                    e.expect("pong 1")
                    self.assertPlays(e, ["e7e6"])  # and stays in force mode
                    self.assertEqual(e.read_for(0.2), [])
                # Several commands at once: the first ends the search and none may get lost, whatever the
                # search was doing when it stopped (hence several rounds).
                with self.subTest(program=name, command="commands in a row"):
                    for round in range(10):
                        e.send("new", "post", "sd 100", "st 60", "go")
                        e.expect(XBOARD_THINKING)
                        time.sleep(0.05)
                        e.send("sd 2", "ping 2", "nopost", "ping 3")
                        move, _ = engine_move(e)
                        self.assertIn(move, legal_moves(START))
                        self.assertEqual(e.sync("4"), ["pong 2", "pong 3"], "round %d" % round)
                        e.send("e7e5")
                        move, lines = engine_move(e)
                        self.assertEqual(lines, [], "sd and nopost were obeyed")
                    e.send("post")

    def test_quit_and_end_of_input_during_a_search(self):
        for name, path in harness.programs():
            for how in ["quit", "QUIT", "end of input"]:
                with self.subTest(program=name, how=how):
                    e, _ = start_xboard(path)
                    with e:
                        e.send("new", "go")
                        e.expect(XBOARD_THINKING)
                        time.sleep(0.1)
                        start = time.monotonic()
                        if how == "end of input":
                            e.close_input()
                        else:
                            e.send(how)
                        rest = [l for l in e.drain() if not re.fullmatch(XBOARD_THINKING, l)]
                        self.assertEqual(e.wait(), 0)
                        print("%s: %s during a search: exit after %.1f ms" % (name, how, harness.elapsed_ms(start)))
                        log = e.log(name + "_wb.log")
                        if how == "end of input":
                            self.assertEqual(len(rest), 1)
                            self.assertIn(rest[0][5:], legal_moves(START))
                            self.assertEqual(log[-1], rest[0])
                        else:
                            self.assertEqual(rest, [])
                            self.assertEqual(log[-1], "> " + how)
            with self.subTest(program=name, how="idle"):
                status, out = harness.run(b"xboard\nprotover 2\nnew\nforce\ne2e4\n", path, timeout=10)
                self.assertEqual(status, 0)

    def test_analysis(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name):
                    self.new_game(e, "analyze")
                    m, _ = e.expect(XBOARD_THINKING)
                    self.assertIn(m.group(5), legal_moves(START))
                    time.sleep(0.1)
                    e.send("e2e4")  # the analysis goes on in the new position
                    while True:
                        m, _ = e.expect(XBOARD_THINKING)
                        if m.group(5) in legal_moves(AFTER_E4) and m.group(1) == "1":
                            break
                    time.sleep(0.1)
                    e.send("", "  ")  # no command: the analysis goes on without starting again
                    lines = e.read_for(0.3)
                    self.assertTrue(all(re.fullmatch(XBOARD_THINKING, l) for l in lines), lines)
                    depths = [int(l.split()[0]) for l in lines]
                    self.assertEqual(depths, sorted(depths), "the analysis started again")
                    e.send(".", "bk", "hint")  # each ends the search and the analysis starts again
                    e.expect(XBOARD_THINKING)
                    time.sleep(0.1)
                    e.send("Exit", "ping 1")  # any case during the search
                    lines = e.expect("pong 1")[1][:-1]
                    self.assertFalse([l for l in lines if not re.fullmatch(XBOARD_THINKING, l)], lines)
                    self.assertEqual(e.read_for(0.3), [], "the analysis has ended")
                    self.assertPlays(e, ["e7e5"])  # still in force mode: no reply
                    self.assertEqual(e.read_for(0.2), [])
                with self.subTest(program=name, what="analysis ended by sd"):
                    e.send("sd 3", "analyze")
                    lines = e.sync()
                    lines += e.read_for(0.2)
                    self.assertTrue(lines and all(re.fullmatch(XBOARD_THINKING, l) for l in lines), lines)
                    self.assertEqual(re.fullmatch(XBOARD_THINKING, lines[-1]).group(1), "3")
                    e.send("exit")
                    self.assertEqual(e.sync(), [])
                    self.assertPlays(e, ["g1f3"])
                with self.subTest(program=name, what="quit in analysis"):
                    e.send("sd 100", "analyze")
                    e.expect(XBOARD_THINKING)
                    time.sleep(0.1)
                    e.send("quit")
                    e.drain()
                    self.assertEqual(e.wait(), 0)
            with self.subTest(program=name, what="end of input in analysis"):
                e, _ = start_xboard(path)
                with e:
                    e.send("analyze")
                    e.expect(XBOARD_THINKING)
                    e.close_input()
                    self.assertFalse([l for l in e.drain() if not re.fullmatch(XBOARD_THINKING, l)])
                    self.assertEqual(e.wait(), 0)

    def test_thinking_lines(self):
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name):
                    e.send("new", "force", "d2d4", "sd 6", "go")
                    move, lines = engine_move(e)
                    fields = [re.fullmatch(XBOARD_THINKING, l) for l in lines]
                    self.assertTrue(fields and all(fields), lines)
                    depths = [int(f.group(1)) for f in fields]
                    self.assertEqual(depths, sorted(depths))
                    self.assertEqual(set(depths), set(range(1, 7)))
                    self.assertEqual([int(f.group(4)) for f in fields], sorted(int(f.group(4)) for f in fields))
                    self.assertEqual(fields[-1].group(5), move)
                    e.send("force", "undo", "nopost", "go")
                    self.assertEqual(engine_move(e)[1], [])
                    e.send("force", "undo", "post", "go")
                    self.assertTrue(engine_move(e)[1])

    def test_log_file(self):
        for name, path in harness.programs():
            with self.subTest(program=name):
                e, _ = start_xboard(path)
                with e:
                    e.send("new", "", "force", "e2e5", "f2f3", "e7e5", "g2g4", "d8h4")
                    e.sync("1")
                    e.send("new", "sd 2", "e2e4")
                    move, thinking = engine_move(e)
                    e.send("force", "undo", "sd 100", "go")  # a command during the search is logged once
                    thinking2 = e.expect(XBOARD_THINKING)[1]
                    e.send("ping 2")
                    move2, more = engine_move(e)
                    thinking2 += more
                    e.expect("pong 2")
                    e.send("quit")
                    self.assertEqual(e.wait(), 0)
                    log = e.log(name + "_wb.log")
                    expected = (["> protover 2", "> new", "> force", "> e2e5", "Illegal move: e2e5", "> f2f3", "> e7e5",
                                 "> g2g4", "> d8h4", "> ping 1", "pong 1", "> new", "> sd 2", "> e2e4"] + thinking +
                                ["move " + move, "> force", "> undo", "> sd 100", "> go"])
                    self.assertEqual(log[:len(expected)], expected)
                    self.assertEqual([l for l in log[len(expected):] if not re.fullmatch(XBOARD_THINKING, l)],
                                     ["> ping 2", "move " + move2, "pong 2", "> quit"])
                    self.assertEqual([l for l in log[len(expected):] if re.fullmatch(XBOARD_THINKING, l)], thinking2)

    def test_long_games_and_lines(self):
        knights = ["g1f3", "g8f6", "f3g1", "f6g8"]
        for name, path in harness.programs():
            e, _ = start_xboard(path)
            with e:
                with self.subTest(program=name):
                    self.new_game(e)
                    e.send(*[knights[i % 4] for i in range(1301)])  # past the game record's size
                    e.sync()
                    self.assertPlays(e, ["undo", "undo", "undo"])
                    self.assertPosition(e, "rnbqkb1r/pppppppp/5n2/8/8/5N2/PPPPPPPP/RNBQKB1R w KQkq -")
                    e.send("y" * 3000)
                    lines = e.sync()
                    self.assertEqual(len(lines), 1)
                    self.assertTrue(lines[0].startswith("Illegal move: yyy"))
                    e.send("setboard " + START + " " * 1000)
                    self.assertEqual(e.sync(), [])
                    self.assertPosition(e, START)

    def test_both_builds_think_alike(self):
        progs = harness.compared_programs()
        if len(progs) < 2:
            self.skipTest("needs two programs")
        transcripts = []
        for name, path in progs:
            e, _ = start_xboard(path)
            with e:
                lines = []
                for fen in ["r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
                            "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", START]:
                    e.send("setboard " + fen, "sd 7", "go")
                    move, thinking = engine_move(e, 60)
                    lines += [re.sub(r"^(\S+ \S+) \d+ ", r"\1 ", l) for l in thinking] + [move]
                transcripts.append(lines)
        self.assertGreater(len(transcripts[0]), 20)
        for (name, _), transcript in zip(progs[1:], transcripts[1:]):
            self.assertEqual(transcripts[0], transcript, "%s thinks otherwise than %s" % (name, progs[0][0]))


if __name__ == "__main__":
    harness.main()
