"""Program start: the banner, the choice of mode by the first word of input, the end of input, and
where the log file goes and what it is called."""
import os
import re
import shutil
import tempfile
import time
import unittest

import harness
from harness import Engine, run

NOTICE = "(c) the Vorna developers; a free chess engine for UCI and xboard interfaces"

# The perft mode's (depth, leaves): the start position, Kiwipete, a promotion race and a rook ending,
# each followed by its colour-flipped twin.
PERFT_SUITE = [(6, 119060324), (6, 119060324), (5, 193690690), (5, 193690690),
               (6, 34336777), (6, 34336777), (7, 178633661), (7, 178633661)]


def banner(name):
    return ["Vorna 1.12 " + harness.tag(name), NOTICE]


class EntryTest(unittest.TestCase):
    def test_no_mode_writes_the_banner_only(self):
        inputs = [b"", b"\n\n  \n", b"hello\n", b"chess uci\n", b"ucinewgame\n", b"xboard2\n", b"-uci\n",
                  b"u" * 40 + b"\n", b"uci" + b"x" * 40 + b"\n", b"\xff\xfe\n"]
        for name, path in harness.programs():
            for data in inputs:
                with self.subTest(program=name, input=data[:20]), tempfile.TemporaryDirectory() as cwd:
                    status, out = run(data, path, timeout=10, cwd=cwd)
                    self.assertEqual(status, 0)
                    self.assertEqual(out, banner(name))
                    self.assertEqual(os.listdir(cwd), [], "no log without a protocol")

    def test_mode_word_in_any_case_after_white_space(self):
        for name, path in harness.programs():
            for word in ["uci", "UCI", "Uci", "uCI"]:
                for before in ["", "\n\n", "   ", "\t \n \n  "]:
                    with self.subTest(program=name, first=before + word):
                        status, out = run((before + word + "\nisready\nquit\n").encode(), path, timeout=10)
                        self.assertEqual(status, 0)
                        self.assertEqual(out, banner(name) + ["id name Vorna 1.12 %s UCI" % harness.tag(name),
                                                              "id author Vesterov", "uciok", "readyok"])
            with self.subTest(program=name, first="uci with CR LF line ends"):
                status, out = run(b"UCI\r\nisready\r\nquit\r\n", path, timeout=10)
                self.assertEqual((status, out[-1]), (0, "readyok"))
            for word in ["xboard", "XBOARD", "XBoard", "xBoArD"]:
                with self.subTest(program=name, first=" \n" + word):
                    status, out = run((" \n" + word + "\nping 3\nquit\n").encode(), path, timeout=10)
                    self.assertEqual(status, 0)
                    self.assertEqual(out, banner(name) + ["pong 3"])

    def test_rest_of_the_first_line_is_the_first_command(self):
        for name, path in harness.programs():
            with self.subTest(program=name, mode="uci"), Engine(path) as e:
                e.send("uci isready", "quit")
                self.assertEqual(e.drain()[-2:], ["uciok", "readyok"])
                self.assertEqual(e.wait(), 0)
                self.assertEqual(e.log(name + "_uci.log"), [">  isready", "readyok", "> quit"])
            with self.subTest(program=name, mode="xboard"), Engine(path) as e:
                e.send("xboard ping 5", "quit")
                self.assertEqual(e.drain(), banner(name) + ["pong 5"])
                self.assertEqual(e.wait(), 0)
                self.assertEqual(e.log(name + "_wb.log"), [">  ping 5", "pong 5", "> quit"])

    def test_perft_mode_in_mixed_case(self):
        # The suite runs to its end whatever the input does (every other mode ends with the input),
        # and every program, whatever its machine and arithmetic, counts the same leaves: each
        # position and its colour-flipped twin, then a rule.
        engines = [(name, Engine(path)) for name, path in harness.programs()]
        try:
            for name, e in engines:
                e.send("PerFT")
                e.close_input()
            time.sleep(1.5)
            first = {}
            for name, e in engines:
                with self.subTest(program=name):
                    self.assertIsNone(e.proc.poll(), "the program has ended")
                    first[name] = e.read_for(0.1)
                    self.assertEqual(first[name][:2], banner(name))
            for name, e in engines:
                with self.subTest(program=name):
                    lines = first.get(name, [])[2:] + e.drain(timeout=600)
                    self.assertEqual(e.wait(), 0)
                    counts = [re.fullmatch(r"depth = (\d), nodes = +(\d+), time = +\d+\.\d\d(\t\d+ kN / s)?",
                                           line) for line in lines if not line.startswith("-")]
                    self.assertTrue(all(counts), lines)
                    self.assertEqual([(int(m.group(1)), int(m.group(2))) for m in counts], PERFT_SUITE)
                    self.assertEqual(sum(line == "-" * 50 for line in lines), 4)
                    self.assertEqual(os.listdir(e.workdir), [])
        finally:
            for _, e in engines:
                e.__exit__(None, None, None)

    def test_end_of_input_ends_the_program(self):
        for name, path in harness.programs():
            for data in [b"uci\n", b"uci", b"uci\nisready", b"xboard\n", b"xboard\nprotover 2\nnew\nforce\ne2e4"]:
                with self.subTest(program=name, input=data):
                    status, out = run(data, path, timeout=10)
                    self.assertEqual(status, 0)
                    if data.endswith(b"isready"):
                        self.assertEqual(out[-1], "readyok", "a last line without a newline still counts")


class LogFileTest(unittest.TestCase):
    def test_log_is_named_after_the_program_and_written_in_the_working_directory(self):
        for name, path in harness.programs():
            with self.subTest(program=name), tempfile.TemporaryDirectory() as tmp:
                # A copy with an extension, in a directory whose name has a dot, started from elsewhere.
                bindir = os.path.join(tmp, "bin.d")
                cwd = os.path.join(tmp, "work")
                os.makedirs(bindir)
                os.makedirs(cwd)
                # (a JavaScript program keeps its extension, by which it is started under Node)
                copy = os.path.join(bindir, "engine.v2" + (".js" if path.endswith(".js") else ".exe"))
                shutil.copy(path, copy)
                status, _ = run(b"uci\nisready\nquit\n", copy, timeout=10, cwd=cwd)
                self.assertEqual(status, 0)
                self.assertEqual(os.listdir(cwd), ["engine.v2_uci.log"])
                self.assertEqual(os.listdir(bindir), [os.path.basename(copy)])
                status, _ = run(b"xboard\nping 1\nquit\n", copy, timeout=10, cwd=cwd)
                self.assertEqual(sorted(os.listdir(cwd)), ["engine.v2_uci.log", "engine.v2_wb.log"])

    def test_log_replaces_an_older_file(self):
        for name, path in harness.programs():
            for mode, suffix in [("uci", "_uci"), ("xboard", "_wb")]:
                with self.subTest(program=name, mode=mode), tempfile.TemporaryDirectory() as cwd:
                    log = os.path.join(cwd, name + suffix + ".log")
                    with open(log, "w") as f:
                        f.write("an older run\n" * 1000)
                    status, _ = run((mode + "\nquit\n").encode(), path, timeout=10, cwd=cwd)
                    self.assertEqual(status, 0)
                    with open(log) as f:
                        self.assertEqual(f.read(), "> quit\n")

    def test_a_log_that_cannot_be_created_changes_nothing_else(self):
        for name, path in harness.programs():
            with self.subTest(program=name), tempfile.TemporaryDirectory() as cwd:
                os.mkdir(os.path.join(cwd, name + "_uci.log"))  # in the way of the file
                status, out = run(b"uci\nisready\nposition startpos moves e2e4\ngo depth 2\n", path, timeout=10, cwd=cwd)
                self.assertEqual(status, 0)
                self.assertEqual(out[5], "readyok")
                self.assertRegex(out[-1], r"bestmove [a-h][1-8][a-h][1-8]")


if __name__ == "__main__":
    harness.main()
