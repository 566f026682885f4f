#!/usr/bin/env python3
"""Both built bundles carry an Info.plist that macOS can launch them by:
read with a real property-list reader, every key the system needs."""

import argparse
import os
import plistlib
import sys
import unittest

ARGS = None

# bundle path inside the build's Kovel.app, identifier, executable, menu-bar-only
BUNDLES = [
    ("", "io.kovel.Kovel", "Kovel", False),
    ("/Contents/Resources/KovelBar.app", "io.kovel.KovelBar", "KovelBar", True),
]


class BundlePlists(unittest.TestCase):
    def test_bundles(self):
        for inner, identifier, executable, menu_bar_only in BUNDLES:
            with self.subTest(bundle=executable):
                bundle = ARGS.bundle + inner
                path = os.path.join(bundle, "Contents", "Info.plist")
                self.assertTrue(os.path.isfile(path), f"{path} is missing")
                with open(path, "rb") as f:
                    plist = plistlib.load(f)
                self.assertEqual(plist.get("CFBundleExecutable"), executable)
                program = os.path.join(bundle, "Contents", "MacOS", plist["CFBundleExecutable"])
                self.assertTrue(os.access(program, os.X_OK), f"{program} is not an executable")
                self.assertEqual(plist.get("CFBundleIdentifier"), identifier)
                self.assertEqual(plist.get("CFBundleName"), executable)
                self.assertEqual(plist.get("CFBundlePackageType"), "APPL")
                self.assertEqual(plist.get("CFBundleInfoDictionaryVersion"), "6.0")
                self.assertEqual(plist.get("CFBundleShortVersionString"), ARGS.version)
                self.assertEqual(plist.get("LSMinimumSystemVersion"), "26.0")
                self.assertIs(plist.get("NSHighResolutionCapable"), True)
                if menu_bar_only:
                    self.assertIs(plist.get("LSUIElement"), True)
                else:
                    self.assertNotIn("LSUIElement", plist)
                for key, value in plist.items():
                    self.assertNotIn("@", str(value), f"{key} was not filled in")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--bundle", required=True)
    parser.add_argument("--version", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
