#!/usr/bin/env python3
"""The launchers the desktop shows: desktop entries that desktop-file-validate
accepts, naming the installed commands and icons by the programs' one id, and
AppStream metainfo that appstreamcli accepts."""

import argparse
import configparser
import os
import shutil
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET

ARGS = None

# desktop id, command in bin/
PROGRAMS = [("io.kovel.KovelBar", "kovelbar"), ("io.kovel.Kovel", "kovel")]


def tool(name, package):
    path = shutil.which(name)
    if path is None:
        raise AssertionError(f"{name} is missing: apt-get install {package} (scripts/test installs it)")
    return path


def read_entry(path):
    entry = configparser.ConfigParser(interpolation=None, strict=True)
    entry.optionxform = str  # keys are case-sensitive
    with open(path, encoding="utf-8") as f:
        entry.read_file(f)
    return entry["Desktop Entry"]


class Launchers(unittest.TestCase):
    def test_desktop_entries(self):
        validate = tool("desktop-file-validate", "desktop-file-utils")
        for identifier, command in PROGRAMS:
            with self.subTest(entry=identifier):
                path = os.path.join(ARGS.data, identifier + ".desktop")
                result = subprocess.run([validate, path], capture_output=True, text=True)
                # It prints hints and errors alike; a clean entry prints nothing.
                self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
                entry = read_entry(path)
                self.assertEqual(entry["Type"], "Application")
                self.assertEqual(entry["Exec"], command)
                self.assertEqual(entry["TryExec"], command)
                self.assertEqual(entry["Icon"], identifier)
                self.assertEqual(entry["Terminal"], "false")
                self.assertTrue(os.path.isfile(os.path.join(ARGS.data, identifier + ".svg")))

    def test_icons_are_square_svg(self):
        for identifier, _ in PROGRAMS:
            with self.subTest(icon=identifier):
                root = ET.parse(os.path.join(ARGS.data, identifier + ".svg")).getroot()
                self.assertEqual(root.tag, "{http://www.w3.org/2000/svg}svg")
                x, y, width, height = (float(v) for v in root.get("viewBox").split())
                self.assertEqual(width, height)

    def test_metainfo(self):
        appstreamcli = tool("appstreamcli", "appstream")
        result = subprocess.run([appstreamcli, "validate", "--no-net", ARGS.metainfo],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        for severity in ("E:", "W:"):
            self.assertNotIn("\n" + severity, "\n" + result.stdout)
        root = ET.parse(ARGS.metainfo).getroot()
        self.assertEqual(root.findtext("id"), "io.kovel.KovelBar")
        self.assertEqual(root.find("launchable").text, "io.kovel.KovelBar.desktop")
        self.assertEqual(sorted(b.text for b in root.iter("binary")), ["kovel", "kovelbar"])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--data", required=True)
    parser.add_argument("--metainfo", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
