#!/usr/bin/env python3
"""`cmake --install` into a temporary prefix: the whole bundle under libexec,
relative links in bin, launchers, icons, metainfo, manual pages and the
package's documents; the demo only in its own component; and the installer
built to recognise exactly the bundle the install puts down."""

import argparse
import gzip
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

ARGS = None


def programs_files(bundle, bindir):
    kovelbar = bundle + "/Contents/Resources/KovelBar.app"
    return {
        bundle + "/Contents/Info.plist": 0o644,
        bundle + "/Contents/MacOS/Kovel": 0o755,
        kovelbar + "/Contents/Info.plist": 0o644,
        kovelbar + "/Contents/MacOS/KovelBar": 0o755,
        bundle + "/Contents/Resources/kovel/kovel": 0o755,
        bindir + "/kovel": "link",
        bindir + "/kovelbar": "link",
        "share/applications/io.kovel.KovelBar.desktop": 0o644,
        "share/applications/io.kovel.Kovel.desktop": 0o644,
        "share/icons/hicolor/scalable/apps/io.kovel.KovelBar.svg": 0o644,
        "share/icons/hicolor/scalable/apps/io.kovel.Kovel.svg": 0o644,
        "share/metainfo/io.kovel.KovelBar.metainfo.xml": 0o644,
        "share/man/man1/kovel.1.gz": 0o644,
        "share/man/man1/kovelbar.1.gz": 0o644,
        "share/doc/kovel/copyright": 0o644,
        "share/doc/kovel/changelog.gz": 0o644,
    }


def demo_files(bundle):
    return {
        bundle + "/Contents/Resources/bootstrap.sh": 0o755,
        bundle + "/Contents/Resources/brain/kovel-demo-brain": 0o755,
    }


def installed(prefix):
    """Every file and link under prefix, relative, with its mode or "link"."""
    found = {}
    for folder, dirs, files in os.walk(prefix):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            relative = os.path.relpath(path, prefix)
            if stat.S_ISLNK(info.st_mode):
                found[relative] = "link"
            elif stat.S_ISDIR(info.st_mode):
                if stat.S_IMODE(info.st_mode) != 0o755:
                    found[relative + "/"] = oct(stat.S_IMODE(info.st_mode))
            else:
                found[relative] = stat.S_IMODE(info.st_mode)
    return found


class InstallLayout(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="kovel-install-")
        self.addCleanup(shutil.rmtree, self.root)

    def install(self, *component):
        prefix = os.path.join(self.root, "prefix" + "-".join(component))
        # A umask that would leave group-writable folders: the rules set modes themselves.
        old = os.umask(0o002)
        try:
            result = subprocess.run([ARGS.cmake, "--install", ARGS.build, "--prefix", prefix] + list(component),
                                    capture_output=True, text=True)
        finally:
            os.umask(old)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return prefix

    def test_whole_install(self):
        prefix = self.install()
        expected = programs_files(ARGS.bundle_dir, ARGS.bindir) | demo_files(ARGS.bundle_dir)
        self.assertEqual(installed(prefix), expected)

    def test_components(self):
        rows = [
            (["--component", "programs"], programs_files(ARGS.bundle_dir, ARGS.bindir)),
            (["--component", "demo"], demo_files(ARGS.bundle_dir)),
        ]
        for component, expected in rows:
            with self.subTest(component=component[1]):
                self.assertEqual(installed(self.install(*component)), expected)

    def test_commands_link_into_the_bundle(self):
        prefix = self.install()
        rows = [("kovel", ARGS.bundle_dir + "/Contents/MacOS/Kovel"),
                ("kovelbar", ARGS.bundle_dir + "/Contents/Resources/KovelBar.app/Contents/MacOS/KovelBar")]
        for command, program in rows:
            with self.subTest(command=command):
                link = os.path.join(prefix, ARGS.bindir, command)
                target = os.readlink(link)
                # Relative, so the tree works wherever it is unpacked (DESTDIR, a package).
                self.assertFalse(os.path.isabs(target), target)
                self.assertEqual(os.path.realpath(link), os.path.realpath(os.path.join(prefix, program)))

    def test_installer_recognises_the_installed_bundle(self):
        # The installer compiles in where the package puts its bundle; it must
        # be where this install puts it, under the configured prefix.
        self.assertEqual(os.path.normpath(ARGS.configured_bundle),
                         os.path.normpath(os.path.join(ARGS.prefix, ARGS.bundle_dir)))
        prefix = self.install()
        with open(os.path.join(prefix, ARGS.bundle_dir, "Contents/MacOS/Kovel"), "rb") as f:
            program = f.read()
        # A QStringLiteral: UTF-16 in the program's read-only data.
        wanted = (ARGS.configured_bundle + "\0").encode("utf-16-le")
        self.assertTrue(wanted in program, f"{ARGS.configured_bundle} is not compiled into the installed Kovel")

    def test_compressed_documents(self):
        prefix = self.install()
        for name in ("share/man/man1/kovel.1.gz", "share/man/man1/kovelbar.1.gz", "share/doc/kovel/changelog.gz"):
            with self.subTest(file=name):
                path = os.path.join(prefix, name)
                with open(path, "rb") as f:
                    header = f.read(10)
                # No file name or time stamp in the header: reproducible, as Debian asks.
                self.assertEqual(header[:2], b"\x1f\x8b")
                self.assertEqual(header[3] & 0x08, 0, "file name stored")
                self.assertEqual(header[4:8], b"\0\0\0\0", "time stamp stored")
                with gzip.open(path, "rt", encoding="utf-8") as f:
                    self.assertTrue(f.read().strip())


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--configured-bundle", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--bindir", required=True)
    parser.add_argument("--bundle-dir", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
