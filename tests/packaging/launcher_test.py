#!/usr/bin/python3
"""The launcher /usr/bin/vellumark run for real against installed program folders made here.

The installed "program" is a small shell script carrying the version mark the launcher reads
from real programs; started, it writes down the folder it runs in, so the test sees where the
launcher started it.

    launcher_test.py LAUNCHER
"""

import hashlib
import os
import stat
import subprocess
import sys
import tempfile
import unittest

LAUNCHER = None


def program(version, body="x"):
    return (
        "#!/bin/sh\n"
        "# VELLUMARK-PROGRAM-VERSION %s\n"
        "# %s\n"
        'pwd > "$(dirname "$0")/started-in"\n'
        'printf "%%s\\n" "$*" > "$(dirname "$0")/arguments"\n' % (version, body)
    ).encode()


class Installed:
    """An installed program folder with its manifest, as the package lays it out."""

    def __init__(self, root, files):
        self.dir = os.path.join(root, "lib")
        os.makedirs(self.dir, exist_ok=True)
        for old in os.listdir(self.dir):
            if os.path.isfile(os.path.join(self.dir, old)):
                os.unlink(os.path.join(self.dir, old))
        lines = []
        for name, data in sorted(files.items()):
            path = os.path.join(self.dir, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            os.chmod(path, 0o755)
            lines.append("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name))
        with open(os.path.join(self.dir, "program-folder.sha256"), "w") as f:
            f.writelines(lines)


class LauncherTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="vm-launcher-")
        self.root = self.tmp.name
        self.home = os.path.join(self.root, "home", "user")
        os.makedirs(self.home)

    def tearDown(self):
        for dirpath, dirnames, _ in os.walk(self.root):
            for d in dirnames:
                os.chmod(os.path.join(dirpath, d), 0o755)
        self.tmp.cleanup()

    def install(self, version, engine=b"engine 1", extra=None):
        files = {"vellumark": program(version), "up.exe": engine, "ruffle/ruffle.js": b"js"}
        files.update(extra or {})
        return Installed(self.root, files)

    def run_launcher(self, env=None, args=()):
        environment = {"PATH": os.environ["PATH"], "HOME": self.home, "VELLUMARK_LIBDIR": os.path.join(self.root, "lib")}
        environment.update(env or {})
        return subprocess.run([LAUNCHER, *args], env=environment, capture_output=True, text=True, timeout=60)

    def folder(self, *parts):
        return os.path.join(self.home, "Vellumark", *parts)

    def read(self, *parts):
        with open(self.folder(*parts), "rb") as f:
            return f.read()

    def test_first_start_lays_out_the_folder_and_starts_the_program_there(self):
        self.install("1.4")
        result = self.run_launcher(args=["a b"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.read("started-in").decode().strip(), self.folder())
        self.assertEqual(self.read("arguments"), b"a b\n")
        self.assertEqual(self.read("up.exe"), b"engine 1")
        self.assertEqual(self.read("ruffle", "ruffle.js"), b"js")
        self.assertTrue(os.stat(self.folder("vellumark")).st_mode & stat.S_IXUSR)
        with open(os.path.join(self.root, "lib", "program-folder.sha256"), "rb") as f:
            self.assertEqual(self.read(".package.sha256"), f.read())
        leftovers = [n for n in os.listdir(self.folder()) if ".part-" in n]
        self.assertEqual(leftovers, [])

    def test_updates_follow_the_package_but_keep_a_newer_program_of_the_engine(self):
        self.install("1.4")
        self.assertEqual(self.run_launcher().returncode, 0)
        # The user's own files are never touched.
        os.makedirs(self.folder("set"))
        with open(self.folder("set", "Start.ini"), "wb") as f:
            f.write(b"[x]\n")

        # A newer package reaches the folder; a deleted file comes back.
        self.install("1.4.1", engine=b"engine 2")
        os.unlink(self.folder("ruffle", "ruffle.js"))
        self.assertEqual(self.run_launcher().returncode, 0)
        self.assertIn(b"1.4.1", self.read("vellumark"))
        self.assertEqual(self.read("up.exe"), b"engine 2")
        self.assertEqual(self.read("ruffle", "ruffle.js"), b"js")

        # The engine installs program 1.6 over the package's 1.4.1.
        with open(self.folder("vellumark"), "wb") as f:
            f.write(program("1.6", "from main.7z"))
        self.assertEqual(self.run_launcher().returncode, 0)
        self.assertIn(b"from main.7z", self.read("vellumark"))

        # An older package (1.5) does not undo it; its untouched files still follow.
        self.install("1.5", engine=b"engine 3")
        self.assertEqual(self.run_launcher().returncode, 0)
        self.assertIn(b"from main.7z", self.read("vellumark"))
        self.assertEqual(self.read("up.exe"), b"engine 3")
        self.assertEqual(self.read("set", "Start.ini"), b"[x]\n")

        # A package newer than the engine's program replaces it.
        self.install("1.10", engine=b"engine 4")
        self.assertEqual(self.run_launcher().returncode, 0)
        self.assertIn(b"1.10", self.read("vellumark"))
        self.assertEqual(self.read("up.exe"), b"engine 4")
        self.assertEqual(self.read("set", "Start.ini"), b"[x]\n")

    def test_folders_that_cannot_be_used_get_a_clear_message(self):
        self.install("1.4")
        locked = os.path.join(self.root, "locked")
        os.makedirs(locked)
        os.chmod(locked, 0o555)
        a_file = os.path.join(self.root, "a-file")
        open(a_file, "w").close()
        cases = {
            "under a file": ({"VELLUMARK_HOME": os.path.join(a_file, "Vellumark")}, "无法写入程序文件夹"),
            "temp": ({"VELLUMARK_HOME": os.path.join(self.root, "Templates", "vm")}, '"temp"'),
            "local": ({"HOME": os.path.join(self.root, ".LOCAL")}, '"local"'),
            "no home": ({"HOME": ""}, "VELLUMARK_HOME"),
        }
        if os.geteuid() != 0:  # root writes anywhere
            cases["read-only"] = ({"VELLUMARK_HOME": os.path.join(locked, "Vellumark")}, "无法写入程序文件夹")
        for name, (env, says) in cases.items():
            with self.subTest(name):
                result = self.run_launcher(env=env)
                self.assertEqual(result.returncode, 1)
                self.assertIn(says, result.stderr)
        self.assertEqual(os.listdir(locked), [])
        self.assertFalse(os.path.exists(os.path.join(self.root, "Templates")))
        self.assertFalse(os.path.exists(os.path.join(self.root, ".LOCAL")))

    def test_a_damaged_installation_is_named(self):
        os.makedirs(os.path.join(self.root, "lib"))
        result = self.run_launcher()
        self.assertEqual(result.returncode, 1)
        self.assertIn("program-folder.sha256", result.stderr)


if __name__ == "__main__":
    LAUNCHER = sys.argv.pop(1)
    unittest.main(verbosity=2)
