#!/usr/bin/env python3
"""Quits while playing, many times, through a private PulseAudio server: counts the runs
that end in a crash, an abort, another exit status or a hang.

    bench/playback/run_quit_bench.py BUILD_DIR [--runs N] [--window-runs M] [--seed S] [--term]

  sondrel-play   `--output pulse --autoplay`, `q` on stdin a random 0-1 s after "playing"
  the window     `sondrel --token demo-token` under Xvfb with the default output, Space to
                 play, Ctrl+Q a random 0-1 s after its stream shows up on the server

With --term the quit is SIGTERM instead (a session logging out), and a window run is clean
only if the place in the song was saved too ("lastPlaybackPosition" in its settings).
A run is clean when the process exits with status 0 within 30 s of the quit. Needs
pulseaudio, pactl, Xvfb, dbus-daemon and xdotool (the window part). Prints a table.
"""
import argparse
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "window"))

from run_playback_bench import Env, monotonic, write_list  # noqa: E402
from run_window_bench import Desktop  # noqa: E402

QUIT_TIMEOUT = 30


def outcome(proc, stderr_path):
    """'clean', 'hang', 'SIGSEGV'-style signal names or 'exit N'."""
    try:
        code = proc.wait(timeout=QUIT_TIMEOUT)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return "hang"
    if code == 0:
        return "clean"
    if code < 0:
        return signal.Signals(-code).name
    with open(stderr_path, errors="replace") as f:
        tail = f.read()[-300:].strip().replace("\n", " | ")
    return f"exit {code} ({tail})"


def read_until(proc, word, timeout):
    os.set_blocking(proc.stdout.fileno(), False)
    end = monotonic() + timeout
    buffered = b""
    while monotonic() < end and proc.poll() is None:
        chunk = proc.stdout.read()
        if chunk:
            buffered += chunk
            if any(line == word for line in buffered.decode(errors="replace").split("\n")):
                return True
        time.sleep(0.01)
    return False


def place_saved(config):
    for folder, _, files in os.walk(config):
        if "settings.json" in files:
            with open(os.path.join(folder, "settings.json"), errors="replace") as f:
                return "lastPlaybackPosition" in f.read()
    return False


def play_run(env, list_path, rng, index, term):
    stderr_path = os.path.join(env.tmp, f"play-{index}.err")
    with open(stderr_path, "w") as err:
        proc = subprocess.Popen(
            [os.path.join(env.build, "tools/sondrel-play/sondrel-play"), "--list", list_path,
             "--autoplay", "--output", "pulse"],
            env=env.pulse_env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=err)
    played = read_until(proc, "playing", 30)
    time.sleep(rng.uniform(0, 1))
    try:
        if term:
            proc.terminate()
        else:
            proc.stdin.write(b"q\n")
            proc.stdin.flush()
    except BrokenPipeError:
        pass
    result = outcome(proc, stderr_path)
    return result, played


def stream_of(env, pid):
    """True while the server has a playback stream of process `pid`."""
    listing = subprocess.run(["pactl", "list", "sink-inputs"], env=env, capture_output=True,
                             text=True, timeout=30).stdout
    return f'application.process.id = "{pid}"' in listing


def window_run(build, desktop, tmp, rng, index, term):
    config = tempfile.mkdtemp(dir=tmp)
    env = dict(desktop.env, XDG_CONFIG_HOME=config)
    stderr_path = os.path.join(tmp, f"window-{index}.err")
    with open(stderr_path, "w") as err:
        proc = subprocess.Popen([os.path.join(build, "src/app/sondrel"), "--token", "demo-token"],
                                env=env, stdout=subprocess.DEVNULL, stderr=err)
    window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(proc.pid)],
                            env=env, capture_output=True, text=True, timeout=60).stdout.split()
    played = False
    if window:
        subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=env, timeout=30)
        # Space plays once the own list is there; press again until the stream shows.
        end = monotonic() + 40
        while not played and monotonic() < end and proc.poll() is None:
            subprocess.run(["xdotool", "key", "space"], env=env, timeout=30)
            wait_end = monotonic() + 5
            while not played and monotonic() < wait_end:
                played = stream_of(env, proc.pid)
                time.sleep(0.1)
        time.sleep(rng.uniform(0, 1))
        if term:
            proc.terminate()
        else:
            subprocess.run(["xdotool", "key", "ctrl+q"], env=env, timeout=30)
    else:
        proc.terminate()
    result = outcome(proc, stderr_path)
    if term and result == "clean" and played and not place_saved(config):
        result = "place not saved"
    return result, played


def report(title, results):
    counts = {}
    for result, _ in results:
        counts[result] = counts.get(result, 0) + 1
    played = sum(1 for _, p in results if p)
    print(f"{title}: {len(results)} runs, {played} were playing at the quit")
    for result, n in sorted(counts.items(), key=lambda kv: -kv[1]):
        print(f"  {n:5}  {result}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build")
    ap.add_argument("--runs", type=int, default=100)
    ap.add_argument("--window-runs", type=int, default=30)
    ap.add_argument("--seed", type=int, default=12)
    ap.add_argument("--term", action="store_true", help="quit with SIGTERM")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    rng = random.Random(args.seed)
    if args.runs > 0:
        with tempfile.TemporaryDirectory() as tmp:
            env = Env(build, tmp, 30, 2)
            try:
                list_path = write_list(env, 2, 30)
                results = []
                for i in range(args.runs):
                    results.append(play_run(env, list_path, rng, i, args.term))
                    print(f"sondrel-play run {i}: {results[-1][0]}", flush=True)
            finally:
                env.close()
        report("sondrel-play, " + ("SIGTERM" if args.term else "q") + " while playing", results)
    if args.window_runs > 0:
        tmp = tempfile.mkdtemp(prefix="sondrel-quit-bench-")
        desktop = Desktop(build, tmp, 30)
        try:
            results = []
            for i in range(args.window_runs):
                results.append(window_run(build, desktop, tmp, rng, i, args.term))
                print(f"window run {i}: {results[-1][0]}", flush=True)
        finally:
            desktop.close()
        report("window, " + ("SIGTERM" if args.term else "Ctrl+Q") + " while playing", results)


if __name__ == "__main__":
    main()
