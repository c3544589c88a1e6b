#!/usr/bin/python3
"""The player as a screen reader meets it, over the desktop's accessibility bus (AT-SPI).

    tests/window/screen_reader_atspi.py BUILD_DIR

Starts a private desktop: Xvfb, a session bus without service folders, the accessibility
bus (at-spi-bus-launcher and its registry), the stand-in service on loopback and the
player signed in with the demo token and registered on the accessibility bus. Then,
through pyatspi, it finds the player's application, walks its tree, checks the controls'
names and roles and the song list's rows against the service's own list, presses a row
as a screen reader does and waits for that row to say it plays. Exits 0 when all holds.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
WAIT = 60.0  # generous: the machine may be busy; nothing here measures time

# (role, name) pairs the window must show, as AT-SPI names the roles.
CONTROLS = [
    ("push button", "Previous song"),
    ("push button", "Play"),
    ("push button", "Next song"),
    ("slider", "Position"),
    ("slider", "Volume"),
    ("text", "Search"),
    ("push button", "Repeat"),
    ("push button", "Shuffle"),
    ("push button", "Status broadcast"),
    ("push button", "Sign in"),
    ("list", "Songs"),
]


def wait_for(check, timeout=WAIT, step=0.1):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = check()
        if value:
            return value
        time.sleep(step)
    return None


class Checks:
    """Prints each check as it is made and keeps the failed ones; report() ends the run."""

    def __init__(self):
        self.failures = []

    def __call__(self, condition, what):
        print(("ok   " if condition else "FAIL ") + what, flush=True)
        if not condition:
            self.failures.append(what)

    def report(self):
        print(f"{len(self.failures)} failed" if self.failures else "all checks passed")
        return 1 if self.failures else 0


def clock(seconds):
    seconds = int(seconds)
    if seconds >= 3600:
        return f"{seconds // 3600:02d}:{seconds // 60 % 60:02d}:{seconds % 60:02d}"
    return f"{seconds // 60:02d}:{seconds % 60:02d}"


class Desktop:
    def __init__(self, build, tmp):
        self.procs = []
        self.env = dict(os.environ)
        for key in ("WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "SONDREL_AUDIO_OUTPUT"):
            self.env.pop(key, None)
        for name in ("config", "data", "cache", "runtime"):
            os.makedirs(os.path.join(tmp, name))
        os.chmod(os.path.join(tmp, "runtime"), 0o700)
        self.env.update(XDG_CONFIG_HOME=os.path.join(tmp, "config"),
                        XDG_DATA_HOME=os.path.join(tmp, "data"),
                        XDG_CACHE_HOME=os.path.join(tmp, "cache"),
                        XDG_RUNTIME_DIR=os.path.join(tmp, "runtime"),
                        QT_QPA_PLATFORM="xcb", SONDREL_AUDIO_OUTPUT="null",
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")

        read_fd, write_fd = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
                    "-nolisten", "tcp"], pass_fds=(write_fd,))
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            self.env["DISPLAY"] = ":" + f.readline().strip()

        bus = self.start(["dbus-daemon", "--config-file", os.path.join(HERE, "session-bus.conf"),
                          "--print-address", "--nofork"], stdout=subprocess.PIPE)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        # The accessibility bus, as a desktop session starts it; its registry is started
        # on demand from the accessibility bus's own service folder.
        self.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        if not wait_for(self.a11y_bus_address):
            sys.exit("the accessibility bus did not start")

        info = os.path.join(tmp, "service.json")
        self.start([os.path.join(build, "tools/sondrel-service/sondrel-service"),
                    "--https-port", "0", "--http-port", "0", "--info", info,
                    "--cert-dir", os.path.join(tmp, "cert"),
                    "--cache-dir", os.path.join(build, "standin-cache")])
        if not wait_for(lambda: os.path.exists(info) and os.path.getsize(info) > 0, 180):
            sys.exit("sondrel-service did not start")
        self.service = wait_for(lambda: self.read_json(info))
        self.env["SONDREL_SERVICE_INFO"] = info

        self.player = self.start([os.path.join(build, "src/app/sondrel"),
                                  "--token", "demo-token"])

    def start(self, argv, stdout=subprocess.DEVNULL, pass_fds=()):
        proc = subprocess.Popen(argv, env=self.env, stdout=stdout, stderr=subprocess.DEVNULL,
                                pass_fds=pass_fds, text=True)
        self.procs.append(proc)
        return proc

    def a11y_bus_address(self):
        answer = subprocess.run(
            ["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus",
             "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
            env=self.env, capture_output=True, text=True)
        return answer.stdout.strip() if answer.returncode == 0 else None

    @staticmethod
    def read_json(path):
        try:
            with open(path) as f:
                return json.load(f)
        except (OSError, ValueError):
            return None

    def own_list(self):
        url = f"{self.service['api_http_origin']}/method/audio.get?access_token=demo-token"
        with urllib.request.urlopen(url, timeout=30) as answer:
            return json.load(answer)["response"]

    def close(self):
        for proc in reversed(self.procs):
            proc.terminate()
            try:
                proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()


class ScreenReader:
    """Reads the player's tree the way a screen reader does, through pyatspi."""

    def __init__(self, pyatspi, pid):
        self.pyatspi = pyatspi
        self.pid = pid

    def application(self):
        desktop = self.pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.get_process_id() == self.pid:
                return app
        return None

    def walk(self, node, depth=0):
        yield node
        if depth > 25:
            return
        for i in range(node.childCount):
            child = node.getChildAtIndex(i)
            if child is not None:
                yield from self.walk(child, depth + 1)

    def find(self, root, role, name):
        for node in self.walk(root):
            if node.getRoleName() == role and node.name == name:
                return node
        return None


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    tmp = tempfile.mkdtemp(prefix="sondrel-atspi-")
    desktop = Desktop(build, tmp)
    check = Checks()
    try:
        # pyatspi finds the accessibility bus through the session bus named here.
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = desktop.env["DBUS_SESSION_BUS_ADDRESS"]
        os.environ["DISPLAY"] = desktop.env["DISPLAY"]
        import pyatspi
        reader = ScreenReader(pyatspi, desktop.player.pid)
        app = wait_for(reader.application)
        if app is None:
            sys.exit("the player did not appear on the accessibility bus")
        songs = desktop.own_list()
        songs_list = wait_for(lambda: reader.find(app, "list", "Songs"))
        check(songs_list is not None, "the window has a list named Songs")
        if songs_list is None:
            return 1
        wait_for(lambda: songs_list.childCount == len(songs))

        names = {(node.getRoleName(), node.name) for node in reader.walk(app)}
        for role, name in CONTROLS:
            check((role, name) in names, f"a {role} named {name!r}")
        play = reader.find(app, "push button", "Play")
        check(play is not None and play.description != "", "the play button is described")

        check(songs_list.childCount == len(songs),
              f"the list has one row per song ({songs_list.childCount} of {len(songs)})")
        for i, song in enumerate(songs[:songs_list.childCount]):
            row = songs_list.getChildAtIndex(i)
            text = row.name
            check(row.getRoleName() == "list item" and
                  re.fullmatch(r".+ - .+, " + re.escape(clock(song["duration"])), text)
                  is not None, f"row {i} reads {text!r}")
            check(row.description == "", f"row {i} is not playing")

        # Repeat is a toggle: off, and on once pressed through its action.
        repeat = reader.find(app, "push button", "Repeat")
        check(not repeat.getState().contains(pyatspi.STATE_CHECKED), "repeat is off")
        repeat.queryAction().doAction(0)
        check(wait_for(lambda: repeat.getState().contains(pyatspi.STATE_CHECKED)) is not None,
              "repeat is on once pressed")

        # Press the third row as a screen reader does: it plays, and says so.
        row = songs_list.getChildAtIndex(2)
        action = row.queryAction()
        names_of_actions = [action.getName(i) for i in range(action.nActions)]
        check("Press" in names_of_actions, f"a row offers Press ({names_of_actions})")
        action.doAction(names_of_actions.index("Press"))
        check(wait_for(lambda: row.description == "playing") is not None,
              f"the pressed row says it plays ({row.description!r})")
        check(row.getState().contains(pyatspi.STATE_SELECTED), "the playing row is selected")
        check(wait_for(lambda: reader.find(app, "push button", "Pause")) is not None,
              "the play button is now named Pause")

        # The keyboard in the list: the row under the cursor is the focused one.
        window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid",
                                 str(desktop.player.pid)], env=desktop.env,
                                capture_output=True, text=True, timeout=WAIT).stdout.split()
        subprocess.run(["xdotool", "windowfocus", "--sync", window[-1]], env=desktop.env,
                       timeout=WAIT)

        def focused_row():
            for i in range(songs_list.childCount):
                if songs_list.getChildAtIndex(i).getState().contains(pyatspi.STATE_FOCUSED):
                    return i + 1  # truthy for row 0 too
            return None
        for keys, row in ((["Home"], 0), (["Down"], 1), (["Down", "Down", "Up"], 2)):
            subprocess.run(["xdotool", "key", "--delay", "50"] + keys, env=desktop.env,
                           timeout=WAIT)
            check(wait_for(lambda: focused_row() == row + 1) is not None,
                  f"after {'+'.join(keys)} row {row} has the focus (row {(focused_row() or 0) - 1})")

        # Quitting with the reader attached tears every interface down cleanly.
        subprocess.run(["xdotool", "key", "ctrl+q"], env=desktop.env, timeout=WAIT)
        try:
            code = desktop.player.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            code = None
        check(code == 0, f"the player quits cleanly (exit {code})")
    finally:
        desktop.close()
        shutil.rmtree(tmp, ignore_errors=True)
    return check.report()


if __name__ == "__main__":
    sys.exit(main())
