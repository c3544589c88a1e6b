#!/usr/bin/env python3
"""Installs the build into a scratch prefix (cmake --install) and uses it from there:
the files a desktop expects, --version on every command, and the installed player
playing from the installed stand-in service with the modules of the prefix.

    installed_test.py BUILD_DIR VERSION
"""

import contextlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

BUILD, VERSION = sys.argv[1], sys.argv[2]
APP = "org.sondrel.Sondrel"
PROGRAMS = ["sondrel", "sondrel-play", "sondrel-stream", "sondrel-service"]
ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256, 512]
TIMEOUT = 120  # seconds for anything to happen, on a busy machine


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", head[16:24])


class Lines:
    """A child's standard output, line by line, waited for with a deadline."""

    def __init__(self, process):
        self.process, self.seen = process, []
        os.set_blocking(process.stdout.fileno(), False)
        self.pending = b""

    def wait_for(self, prefix):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            chunk = self.process.stdout.read() or b""
            self.pending += chunk
            *done, self.pending = self.pending.split(b"\n")
            for line in done:
                self.seen.append(line.decode("utf-8", "replace"))
                if self.seen[-1].startswith(prefix):
                    return True
            if not chunk:
                if self.process.poll() is not None:
                    return False
                time.sleep(0.05)
        return False


class Installed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="sondrel-install-")
        cls.prefix = os.path.join(cls.tmp, "prefix")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix], check=True,
                       stdout=subprocess.DEVNULL, timeout=600)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.prefix, *parts)

    def run_tool(self, *args, **kwargs):
        return subprocess.run(list(args), capture_output=True, text=True, timeout=TIMEOUT,
                              **kwargs)

    def test_files_where_the_desktop_looks_for_them(self):
        expected = (["bin/" + p for p in PROGRAMS] +
                    ["lib/sondrel/sondrel-webengine.so", "lib/sondrel/sondrel-pulse-output.so",
                     "share/applications/%s.desktop" % APP, "share/metainfo/%s.metainfo.xml" % APP,
                     "share/icons/hicolor/scalable/apps/%s.svg" % APP,
                     "share/doc/sondrel/copyright", "share/doc/sondrel/changelog.gz"] +
                    ["share/man/man1/%s.1.gz" % p for p in PROGRAMS] +
                    ["share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, APP) for s in ICON_SIZES])
        for rel in expected:
            with self.subTest(rel):
                self.assertTrue(os.path.isfile(self.path(rel)))
        for program in PROGRAMS:
            self.assertTrue(os.access(self.path("bin", program), os.X_OK), program)
        for size in ICON_SIZES:
            icon = self.path("share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, APP))
            self.assertEqual(png_size(icon), (size, size))

    def test_every_command_tells_its_version(self):
        for program in PROGRAMS:
            with self.subTest(program):
                run = self.run_tool(self.path("bin", program), "--version")
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(run.stdout.strip(), "%s %s" % (program, VERSION))

    def test_desktop_entry_metadata_and_manual_pages_are_valid(self):
        desktop = self.path("share/applications/%s.desktop" % APP)
        metainfo = self.path("share/metainfo/%s.metainfo.xml" % APP)
        checks = [["desktop-file-validate", desktop],
                  ["appstreamcli", "validate", "--no-net", metainfo]]
        checks += [["man", "--warnings", "-l", "-Tutf8", self.path("share/man/man1/%s.1.gz" % p)]
                   for p in PROGRAMS]
        for check in checks:
            with self.subTest(" ".join(check[:2])):
                run = self.run_tool(*check, env=dict(os.environ, MANWIDTH="80"))
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                if check[0] != "appstreamcli":
                    self.assertEqual(run.stderr.strip(), "")  # warnings go to stderr
        with open(desktop, encoding="utf-8") as f:
            entry = f.read()
        self.assertIn("\nExec=sondrel\n", entry)
        self.assertIn("\nIcon=%s\n" % APP, entry)
        with open(metainfo, encoding="utf-8") as f:
            newest = f.read().split("<release ", 1)[1]
        self.assertIn('version="%s"' % VERSION, newest.split(">", 1)[0],
                      "the newest release in the metadata is not this version")

    def test_installed_player_plays_from_the_installed_service_with_its_modules(self):
        run_dir = os.path.join(self.tmp, "service")
        info = os.path.join(run_dir, "info.json")
        with self.child([self.path("bin/sondrel-service"), "--https-port", "0", "--http-port",
                         "0", "--info", info, "--cert-dir", os.path.join(run_dir, "cert"),
                         "--cache-dir", os.path.join(BUILD, "standin-cache"), "--demo-count",
                         "2", "--demo-seconds", "2"]) as service:
            self.assertTrue(Lines(service).wait_for("sondrel-service ready"))
            with open(info, encoding="utf-8") as f:
                origins = json.load(f)
            wav = os.path.join(self.tmp, "out.wav")
            base = [self.path("bin/sondrel-play"), "--api", origins["api_origin"], "--token",
                    "demo-token", "--ca-cert", origins["certificate"], "--autoplay"]
            # Into a file: the whole way from the service's answer to decoded sound.
            self.play(base + ["--output", "wav:" + wav], {}, ["playing", "now 0 "])
            self.assertGreater(os.path.getsize(wav), 44)
            # To the desktop's sound device, which is missing here: the sound module is
            # still loaded, and from the prefix (the build tree has one too).
            env = {"PULSE_SERVER": "unix:" + os.path.join(self.tmp, "no-sound-server")}
            maps = self.play(base, env, ["now 0 "], read_maps=True)
            self.assertIn(self.path("lib/sondrel/sondrel-pulse-output.so"), maps)

    @contextlib.contextmanager
    def child(self, command, env=None):
        """A child process with pipes, stopped (and waited for) however the test ends."""
        with subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              env=env) as process:
            try:
                yield process
            finally:
                if process.poll() is None:
                    process.terminate()
                    try:
                        process.wait(TIMEOUT)
                    except subprocess.TimeoutExpired:
                        process.kill()

    def play(self, command, env, lines, read_maps=False):
        env = dict(os.environ, **env)
        env.pop("SONDREL_MODULE_DIR", None)
        env.pop("SONDREL_AUDIO_OUTPUT", None)
        maps = ""
        with self.child(command, env) as player:
            out = Lines(player)
            for line in lines:
                self.assertTrue(out.wait_for(line), "\n".join(out.seen))
            deadline = time.monotonic() + TIMEOUT
            while read_maps and "sondrel-pulse-output" not in maps and \
                    time.monotonic() < deadline:
                with open("/proc/%d/maps" % player.pid, encoding="utf-8") as f:
                    maps = f.read()
                time.sleep(0.1)
            player.stdin.write(b"q\n")
            player.stdin.flush()
            self.assertEqual(player.wait(TIMEOUT), 0)
        return maps

if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
