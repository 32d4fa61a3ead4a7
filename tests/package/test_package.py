"""The packages that tools/package.sh makes: the four Debian packages, the Linux tarball, the Windows zip and
the npm package.

Each .deb is checked with lintian, unpacked into a scratch root with dpkg -x (nothing is installed on
the machine) and its program is started the way xboard starts it, by the plugin file's command (through
tools/launch: the ARM programs run under qemu-user). The tarball must hold the four programs statically
linked, each answering "uci" (the ARM ones under qemu-user with no library root). The zip must hold both
Windows programs and the two texts with CR LF line ends. The npm package is only looked for here:
tests/npm/ installs and uses it.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LAUNCH = os.path.join(ROOT, "tools", "launch")
PACKAGES = {}

# Debian architecture, program, ELF machine type of each package.
DEBS = {"amd64": ("Vorna_1_12_x64", 62), "i386": ("Vorna_1_12_w32", 3),
        "arm64": ("Vorna_1_12_arm64", 183), "armhf": ("Vorna_1_12_arm32", 40)}


def run(argv, timeout=300, **kw):
    return subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=timeout, **kw)


def setUpModule():
    res = run(["bash", os.path.join(ROOT, "tools", "package.sh")], cwd=ROOT, timeout=900)
    if res.returncode != 0:
        raise AssertionError("tools/package.sh failed:\n" + res.stdout + res.stderr)
    for line in res.stdout.splitlines():
        PACKAGES[os.path.basename(line)] = os.path.join(ROOT, line)
    expected = ["vorna_1.12_%s.deb" % arch for arch in DEBS] + ["vorna-1.12-linux.tar.gz", "vorna-1.12-windows.zip",
                                                                "vorna-1.12-web.zip", "vorna-1.12.0.tgz"]
    if sorted(PACKAGES) != sorted(expected) or not all(map(os.path.isfile, PACKAGES.values())):
        raise AssertionError("tools/package.sh should print the paths of %s: %r" % (expected, res.stdout))


def elf_machine_and_interpreter(data):
    """The ELF machine type of a little-endian program, and whether it names a program interpreter
    (is dynamically linked)."""
    assert data[:4] == b"\x7fELF" and data[5] == 1, "not a little-endian ELF program"
    wide = data[4] == 2
    machine = struct.unpack_from("<H", data, 18)[0]
    phoff, = struct.unpack_from("<Q" if wide else "<I", data, 32 if wide else 28)
    phentsize, phnum = struct.unpack_from("<HH", data, 54 if wide else 42)
    types = [struct.unpack_from("<I", data, phoff + i * phentsize)[0] for i in range(phnum)]
    return machine, 3 in types  # PT_INTERP


def uci_answer(argv, workdir, env=None):
    """Runs a program with "uci" and "quit" as its input: (exit status, output lines)."""
    res = subprocess.run(argv, input=b"uci\nquit\n", stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                         cwd=workdir, timeout=120)
    return res.returncode, res.stdout.decode("latin-1").splitlines()


class DebianPackages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.roots = {}
        for arch in DEBS:
            cls.roots[arch] = tempfile.mkdtemp(prefix="vorna-deb-root-%s-" % arch)
            res = run(["dpkg-deb", "-x", PACKAGES["vorna_1.12_%s.deb" % arch], cls.roots[arch]])
            assert res.returncode == 0, res.stderr

    @classmethod
    def tearDownClass(cls):
        for root in cls.roots.values():
            shutil.rmtree(root)

    def field(self, arch, name):
        return run(["dpkg-deb", "-f", PACKAGES["vorna_1.12_%s.deb" % arch], name]).stdout.strip()

    def test_lintian_finds_no_errors(self):
        for arch in DEBS:
            with self.subTest(arch=arch):
                res = run(["lintian", "--display-info", PACKAGES["vorna_1.12_%s.deb" % arch]])
                print("\nlintian, %s:\n%s" % (arch, res.stdout), end="", flush=True)
                self.assertEqual([line for line in res.stdout.splitlines() if line.startswith("E:")], [])
                self.assertIn(res.returncode, (0, 1), res.stderr)  # 1: warnings only

    def test_control_fields_and_files(self):
        for arch, (program, machine) in DEBS.items():
            with self.subTest(arch=arch):
                root = self.roots[arch]
                self.assertEqual((self.field(arch, "Package"), self.field(arch, "Section"),
                                  self.field(arch, "Architecture")), ("vorna", "games", arch))
                # From dpkg-shlibdeps, named as on a system of the package's architecture.
                self.assertRegex(self.field(arch, "Depends"), r"^libc6 \(>= [0-9.]+\)(, libgcc-s1 \(>= [0-9.]+\))?$")
                files = {os.path.relpath(os.path.join(d, f), root) for d, _, names in os.walk(root) for f in names}
                self.assertEqual(files, {
                    "usr/games/" + program, "usr/share/man/man6/%s.6.gz" % program,
                    "usr/share/games/plugins/xboard/vorna.eng", "usr/share/doc/vorna/README.md",
                    "usr/share/doc/vorna/copyright", "usr/share/doc/vorna/changelog.gz"})
                with open(os.path.join(root, "usr/games", program), "rb") as f:
                    self.assertEqual(elf_machine_and_interpreter(f.read()), (machine, True))
                man = run(["man", "--warnings", "-l", os.path.join(root, "usr/share/man/man6/%s.6.gz" % program)],
                          env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"))
                self.assertEqual((man.returncode, man.stderr), (0, ""), "man --warnings")
                self.assertIn("EXIT STATUS", man.stdout)
                self.assertRegex(man.stdout, r"^%s\(6\) " % program.upper())
                self.assertIn("xboard -fcp %s\n" % program, man.stdout)

    def test_plugin_file_starts_the_installed_engine(self):
        for arch, (program, _) in DEBS.items():
            with self.subTest(arch=arch):
                root = self.roots[arch]
                with open(os.path.join(root, "usr/share/games/plugins/xboard/vorna.eng"), "rb") as f:
                    lines = f.read().decode("ascii").split("\n")
                self.assertEqual(lines, ["plugin spec 0.0", program, "chess", ""],
                                 "three lines, each ending in a newline, the command found on PATH, in /usr/games")
                # The plugin's command, started as xboard starts it: by name, from a directory of its own
                # (through tools/launch, which runs a program of another machine under qemu-user).
                workdir = tempfile.mkdtemp(prefix="vorna-deb-run-")
                try:
                    path = os.path.join(root, "usr/games") + os.pathsep + "/usr/bin:/bin"
                    status, out = uci_answer([LAUNCH, shutil.which(lines[1], path=path)], workdir)
                    self.assertEqual(status, 0)
                    self.assertIn("id name %s UCI" % program.replace("Vorna_1_12_", "Vorna 1.12 "), out)
                    self.assertEqual(out[-1], "uciok")
                    self.assertEqual(os.listdir(workdir), [program + "_uci.log"])
                finally:
                    shutil.rmtree(workdir)


class LinuxTarball(unittest.TestCase):
    def test_tarball_holds_the_four_static_programs_each_answering_uci(self):
        folder = "vorna-1.12-linux/"
        programs = {program: machine for program, machine in DEBS.values()}
        with tempfile.TemporaryDirectory(prefix="vorna-tar-") as scratch:
            with tarfile.open(PACKAGES["vorna-1.12-linux.tar.gz"]) as tar:
                names = sorted(m.name for m in tar.getmembers() if m.isfile())
                self.assertEqual(names, sorted(folder + n for n in ["LICENSE.txt", "README.txt", *programs,
                                                                    *(p + ".6" for p in programs)]))
                # The "data" filter where this Python has it (3.11.4 and later): modes kept, no links out.
                tar.extractall(scratch, **({"filter": "data"} if hasattr(tarfile, "data_filter") else {}))
            for program, machine in programs.items():
                with self.subTest(program=program):
                    path = os.path.join(scratch, folder, program)
                    self.assertTrue(os.access(path, os.X_OK))
                    with open(path, "rb") as f:
                        data = f.read()
                    self.assertEqual(elf_machine_and_interpreter(data), (machine, False), "statically linked")
                    elf_type = struct.unpack_from("<H", data, 16)[0]
                    # Android starts position-independent programs only: the arm64 one is a static PIE.
                    self.assertEqual(elf_type, 3 if program.endswith("arm64") else 2, "ELF type")
                    # The ARM programs under qemu-user with no library root; the x86 ones as the kernel
                    # runs them (tools/launch: the 32-bit one emulated where the kernel refuses it).
                    qemu = {183: "qemu-aarch64", 40: "qemu-arm"}.get(machine)
                    argv = [qemu, path] if qemu else [LAUNCH, path]
                    workdir = os.path.join(scratch, "run-" + program)
                    os.mkdir(workdir)
                    status, out = uci_answer(argv, workdir, env={"PATH": "/usr/bin:/bin"})
                    self.assertEqual((status, out[-1]), (0, "uciok"))
                    self.assertIn("id name %s UCI" % program.replace("Vorna_1_12_", "Vorna 1.12 "), out)
            with open(os.path.join(scratch, folder, "LICENSE.txt"), "rb") as f:
                self.assertIn(b"MIT", f.read())


class WindowsZip(unittest.TestCase):
    def test_zip_holds_both_programs_and_texts_with_crlf(self):
        machines = {"Vorna_1_12_x64.exe": 0x8664, "Vorna_1_12_w32.exe": 0x14C}  # x86-64, i386
        with zipfile.ZipFile(PACKAGES["vorna-1.12-windows.zip"]) as z:
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


class WebZip(unittest.TestCase):
    def test_zip_holds_the_page_both_ways_and_the_engine_files(self):
        folder = "vorna-1.12-web/"
        with zipfile.ZipFile(PACKAGES["vorna-1.12-web.zip"]) as z:
            names = set(n[len(folder):] for n in z.namelist() if not n.endswith("/"))
            for name in ["vorna.html", "LICENSES.txt", "README.txt", "page/index.html", "page/page.js", "page/page.css",
                         "page/vorna-engine.js", "page/vorna-worker.js", "page/vorna-worker-messages.js",
                         "page/assets/pieces/standard.svg", "engine/vorna.js", "engine/vorna-engine.js",
                         "engine/vorna-worker.js", "engine/vorna-worker-messages.js"]:
                self.assertIn(name, names)
            licences = z.read(folder + "LICENSES.txt").decode()
            for what in ("== Vorna ==", "== cm-chessboard ==", "== chess.js ==", "CC BY-SA 3.0"):
                self.assertIn(what, licences)
            # The single file plays from disk: it refers to no other file (only fragments and data URLs).
            page = z.read(folder + "vorna.html").decode()
            refs = re.findall(r"""(?:src|href)\s*=\s*["']([^"']*)["']""", page)
            outside = [r for r in refs if not r.startswith(("#", "data:"))]
            self.assertEqual(outside, [], "vorna.html refers to other files")
            self.assertIn("VornaMessageInput", page, "the engine is inside")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], *sys.argv[1:]], verbosity=2)
