"""The search is deterministic: the bench's node-count signature is a fixed number, the same for the
64-bit, the 32-bit and the WebAssembly program. A change to it means the search's behaviour changed; if
that was meant, update GOLDEN together with the change. The perft mode's counts are the known ones in
every program."""
import os
import re
import subprocess
import unittest

import harness

DEPTH = 7
GOLDEN = "9960750354083613062"
GOLDEN_NODES = "7242532"
# The perft mode's suite: each position, then its colour-flipped twin (the same count).
PERFT_COUNTS = [119060324, 193690690, 34336777, 178633661]


def bench(path):
    out = subprocess.run(harness.command(path, "search", str(DEPTH)), stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                         timeout=600, check=True).stdout.decode()
    nodes = re.search(r"total nodes (\d+)", out).group(1)
    signature = re.search(r"signature (\d+)", out).group(1)
    return nodes, signature


class BenchSignature(unittest.TestCase):
    def test_signature_is_golden_in_every_build(self):
        benches = harness.bench_programs()
        self.assertTrue(benches, "no bench program built")
        for path in benches:
            with self.subTest(program=os.path.basename(path)):
                nodes, signature = bench(path)
                self.assertEqual(nodes, GOLDEN_NODES)
                self.assertEqual(signature, GOLDEN)


class PerftMode(unittest.TestCase):
    def test_suite_counts_are_the_known_ones(self):
        for name, path in harness.programs():
            with self.subTest(program=name):
                status, out = harness.run(b"perft\n", path, timeout=900)
                self.assertEqual(status, 0)
                counts = [int(m.group(1)) for m in (re.match(r"depth = \d+, nodes = +(\d+), time", l) for l in out) if m]
                self.assertEqual(counts, [n for n in PERFT_COUNTS for _ in range(2)])


if __name__ == "__main__":
    harness.main()
