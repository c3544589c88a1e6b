#!/usr/bin/env python3
"""Builds the Debian package with CPack into a scratch folder and reads it back: its
name, the dependencies dpkg-shlibdeps found (the modules' included), what it installs,
and lintian's verdict (no errors).

    package_test.py BUILD_DIR VERSION
"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD, VERSION = sys.argv[1], sys.argv[2]


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="sondrel-package-")
        subprocess.run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B",
                        cls.tmp], check=True, stdout=subprocess.DEVNULL, timeout=900)
        cls.debs = glob.glob(os.path.join(cls.tmp, "*.deb"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def dpkg_deb(self, option, *fields):
        return subprocess.run(["dpkg-deb", option] + self.debs[:1] + list(fields), check=True,
                              capture_output=True, text=True).stdout

    def test_name_dependencies_and_contents(self):
        self.assertEqual([os.path.basename(d) for d in self.debs],
                         ["sondrel_%s_amd64.deb" % VERSION])
        depends = self.dpkg_deb("-f", "Depends")
        # One library of each program and of each module, as dpkg-shlibdeps names them.
        for package in ["libqt6widgets6", "libqt6svg6", "libmpg123-0", "libavcodec59",
                        "libtag1v5", "libqt6webenginewidgets6", "libpulse0"]:
            with self.subTest(package):
                self.assertIn(package, depends)
        contents = self.dpkg_deb("-c")
        for path in ["./usr/bin/sondrel", "./usr/bin/sondrel-service",
                     "./usr/lib/sondrel/sondrel-webengine.so",
                     "./usr/share/applications/org.sondrel.Sondrel.desktop",
                     "./usr/share/doc/sondrel/copyright"]:
            with self.subTest(path):
                self.assertIn(path + "\n", contents)

    def test_lintian_finds_no_error(self):
        run = subprocess.run(["lintian", "--no-tag-display-limit"] + self.debs,
                             capture_output=True, text=True, timeout=600)
        errors = [line for line in run.stdout.splitlines() if line.startswith("E:")]
        self.assertEqual(errors, [], run.stdout + run.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
