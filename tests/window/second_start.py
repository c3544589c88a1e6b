#!/usr/bin/python3
"""A second start of the player shows the first one's window instead of opening another.

    tests/window/second_start.py BUILD_DIR

On the same private desktop as the screen reader test (Xvfb, a session bus without
service folders, the stand-in service), with the player signed in and its window shown,
`sondrel` is started again: that start must end with status 0 and the log line it writes
once the first player has answered its Activate call, while the first player keeps
running with its one window. (Whether the raised window also gets the focus is the window
manager's decision; there is none here.) Exits 0 when all holds.
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from screen_reader_atspi import WAIT, Checks, Desktop, wait_for  # noqa: E402


def xdotool(env, *args):
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True,
                          timeout=WAIT).stdout.strip()


def main():
    build = os.path.abspath(sys.argv[1])
    tmp = tempfile.mkdtemp(prefix="sondrel-second-start-")
    check = Checks()
    desktop = Desktop(build, tmp)
    try:
        first = desktop.player
        window = wait_for(lambda: xdotool(desktop.env, "search", "--onlyvisible", "--pid",
                                          str(first.pid)).split())
        check(bool(window), "the first player shows its window")
        if not window:
            return 1
        second = subprocess.run([os.path.join(build, "src/app/sondrel"), "--token", "demo-token"],
                                env=desktop.env, capture_output=True, text=True, timeout=WAIT)
        check(second.returncode == 0, f"the second start ends with status 0 ({second.returncode})")
        check("Sondrel is already running: its window is shown instead" in second.stderr,
              "the second start says why it ends")
        check(first.poll() is None, "the first player keeps running")
        windows = xdotool(desktop.env, "search", "--onlyvisible", "--name", "^Sondrel$").split()
        check(len(windows) == 1, f"one player window on the screen ({len(windows)})")
    finally:
        desktop.close()
        shutil.rmtree(tmp, ignore_errors=True)
    return check.report()


if __name__ == "__main__":
    sys.exit(main())
