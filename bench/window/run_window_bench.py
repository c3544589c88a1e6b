#!/usr/bin/env python3
"""The main window's figures, on a private Xvfb, session bus and PulseAudio null sink,
against the stand-in service on loopback.

    bench/window/run_window_bench.py BUILD_DIR [--before OTHER_BUILD_DIR] [--runs N]
                                     [--seconds S] [--skip-cpu]

With --before, both builds are measured in the same run, their runs alternating, and the
figures are printed side by side ("before" is OTHER_BUILD_DIR, "after" is BUILD_DIR; a
build tree, or a copy of its src/app, lib/sondrel, bench/window and tools/ binaries).

Measures:
  start-up        spawn -> window painted on screen, and the resident set then, for the
                  real window signed in (sondrel-startup-probe) and for a bare Qt Widgets
                  window (sondrel-bare-window-probe), alternating, medians;
                  plus the processes the window started (web engine helpers would count)
  own list        spawn -> the own list on screen (window only)
  own list of     sondrel-song-table-bench: the JSON work (background pool), the heap the
  10,000 and      records hold, and the main loop's part (records to the player, rows built
  100,000 songs   and painted), and a playback tick with such a list on screen
  playback CPU    user + system CPU seconds of `sondrel` over S seconds of playback
                  (started with the Space key) against mpv playing the same song into
                  the same sink, alternating, medians

Needs Xvfb, dbus-daemon, pulseaudio, xdotool and mpv. Prints a table; never a test.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))


def monotonic():
    return time.clock_gettime(time.CLOCK_MONOTONIC)


def wait_for(check, timeout, step=0.01):
    end = monotonic() + timeout
    while monotonic() < end:
        if check():
            return True
        time.sleep(step)
    return False


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])  # utime + stime
    return ticks / os.sysconf("SC_CLK_TCK")


class Desktop:
    """Xvfb, a session bus, a PulseAudio null sink and the stand-in service."""

    def __init__(self, build, tmp, song_seconds):
        self.procs = []
        self.env = dict(os.environ)
        for key in ("SONDREL_AUDIO_OUTPUT", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            self.env.pop(key, None)
        for name in ("config", "data", "cache"):
            os.makedirs(os.path.join(tmp, name))
        self.env.update(XDG_CONFIG_HOME=os.path.join(tmp, "config"),
                        XDG_DATA_HOME=os.path.join(tmp, "data"),
                        XDG_CACHE_HOME=os.path.join(tmp, "cache"))

        read_fd, write_fd = os.pipe()
        self.procs.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            self.env["DISPLAY"] = ":" + f.readline().strip()

        bus = subprocess.Popen(
            ["dbus-daemon", "--config-file", os.path.join(SOURCE, "tests/window/session-bus.conf"),
             "--print-address", "--nofork"], stdout=subprocess.PIPE, text=True)
        self.procs.append(bus)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()

        run = os.path.join(tmp, "pulse")
        os.makedirs(run)
        self.procs.append(subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             "--use-pid-file=no", "-L", "module-null-sink sink_name=bench_sink rate=44100 channels=2",
             "-L", f"module-native-protocol-unix socket={run}/native auth-anonymous=1"],
            env=dict(self.env, HOME=run, XDG_RUNTIME_DIR=run),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        if not wait_for(lambda: os.path.exists(f"{run}/native"), 20):
            sys.exit("pulseaudio did not start")
        self.env.update(PULSE_SERVER=f"unix:{run}/native", PULSE_COOKIE=f"{run}/cookie")

        info = os.path.join(tmp, "service.json")
        self.procs.append(subprocess.Popen(
            [os.path.join(build, "tools/sondrel-service/sondrel-service"), "--https-port", "0",
             "--http-port", "0", "--info", info, "--cert-dir", os.path.join(tmp, "cert"),
             "--cache-dir", os.path.join(tmp, "songs"), "--demo-seconds", str(song_seconds)],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        if not wait_for(lambda: os.path.exists(info) and os.path.getsize(info) > 0, 180):
            sys.exit("sondrel-service did not start")
        time.sleep(0.5)
        with open(info) as f:
            self.http = json.load(f)["api_http_origin"]
        self.env["SONDREL_SERVICE_INFO"] = info

    def close(self):
        for p in reversed(self.procs):
            p.terminate()
            p.wait()


def startup_run(build, desktop, mode):
    probe = os.path.join(build, "bench/window", "sondrel-bare-window-probe" if mode == "bare"
                         else "sondrel-startup-probe")
    start = monotonic()
    proc = subprocess.Popen([probe], env=desktop.env, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    result = {}
    for line in proc.stdout:
        key, value = line.split()
        result[key] = float(value)
        if key in ("shown", "list"):
            result[key + "_spawn_ms"] = (monotonic() - start) * 1000.0
    if proc.wait() != 0 or "shown" not in result:
        sys.exit(f"the {mode} probe failed")
    return result


def playback_cpu(build, desktop, which, seconds, tmp):
    """CPU seconds over `seconds` of playback, measured from 3 s after the start, of mpv
    (`which` "mpv") or of the player of the build folder `which`."""
    if which != "mpv":
        # A fresh settings folder each time: the same start for every run.
        config = tempfile.mkdtemp(dir=tmp)
        env = dict(desktop.env, XDG_CONFIG_HOME=config)
        proc = subprocess.Popen([os.path.join(which, "src/app/sondrel"), "--token", "demo-token"],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(proc.pid)],
                                env=env, capture_output=True, text=True, timeout=60).stdout.split()
        if not window:
            sys.exit("the window did not appear")
        subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=env, timeout=30)
        time.sleep(2.0)  # the own list arrives
        subprocess.run(["xdotool", "key", "space"], env=env, timeout=30)
    else:
        proc = subprocess.Popen(["mpv", "--no-config", "--no-video", "--really-quiet", "--ao=pulse",
                                 f"{desktop.http}/audio/100001.mp3"], env=desktop.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(3.0)
    before = cpu_seconds(proc.pid)
    time.sleep(seconds)
    used = cpu_seconds(proc.pid) - before
    proc.terminate()
    proc.wait()
    return used


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--before", help="another build to measure alongside, as 'before'")
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--skip-cpu", action="store_true")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    builds = {"Sondrel": build}
    if args.before:
        builds = {"before": os.path.abspath(args.before), "after": build}
    for tool in ("Xvfb", "dbus-daemon", "pulseaudio", "xdotool", "mpv"):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} is needed")

    tmp = tempfile.mkdtemp(prefix="sondrel-window-bench-")
    desktop = Desktop(build, tmp, args.seconds + 15)
    try:
        runs = {name: [] for name in ("bare", *builds)}
        for _ in range(args.runs):
            runs["bare"].append(startup_run(build, desktop, "bare"))
            for name, where in builds.items():
                runs[name].append(startup_run(where, desktop, "window"))

        def med(mode, key):
            return statistics.median(r[key] for r in runs[mode])

        print(f"start-up, medians of {args.runs} alternating runs under Xvfb")
        print(f"  {'':24}{'bare Qt':>12}" + "".join(f"{n:>12}{'ratio':>8}" for n in builds))
        for key, label, unit, scale in (("shown_spawn_ms", "spawn -> window shown", "ms", 1.0),
                                        ("rss", "resident set then", "MiB", 1 / 1024)):
            bare = med("bare", key) * scale
            line = f"  {label:24}{bare:>9.1f} {unit:3}"
            for name in builds:
                value = med(name, key) * scale
                line += f"{value:>9.1f} {unit:3}{value / bare:>7.2f}x"
            print(line)
        for key, label, unit, scale in (("list_spawn_ms", "spawn -> own list shown", "ms", 1.0),
                                        ("rss_list", "resident set with list", "MiB", 1 / 1024)):
            print(f"  {label:24}{'':>12}" + "".join(
                f"{med(name, key) * scale:>9.1f} {unit:3}{'':>8}" for name in builds))
        for name in builds:
            print(f"  {name}: child processes of the window: "
                  f"{max(r['children'] for r in runs[name]):.0f} (web engine library mapped: "
                  f"{'yes' if runs[name][0].get('webengine') else 'no'})")

        tables = {}
        for name, where in builds.items():
            table = subprocess.run([os.path.join(where, "bench/window/sondrel-song-table-bench"),
                                    "--benchmark_format=json"],
                                   env=dict(desktop.env, QT_QPA_PLATFORM="offscreen"),
                                   capture_output=True, text=True)
            tables[name] = {b["name"]: b for b in json.loads(table.stdout)["benchmarks"]}
        print("own list (/N songs): real time, CPU time; list_MiB: the records' heap")
        print(f"  {'':28}" + "".join(f"{n:>36}" for n in builds))
        for bench in dict.fromkeys(b for t in tables.values() for b in t):
            line = f"  {bench:28}"
            for name in builds:
                b = tables[name].get(bench)
                line += f"{'':>36}" if b is None else (
                    f"{b['real_time']:>9.2f} {b['cpu_time']:>9.2f} {b['time_unit']:3}"
                    + (f"{b['list_MiB']:>8.1f} MiB" if "list_MiB" in b else f"{'':>12}"))
            print(line)

        if not args.skip_cpu:
            cpu = {name: [] for name in ("mpv", *builds)}
            for _ in range(max(1, args.runs // 2)):
                cpu["mpv"].append(playback_cpu(build, desktop, "mpv", args.seconds, tmp))
                for name, where in builds.items():
                    cpu[name].append(playback_cpu(build, desktop, where, args.seconds, tmp))
            m = statistics.median(cpu["mpv"])
            print(f"playback CPU over {args.seconds} s, same song and null sink, "
                  f"medians of {len(cpu['mpv'])} alternating runs")
            print(f"  mpv {m:.2f} s" + "".join(
                f"   {name} {statistics.median(cpu[name]):.2f} s ratio "
                f"{statistics.median(cpu[name]) / m:.2f}x" for name in builds))
            print("  runs: " + "  ".join(f"{name} {[round(v, 2) for v in values]}"
                                         for name, values in cpu.items()))
    finally:
        desktop.close()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
