#!/usr/bin/env python3
"""scripts/check-deps on small source trees and package lists, against this machine's
real dpkg database: what it lets through and what it stops, with the reason."""

import os
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                     "check-deps")

# (case, CMakeLists.txt text, package lists, passes, words the failure must say)
CASES = [
    ("listed packages", "find_package(Qt6 REQUIRED COMPONENTS Core Svg)\n"
     "pkg_check_modules(M REQUIRED IMPORTED_TARGET libmpg123>=1.20)\n"
     "find_library(LAME mp3lame REQUIRED)\nfind_package(SQLite3)\nfind_package(Threads)\n",
     ["qt6-base-dev", "qt6-svg-dev", "libmpg123-dev", "libmp3lame-dev", "libsqlite3-dev"],
     True, []),
    ("pulled in by a listed package", "find_package(GTest REQUIRED)\n"
     "find_package(Qt6 REQUIRED COMPONENTS Widgets)\n",
     ["libgmock-dev", "qt6-webengine-dev"], True, []),
    ("installed by hand, not listed", "find_package(Qt6 REQUIRED COMPONENTS Core)\n"
     "find_package(Qt6 REQUIRED COMPONENTS WebEngineWidgets)\n",
     ["qt6-base-dev"], False,
     ["CMakeLists.txt:2", "Qt6 component WebEngineWidgets", "qt6-webengine-dev"]),
    ("pkg-config module not listed", "pkg_check_modules(X REQUIRED taglib)\n",
     ["qt6-base-dev"], False, ["pkg-config module taglib", "libtag1-dev"]),
    ("nothing installed has it", "find_package(Qt6 COMPONENTS NoSuchPart)\n",
     ["qt6-base-dev"], False, ["Qt6 component NoSuchPart", "no installed package"]),
    ("a program the tests look up", "find_program(V desktop-file-validate REQUIRED)\n",
     ["qt6-base-dev"], False, ["program desktop-file-validate", "desktop-file-utils"]),
    ("a commented-out look-up is no look-up", "# find_package(Qt6 COMPONENTS NoSuchPart)\n",
     ["qt6-base-dev"], True, []),
    ("a name hidden in a variable", "find_package(Qt6 COMPONENTS ${PARTS})\n",
     ["qt6-base-dev"], False, ["names a variable"]),
    ("a listed package that is not installed", "find_package(Threads)\n",
     ["qt6-base-dev", "no-such-package-here"], False, ["run scripts/setup",
                                                      "no-such-package-here"]),
]


class CheckDeps(unittest.TestCase):
    def test_cases(self):
        for name, cmake, packages, passes, says in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                os.makedirs(os.path.join(tmp, "src", "deps"))
                with open(os.path.join(tmp, "src", "CMakeLists.txt"), "w") as f:
                    f.write(cmake)
                with open(os.path.join(tmp, "src", "deps", "a.txt"), "w") as f:
                    f.write("# a comment\n" + "\n".join(packages) + "\n")
                run = subprocess.run([sys.executable, CHECK, "--source",
                                      os.path.join(tmp, "src"), "--deps",
                                      os.path.join(tmp, "src", "deps")],
                                     capture_output=True, text=True, timeout=120)
                self.assertEqual(run.returncode == 0, passes, run.stderr)
                for word in says:
                    self.assertIn(word, run.stderr)

    def test_this_tree_passes(self):
        run = subprocess.run([sys.executable, CHECK], capture_output=True, text=True,
                             timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)


if __name__ == "__main__":
    unittest.main()
