#!/usr/bin/env python3
"""sondrel-play side by side with mpv, the same song from the same loopback server into
the same PulseAudio null sink, runs alternating, medians and ratios.

    bench/playback/run_playback_bench.py BUILD_DIR [--runs N] [--seconds S] [--songs N]

Measures:
  launch -> first audio  process start to its first pa_stream_write (a preloaded stamp)
  CPU seconds            user + system of the player for S seconds of playback
  peak RSS               the player's maximum resident set over those runs
  many songs             sondrel-play through N short songs with a 1 MiB cache budget:
                         resident set after the first song (base) and at most
Needs pulseaudio, mpv and a built tree (sondrel-play,
sondrel-service, libsondrel_first_write_stamp.so). Prints a table; never a test.
"""
import argparse
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time


def monotonic():
    return time.clock_gettime(time.CLOCK_MONOTONIC)


def wait_file(path, timeout, proc=None, nonempty=True):
    end = monotonic() + timeout
    while monotonic() < end:
        if os.path.exists(path) and (not nonempty or os.path.getsize(path) > 0):
            return True
        if proc is not None and proc.poll() is not None:
            return False
        time.sleep(0.002)
    return False


class Env:
    def __init__(self, build, tmp, song_seconds, songs):
        self.build = build
        self.tmp = tmp
        self.procs = []
        run = os.path.join(tmp, "pulse")
        os.makedirs(run)
        env = dict(os.environ, HOME=run, XDG_RUNTIME_DIR=run)
        self.procs.append(subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             "--use-pid-file=no", "-L", "module-null-sink sink_name=bench_sink rate=44100 channels=2",
             "-L", f"module-native-protocol-unix socket={run}/native auth-anonymous=1"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        if not wait_file(f"{run}/native", 20, nonempty=False):
            sys.exit("pulseaudio did not start")
        self.pulse_env = dict(os.environ, PULSE_SERVER=f"unix:{run}/native",
                              PULSE_COOKIE=f"{run}/cookie")
        self.pulse_env.pop("SONDREL_AUDIO_OUTPUT", None)
        info = os.path.join(tmp, "service.json")
        self.procs.append(subprocess.Popen(
            [os.path.join(build, "tools/sondrel-service/sondrel-service"), "--https-port", "0",
             "--http-port", "0", "--info", info, "--cert-dir", os.path.join(tmp, "cert"),
             "--cache-dir", os.path.join(tmp, "songs"), "--demo-count", str(songs),
             "--demo-seconds", str(song_seconds)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True))
        if not wait_file(info, 120, self.procs[-1]):
            sys.exit("sondrel-service did not start")
        time.sleep(0.5)
        with open(info) as f:
            self.http = json.load(f)["api_http_origin"]

    def close(self):
        for p in reversed(self.procs):
            p.terminate()
            p.wait()


def song_url(env, index):
    return f"{env.http}/audio/{100001 + index}.mp3"


def write_list(env, count, seconds):
    path = os.path.join(env.tmp, f"list{count}.json")
    songs = [{"aid": 100001 + i, "owner_id": 1, "artist": "Bench", "title": f"Song {i}",
              "duration": seconds, "url": song_url(env, i)} for i in range(count)]
    with open(path, "w") as f:
        json.dump(songs, f)
    return path


def run_player(env, which, list_path, url, hold_seconds):
    """Starts one player, returns (first-audio latency, cpu seconds, peak rss MiB)."""
    stamp = os.path.join(env.tmp, f"stamp-{which}")
    if os.path.exists(stamp):
        os.remove(stamp)
    penv = dict(env.pulse_env, SONDREL_BENCH_STAMP=stamp,
                LD_PRELOAD=os.path.join(env.build, "bench/playback/libsondrel_first_write_stamp.so"))
    if which == "sondrel-play":
        cmd = [os.path.join(env.build, "tools/sondrel-play/sondrel-play"), "--list", list_path,
               "--autoplay", "--output", "pulse"]
    else:
        cmd = ["mpv", "--no-config", "--no-video", "--ao=pulse", "--really-quiet",
               "--no-terminal", url]
    start = monotonic()
    proc = subprocess.Popen(cmd, env=penv, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    if not wait_file(stamp, 30, proc):
        proc.kill()
        proc.wait()
        return None
    with open(stamp) as f:
        first = float(f.read()) - start
    time.sleep(hold_seconds)
    proc.send_signal(signal.SIGTERM)
    _, _, usage = os.wait4(proc.pid, 0)
    proc.returncode = 0
    return first, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    return 0.0


def many_songs(env, build, count, seconds):
    list_path = write_list(env, count, seconds)
    cmd = [os.path.join(build, "tools/sondrel-play/sondrel-play"), "--list", list_path,
           "--autoplay", "--output", "pulse", "--cache-mb", "1"]
    proc = subprocess.Popen(cmd, env=env.pulse_env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    os.set_blocking(proc.stdout.fileno(), False)
    base = None
    half = 0.0
    peak = 0.0
    buffered = ""
    last_row = -1
    end = monotonic() + count * seconds * 3 + 60
    while monotonic() < end and last_row < count - 1:
        chunk = proc.stdout.read()
        buffered += chunk.decode() if chunk else ""
        while "\n" in buffered:
            line, buffered = buffered.split("\n", 1)
            if line.startswith("now "):
                last_row = int(line.split()[1])
                if last_row == 1 and base is None:
                    base = rss_mib(proc.pid)
                if last_row == count // 2:
                    half = rss_mib(proc.pid)
        if base is not None:
            peak = max(peak, rss_mib(proc.pid))
        time.sleep(0.1)
    proc.stdin.write(b"q\n")
    proc.stdin.flush()
    proc.wait(timeout=30)
    return base, half, peak, last_row + 1


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("build")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--songs", type=int, default=50)
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    for tool in ("pulseaudio", "mpv"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is not installed")
    with tempfile.TemporaryDirectory() as tmp:
        env = Env(build, tmp, int(args.seconds) + 15, 2)
        try:
            list_path = write_list(env, 1, int(args.seconds) + 15)
            results = {"sondrel-play": [], "mpv": []}
            for i in range(args.runs):
                for which in (("sondrel-play", "mpv") if i % 2 == 0 else ("mpv", "sondrel-play")):
                    r = run_player(env, which, list_path, song_url(env, 0), args.seconds)
                    if r is None:
                        sys.exit(f"{which} never wrote audio")
                    results[which].append(r)
                    print(f"run {i} {which}: first audio {r[0]*1000:.1f} ms, cpu {r[1]:.3f} s, "
                          f"peak rss {r[2]:.1f} MiB", flush=True)
        finally:
            env.close()
    with tempfile.TemporaryDirectory() as tmp:
        env = Env(build, tmp, 2, args.songs)
        try:
            base, half, peak, played = many_songs(env, build, args.songs, 2)
        finally:
            env.close()

    def med(which, k):
        return statistics.median(r[k] for r in results[which])

    print()
    print("| measure | sondrel-play | mpv | ratio | target |")
    print("|---|---|---|---|---|")
    rows = [("launch -> first audio (ms)", 0, 1000.0, "<= 0.5"),
            (f"CPU seconds for {args.seconds:g} s", 1, 1.0, "<= 0.6"),
            ("peak RSS (MiB)", 2, 1.0, "<= 0.5")]
    for name, k, scale, target in rows:
        s, m = med("sondrel-play", k) * scale, med("mpv", k) * scale
        print(f"| {name} | {s:.3f} | {m:.3f} | {s / m:.2f} | {target} |")
    print(f"\n{played} songs in a row with a 1 MiB cache: RSS after the first song "
          f"{base:.1f} MiB, at song {args.songs // 2} {half:.1f} MiB, at most {peak:.1f} MiB "
          f"(growth {peak - base:.1f} MiB)")


if __name__ == "__main__":
    main()
