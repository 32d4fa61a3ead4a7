"""The UCI protocol through pipes, as a GUI drives it: identification, positions and moves, searches
under each kind of limit, commands during a search, refused input, thinking lines and the log."""
import re
import time
import unittest

import harness
from harness import UCI_INFO, legal_moves, start_uci

START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"
AFTER_E4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3"
AFTER_E4_E5 = "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6"
MATE_IN_ONE = "6k1/5ppp/8/8/8/8/8/R5K1 w - -"      # Ra8 mates
MATED_IN_ONE = "k7/8/1K6/8/8/8/8/7R b - -"         # Kb8 only, then Rh8 mates
CHECKMATED = "7k/6Q1/6K1/8/8/8/8/8 b - -"
STALEMATED = "7k/8/6QK/8/8/8/8/8 b - -"


def bestmove(engine, timeout=30):
    """Reads up to the "bestmove" line; returns (move text, the info lines before it)."""
    m, got = engine.expect(r"bestmove (\S+)", timeout)
    return m.group(1), got[:-1]


class UciTest(unittest.TestCase):
    def search(self, engine, position, go="go depth 3"):
        engine.send(*[line for line in (position, go) if line])
        return bestmove(engine)

    def test_identification_and_isready(self):
        for name, path in harness.programs():
            with self.subTest(program=name):
                e, got = start_uci(path)
                with e:
                    self.assertEqual(got[2:], ["id name Vorna 1.12 %s UCI" % harness.tag(name), "id author Vesterov",
                                               "uciok"])
                    self.assertEqual(e.sync(), [], "isready as the first command")
                    self.assertEqual(e.sync(), [])
                    e.send("quit")
                    self.assertEqual(e.drain(), [])
                    self.assertEqual(e.wait(), 0)

    def test_positions_and_move_lists(self):
        cases = [
            ("position startpos", START),
            ("position startpos moves e2e4 e7e5", AFTER_E4_E5),
            ("position fen " + AFTER_E4_E5, AFTER_E4_E5),
            # the half-move and move-number fields, castling on both wings in the move list
            ("position fen r3k2r/pppq1ppp/2n2n2/3pp3/3PP3/2N2N2/PPPQ1PPP/R3K2R w KQkq - 4 8 moves e1c1 e8g8",
             "r4rk1/pppq1ppp/2n2n2/3pp3/3PP3/2N2N2/PPPQ1PPP/2KR3R w - -"),
            # en passant: allowed right after the double push, and made
            ("position startpos moves e2e4 a7a6 e4e5 d7d5", "rnbqkbnr/1pp1pppp/p7/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6"),
            ("position startpos moves e2e4 a7a6 e4e5 d7d5 e5d6", "rnbqkbnr/1pp1pppp/p2P4/8/8/8/PPPP1PPP/RNBQKBNR b KQkq -"),
            # move texts in capitals, a promotion
            ("position fen 4k3/1P6/8/8/8/8/8/4K3 w - - 0 1 moves B7B8Q", "1Q2k3/8/8/8/8/8/8/4K3 b - -"),
            ("position fen 8/8/8/4k3/8/8/3K4/8 b - - 12 40", "8/8/8/4k3/8/8/3K4/8 b - -"),
            # castling out of check is no move: the list stops there
            ("position fen r3k2r/8/8/8/8/8/4q3/R3K2R w KQkq - moves e1g1 e2e3", "r3k2r/8/8/8/8/8/4q3/R3K2R w KQkq -"),
        ]
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                for command, fen in cases:
                    with self.subTest(program=name, position=command):
                        move, lines = self.search(e, command)
                        self.assertIn(move, legal_moves(fen))
                        infos = [l for l in lines if not l.startswith("info string")]
                        for line in infos:
                            self.assertRegex(line, UCI_INFO)
                        self.assertEqual(re.fullmatch(UCI_INFO, infos[-1]).group(1), "3")
                        self.assertEqual(re.fullmatch(UCI_INFO, infos[-1]).group(7), move)

    def test_refused_positions_keep_the_previous_one(self):
        refused = ["position fen 8/8/8/8/8/8/8/8 w - - moves e7e5",            # no kings
                   "position fen 4k3/8/8/8/8/8/8/4RK2 w - - moves e7e5",        # side not to move in check
                   "position fen 4kk2/8/8/8/8/8/8/4K3 b - - moves e7e5",        # two black kings
                   "position fen",                                             # no position text
                   "position fen moves e7e5"]
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                for command in refused:
                    with self.subTest(program=name, command=command):
                        e.send("position startpos moves e2e4", command)
                        lines = e.sync()
                        self.assertEqual(len(lines), 1, lines)
                        self.assertTrue(lines[0].startswith("info string "), lines)
                        move, _ = self.search(e, "", "go depth 2")
                        self.assertIn(move, legal_moves(AFTER_E4))

    def test_unplayable_move_ends_the_list(self):
        cases = [("position startpos moves e2e4 e7e5 e1e3 d2d4", AFTER_E4_E5),      # no such move
                 ("position startpos moves e2e4 zz9 e7e5", AFTER_E4),               # no move text at all
                 ("position startpos moves e2e4 e7e5x g8f6", AFTER_E4),             # too long
                 ("position fen 4k3/4r3/8/8/8/8/4B3/4K3 w - - moves e2d3 e7e6",     # pinned bishop
                  "4k3/4r3/8/8/8/8/4B3/4K3 w - -")]
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                for command, fen in cases:
                    with self.subTest(program=name, command=command):
                        e.send(command)
                        lines = e.sync()
                        self.assertEqual(len(lines), 1, lines)
                        self.assertTrue(lines[0].startswith("info string "), lines)
                        move, _ = self.search(e, "", "go depth 2")
                        self.assertIn(move, legal_moves(fen))

    def test_no_legal_move(self):
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                for fen in [CHECKMATED, STALEMATED]:
                    with self.subTest(program=name, fen=fen):
                        self.assertEqual(self.search(e, "position fen " + fen), ("0000", []))
                        # "go infinite" still waits for "stop"
                        e.send("go infinite")
                        self.assertEqual(e.sync(), [])
                        self.assertEqual(e.read_for(0.2), [])
                        e.send("stop")
                        self.assertEqual(bestmove(e), ("0000", []))

    def test_mate_scores(self):
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                for fen, move, mate in [(MATE_IN_ONE, "a1a8", "1"), (MATED_IN_ONE, "a8b8", "-1")]:
                    with self.subTest(program=name, fen=fen):
                        best, lines = self.search(e, "position fen " + fen, "go depth 4")
                        self.assertEqual(best, move)
                        last = re.fullmatch(UCI_INFO, lines[-1])
                        self.assertEqual((last.group(1), last.group(2), last.group(3), last.group(7)),
                                         ("4", "mate", mate, move))

    def test_thinking_lines(self):
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                with self.subTest(program=name):
                    best, lines = self.search(e, "position startpos moves d2d4 d7d5 c2c4", "go depth 6")
                    fields = [re.fullmatch(UCI_INFO, l) for l in lines]
                    self.assertTrue(all(fields), lines)
                    depths = [int(f.group(1)) for f in fields]
                    nodes = [int(f.group(5)) for f in fields]
                    times = [int(f.group(4)) for f in fields]
                    self.assertEqual(depths, sorted(depths))
                    self.assertEqual(set(depths), set(range(1, 7)))
                    self.assertEqual(nodes, sorted(nodes))
                    self.assertEqual(times, sorted(times))
                    for f in fields:
                        t, n, nps = int(f.group(4)), int(f.group(5)), int(f.group(6))
                        self.assertEqual(nps, n * 1000 // t % 2**32 if t else 0)
                        self.assertEqual(f.group(2), "cp")
                    self.assertEqual(fields[-1].group(7), best)
                    self.assertIn(best, legal_moves("rnbqkbnr/ppp1pppp/8/3p4/2PP4/8/PP2PPPP/RNBQKBNR b KQkq c3"))

    def test_commands_are_case_sensitive_and_unknown_ones_silent(self):
        silent = ["ISREADY", "Isready", "isready_", "GO depth 1", "Go", "Position startpos", "QUIT", "Quit",
                  "foo", "uci", "stop", "ponderhit", "register later", "debug on", "debug off",
                  "setoption name Hash value 16", "ucinewgame", "go\tdepth 1", "   ", "\t"]
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                with self.subTest(program=name):
                    e.send("position startpos moves e2e4", *silent)
                    self.assertEqual(e.sync(), [])
                    move, _ = self.search(e, "", "go depth 1")
                    self.assertIn(move, legal_moves(AFTER_E4), "Position (capital P) changed the position")

    def test_blanks_and_line_ends(self):
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                with self.subTest(program=name):
                    e.send("   isready", "isready   ", "isready\r")
                    for _ in range(3):
                        e.expect("readyok")
                    move, _ = self.search(e, "position   startpos    moves  e2e4     e7e5  ", "go    depth   2  ")
                    self.assertIn(move, legal_moves(AFTER_E4_E5))
                    move, _ = self.search(e, "position fen   " + START + " 0 1    moves   e2e4\r", "  go depth 2\r")
                    self.assertIn(move, legal_moves(AFTER_E4))

    def test_long_input(self):
        # A game longer than the engine's state stack, and a line longer than its line buffer.
        shuffle = ["g1f3", "g8f6", "f3g1", "f6g8"]
        game = " ".join(shuffle[i % 4] for i in range(1300))
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                with self.subTest(program=name):
                    self.assertIn(self.search(e, "position startpos moves " + game)[0], legal_moves(START))
                    self.assertIn(self.search(e, "position startpos moves " + game + " e2e4")[0],
                                  legal_moves(AFTER_E4))
                    e.send("go depth 1 " + "x" * 20000)
                    self.assertIn(bestmove(e)[0], legal_moves(AFTER_E4))
                    e.send("x" * 20000)
                    self.assertEqual(e.sync(), [])

    def test_time_limits(self):
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                with self.subTest(program=name, go="movetime"):
                    e.send("position startpos")
                    e.sync()
                    start = time.monotonic()
                    e.send("go movetime 300")
                    move, _ = bestmove(e)
                    ms = harness.elapsed_ms(start)
                    print("%s: go movetime 300 answered after %.0f ms" % (name, ms))
                    self.assertIn(move, legal_moves(START))
                    self.assertGreaterEqual(ms, 290)
                    self.assertLess(ms, harness.budget(path, 1300))
                # A clock at or below zero means a move at once; only the mover's clock counts.
                for position, fen, go in [("position startpos", START, "go wtime 0 btime 0"),
                                          ("position startpos", START, "go movetime 0"),
                                          ("position startpos", START, "go movetime -5 depth 50"),
                                          ("position startpos", START, "go wtime -50 btime 60000"),
                                          ("position startpos", START, "go btime 0 wtime 1 winc 0"),
                                          ("position startpos moves e2e4", AFTER_E4, "go wtime 60000 btime -1"),
                                          ("position startpos moves e2e4", AFTER_E4, "go wtime 1000 btime 0 movestogo 5")]:
                    with self.subTest(program=name, go=go):
                        e.send(position)
                        e.sync()
                        start = time.monotonic()
                        e.send(go)
                        move, _ = bestmove(e)
                        ms = harness.elapsed_ms(start)
                        print("%s: %s (%s) answered after %.0f ms" % (name, go, position, ms))
                        self.assertIn(move, legal_moves(fen))
                        self.assertLess(ms, harness.budget(path, 1000))
                for go in ["go depth 4 movetime 5000", "go searchmoves e2e4 d2d4 nodes 100 mate 2 ponder depth 4",
                           "go depth 4 wtime 60000 btime 60000 winc 0 binc 0 movestogo 30"]:
                    with self.subTest(program=name, go=go):
                        move, lines = self.search(e, "position startpos", go)
                        self.assertIn(move, legal_moves(START))
                        self.assertEqual(max(int(re.fullmatch(UCI_INFO, l).group(1)) for l in lines), 4)

    def test_infinite_search_stop_and_isready(self):
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                with self.subTest(program=name):
                    e.send("position startpos moves e2e4", "go infinite")
                    e.expect(UCI_INFO)
                    time.sleep(0.2)
                    for _ in range(3):
                        start = time.monotonic()
                        e.send("", "   ", "stop_", "Stop", "isready")
                        lines = e.expect("readyok")[1][:-1]
                        print("%s: readyok during a search after %.1f ms" % (name, harness.elapsed_ms(start)))
                        self.assertFalse([l for l in lines if l.startswith("bestmove")], lines)
                    e.send(" isready  ")  # blanks around a command do not count
                    self.assertEqual([l for l in e.expect("readyok")[1] if not re.fullmatch(UCI_INFO, l)], ["readyok"])
                    self.assertFalse([l for l in e.read_for(0.3) if not re.fullmatch(UCI_INFO, l)])
                    start = time.monotonic()
                    e.send("stop ")
                    move, _ = bestmove(e)
                    ms = harness.elapsed_ms(start)
                    print("%s: bestmove %.1f ms after stop" % (name, ms))
                    self.assertLess(ms, harness.budget(path, 1000))
                    self.assertIn(move, legal_moves(AFTER_E4))
                    self.assertEqual(e.sync(), [], "one bestmove only; stop outside a search is silent")

    def test_infinite_search_that_ends_by_itself_waits_for_stop(self):
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                with self.subTest(program=name):
                    e.send("position startpos", "go infinite depth 3")
                    lines = e.sync()
                    lines += e.read_for(0.3)
                    lines += e.sync()
                    self.assertFalse([l for l in lines if not re.fullmatch(UCI_INFO, l)], lines)
                    self.assertEqual(re.fullmatch(UCI_INFO, lines[-1]).group(1), "3")
                    e.send("stop")
                    move, _ = bestmove(e)
                    self.assertIn(move, legal_moves(START))
                    self.assertEqual(e.sync(), [])
                    e.send("go infinite depth 2")
                    e.sync()
                    e.send("quit")  # instead of stop
                    self.assertIn(bestmove(e)[0], legal_moves(START))
                    self.assertEqual(e.drain(), [])
                    self.assertEqual(e.wait(), 0)

    def test_commands_right_after_stop(self):
        # A GUI sends "stop" and the next position and "go" at once: none of them may get lost, whatever
        # the search was doing when it stopped (hence several rounds).
        endgame = "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -"
        for name, path in harness.programs():
            e, _ = start_uci(path)
            with e:
                with self.subTest(program=name):
                    for round in range(12):
                        fen = endgame if round % 2 else START
                        e.send("position fen " + fen, "go infinite")
                        e.expect(UCI_INFO)
                        time.sleep(0.05)
                        e.send("stop", "isready", "position startpos moves e2e4", "go depth 3")
                        self.assertIn(bestmove(e)[0], legal_moves(fen))
                        self.assertEqual([l for l in e.expect("readyok|bestmove.*", 5)[1] if not re.fullmatch(UCI_INFO, l)],
                                         ["readyok"], "round %d" % round)
                        self.assertIn(bestmove(e, timeout=5)[0], legal_moves(AFTER_E4), "round %d" % round)
                        self.assertEqual(e.sync(), [])

    def test_quit_and_end_of_input_during_a_search(self):
        for name, path in harness.programs():
            for how in ["quit", "end of input"]:
                with self.subTest(program=name, how=how):
                    e, _ = start_uci(path)
                    with e:
                        e.send("position startpos", "go infinite")
                        e.expect(UCI_INFO)
                        time.sleep(0.1)
                        start = time.monotonic()
                        if how == "quit":
                            e.send("quit")
                        else:
                            e.close_input()
                        move, _ = bestmove(e)
                        self.assertIn(move, legal_moves(START))
                        self.assertEqual(e.drain(), [])
                        self.assertEqual(e.wait(), 0)
                        print("%s: %s during a search: exit after %.1f ms" % (name, how, harness.elapsed_ms(start)))
                        log = e.log(name + "_uci.log")
                        self.assertEqual(log[-1], "bestmove " + move)
                        if how == "quit":
                            self.assertEqual(log[-2], "> quit")
            with self.subTest(program=name, how="all input at once"):
                status, out = harness.run(b"uci\nposition startpos\ngo depth 30\nquit\n", path, timeout=30)
                self.assertEqual(status, 0)
                self.assertRegex(out[-1], r"bestmove [a-h][1-8][a-h][1-8]")

    def test_log_file(self):
        for name, path in harness.programs():
            with self.subTest(program=name):
                e, _ = start_uci(path)
                with e:
                    e.send("isready", "", "position startpos moves e2e4", "go depth 2")
                    e.expect("readyok")
                    move, infos = bestmove(e)
                    e.send("bogus command", "", "go infinite")
                    infos2 = e.expect(UCI_INFO)[1]
                    e.send("", "isready")  # an empty line during a search is logged
                    infos2 += e.expect("readyok")[1]
                    e.send("stop")
                    move2, more = bestmove(e)
                    infos2 += more
                    e.send("quit")
                    self.assertEqual(e.wait(), 0)
                    expected = (["> isready", "readyok", "> position startpos moves e2e4", "> go depth 2"] + infos +
                                ["bestmove " + move, "> bogus command", "> go infinite"])
                    log = e.log(name + "_uci.log")
                    self.assertEqual(log[:len(expected)], expected)
                    rest = [l for l in log[len(expected):] if not re.fullmatch(UCI_INFO, l)]
                    self.assertEqual(rest, ["> ", "> isready", "readyok", "> stop", "bestmove " + move2, "> quit"])
                    self.assertEqual([l for l in log[len(expected):] if re.fullmatch(UCI_INFO, l)],
                                     [l for l in infos2 if l != "readyok"])

    def test_both_builds_think_alike(self):
        progs = harness.compared_programs()
        if len(progs) < 2:
            self.skipTest("needs two programs")
        positions = ["startpos moves e2e4 c7c5 g1f3",
                     "fen r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
                     "fen 8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -",
                     "fen 4k3/1P6/8/8/8/8/5p2/3K4 b - -",
                     "fen " + MATED_IN_ONE]
        transcripts = []
        for name, path in progs:
            e, _ = start_uci(path)
            with e:
                lines = []
                for position in positions:
                    e.send("position " + position, "go depth 7")
                    move, infos = bestmove(e, 60)
                    lines += [re.sub(r" time \d+| nps \d+", "", l) for l in infos] + [move]
                transcripts.append(lines)
        self.assertGreater(len(transcripts[0]), 30)
        for (name, _), transcript in zip(progs[1:], transcripts[1:]):
            self.assertEqual(transcripts[0], transcript, "%s thinks otherwise than %s" % (name, progs[0][0]))

    def test_tables_kept_through_idle_time_think_alike(self):
        # A game: a search at once after the start, then time with nothing to do (in which the
        # WebAssembly engine prepares the pages of its table, some of them holding entries by then),
        # then the game's next searches, which find the first one's entries: every line as the native
        # program thinks it.
        progs = harness.compared_programs()
        if len(progs) < 2:
            self.skipTest("needs two programs")
        game = "position startpos moves e2e4 c7c5 g1f3"
        transcripts = []
        for name, path in progs:
            e, _ = start_uci(path)
            with e:
                lines = []
                for i, moves in enumerate(["", " d7d6", " d7d6 d2d4", " d7d6 d2d4 c5d4"]):
                    e.send(game + moves, "go depth 8")
                    move, infos = bestmove(e, 120)
                    lines += [re.sub(r" time \d+| nps \d+", "", l) for l in infos] + [move]
                    if i == 0:
                        e.read_for(3.0)
                transcripts.append(lines)
        for (name, _), transcript in zip(progs[1:], transcripts[1:]):
            self.assertEqual(transcripts[0], transcript, "%s thinks otherwise than %s" % (name, progs[0][0]))


if __name__ == "__main__":
    harness.main()
