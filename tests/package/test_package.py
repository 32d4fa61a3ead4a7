"""The packages that tools/package.sh makes: the Debian package and the Windows zip.

The .deb is checked with lintian, unpacked into a scratch root with dpkg -x (nothing is installed on
the machine) and its program is started the way xboard starts it, by the plugin file's command. The
zip must hold both Windows programs and the two texts with CR LF line ends.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGES = {}


def run(argv, **kw):
    return subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=300, **kw)


def setUpModule():
    res = run(["bash", os.path.join(ROOT, "tools", "package.sh")], cwd=ROOT)
    if res.returncode != 0:
        raise AssertionError("tools/package.sh failed:\n" + res.stdout + res.stderr)
    for line in res.stdout.splitlines():
        PACKAGES[os.path.splitext(line)[1]] = os.path.join(ROOT, line)
    if sorted(PACKAGES) != [".deb", ".zip"] or not all(map(os.path.isfile, PACKAGES.values())):
        raise AssertionError("tools/package.sh should print the paths of a .deb and a .zip: %r" % res.stdout)


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.deb = PACKAGES[".deb"]
        cls.root = tempfile.mkdtemp(prefix="vorna-deb-root-")
        res = run(["dpkg-deb", "-x", cls.deb, cls.root])
        assert res.returncode == 0, res.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def field(self, name):
        return run(["dpkg-deb", "-f", self.deb, name]).stdout.strip()

    def test_lintian_finds_no_errors(self):
        res = run(["lintian", "--display-info", self.deb])
        print("\nlintian:\n" + res.stdout, end="", flush=True)
        self.assertEqual([line for line in res.stdout.splitlines() if line.startswith("E:")], [])
        self.assertIn(res.returncode, (0, 1), res.stderr)  # 1: warnings only

    def test_control_fields_and_files(self):
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        self.assertEqual((self.field("Package"), self.field("Section"), self.field("Architecture")),
                         ("vorna", "games", arch))
        self.assertRegex(self.field("Depends"), r"^libc6 \(>= [0-9.]+\)")
        files = {os.path.relpath(os.path.join(d, f), self.root)
                 for d, _, names in os.walk(self.root) for f in names}
        self.assertEqual(files, {
            "usr/games/Vorna_1_12_x64", "usr/share/man/man6/Vorna_1_12_x64.6.gz",
            "usr/share/games/plugins/xboard/vorna.eng", "usr/share/doc/vorna/README.md",
            "usr/share/doc/vorna/copyright", "usr/share/doc/vorna/changelog.gz"})
        man = run(["man", "--warnings", "-l", os.path.join(self.root, "usr/share/man/man6/Vorna_1_12_x64.6.gz")],
                  env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"))
        self.assertEqual((man.returncode, man.stderr), (0, ""), "man --warnings")
        self.assertIn("EXIT STATUS", man.stdout)

    def test_plugin_file_starts_the_installed_engine(self):
        with open(os.path.join(self.root, "usr/share/games/plugins/xboard/vorna.eng"), "rb") as f:
            lines = f.read().decode("ascii").split("\n")
        self.assertEqual(len(lines), 4, "three lines, each ending in a newline: %r" % lines)
        self.assertEqual(lines[0], "plugin spec 0.0")
        self.assertEqual(lines[1], "Vorna_1_12_x64")  # found on PATH, in /usr/games
        self.assertEqual(lines[2], "chess")
        self.assertEqual(lines[3], "")
        # The plugin's command, started as xboard starts it: by name, from a directory of its own.
        workdir = tempfile.mkdtemp(prefix="vorna-deb-run-")
        try:
            env = dict(os.environ, PATH=os.path.join(self.root, "usr/games") + os.pathsep + "/usr/bin:/bin")
            res = subprocess.run(lines[1].split(), input=b"uci\nquit\n", stdout=subprocess.PIPE, env=env,
                                 cwd=workdir, timeout=60)
            out = res.stdout.decode("latin-1").splitlines()
            self.assertEqual(res.returncode, 0)
            self.assertIn("id name Vorna 1.12 x64 UCI", out)
            self.assertEqual(out[-1], "uciok")
            self.assertEqual(os.listdir(workdir), ["Vorna_1_12_x64_uci.log"])
        finally:
            shutil.rmtree(workdir)


class WindowsZip(unittest.TestCase):
    def test_zip_holds_both_programs_and_texts_with_crlf(self):
        machines = {"Vorna_1_12_x64.exe": 0x8664, "Vorna_1_12_w32.exe": 0x14C}  # x86-64, i386
        with zipfile.ZipFile(PACKAGES[".zip"]) as z:
            names = sorted(n for n in z.namelist() if not n.endswith("/"))
            folder = "vorna-1.12-windows/"
            self.assertEqual(names, sorted(folder + n for n in ["LICENSE.txt", "README.txt", *machines]))
            for exe, machine in machines.items():
                data = z.read(folder + exe)
                self.assertEqual(data[:2], b"MZ", exe)
                pe = struct.unpack_from("<I", data, 0x3C)[0]
                self.assertEqual(data[pe:pe + 4], b"PE\0\0", exe)
                self.assertEqual(struct.unpack_from("<H", data, pe + 4)[0], machine, exe)
            for text in ("README.txt", "LICENSE.txt"):
                data = z.read(folder + text)
                self.assertTrue(data.endswith(b"\r\n"), text)
                self.assertIsNone(re.search(rb"(?<!\r)\n|\r(?!\n)", data), text + ": a line end other than CR LF")
            self.assertIn(b"MIT", z.read(folder + "LICENSE.txt"))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
