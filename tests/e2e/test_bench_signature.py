"""The search is deterministic: the bench's node-count signature is a fixed number, the same for the
64-bit, the 32-bit and the WebAssembly program. A change to it means the search's behaviour changed; if
that was meant, update GOLDEN together with the change."""
import os
import re
import subprocess
import unittest

import harness

DEPTH = 7
GOLDEN = "9960750354083613062"
GOLDEN_NODES = "7242532"


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


if __name__ == "__main__":
    harness.main()
