#!/usr/bin/env python3
"""sondrel-stream against mpv on the same address and the same sound sink.

Both players play one MP3 of the stand-in service over plain HTTP into a private
PulseAudio server with a null sink. Two figures, each the median of several runs:

  first audio   seconds from launching the player until the first non-silent sample
                reaches the sink (read from the sink's monitor with parec, so both
                players are measured by the same clock and the same recording delay);
  cpu 30 s      user + system CPU seconds the player used in its first 30 seconds
                (from /proc/PID/stat, all threads).

Goals: sondrel-stream at most 0.5x mpv for first audio, at most 0.6x for CPU.

  bench/streamer/stream_vs_mpv.py [--build DIR] [--runs N] [--cpu-runs N] [--seconds S]
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
import threading
import time

RATE = 44100
CHANNELS = 2
THRESHOLD = 300  # a sample louder than this counts as sound (the tones peak at 16000)


def start_pulse(run_dir):
    env = dict(os.environ, HOME=run_dir, XDG_RUNTIME_DIR=run_dir)
    socket = os.path.join(run_dir, "native")
    proc = subprocess.Popen(
        ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
         "--use-pid-file=no", "-L",
         "module-null-sink sink_name=bench_sink rate=44100 channels=2",
         "-L", "module-native-protocol-unix socket=%s auth-anonymous=1" % socket,
         "-L", "module-always-sink"],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    client_env = dict(os.environ, PULSE_SERVER="unix:" + socket,
                      PULSE_COOKIE=os.path.join(run_dir, "cookie"), XDG_RUNTIME_DIR=run_dir)
    for _ in range(100):
        if subprocess.run(["pactl", "info"], env=client_env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            subprocess.run(["pactl", "set-default-sink", "bench_sink"], env=client_env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            return proc, client_env
        time.sleep(0.1)
    proc.kill()
    sys.exit("pulseaudio did not start")


def start_service(binary, run_dir, seconds):
    info = os.path.join(run_dir, "service.json")
    proc = subprocess.Popen(
        [binary, "--https-port", "0", "--http-port", "0", "--info", info,
         "--cert-dir", os.path.join(run_dir, "cert"), "--cache-dir", os.path.join(run_dir, "songs"),
         "--demo-count", "1", "--demo-seconds", str(seconds)],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    for line in proc.stdout:
        if "sondrel-service ready" in line:
            break
    with open(info) as f:
        origin = json.load(f)["api_http_origin"]
    return proc, origin + "/audio/100001.mp3"


class Monitor:
    """Records the sink's monitor and notes when sound first arrives after `armed`."""

    def __init__(self, env):
        self.proc = subprocess.Popen(
            ["parec", "--latency-msec=10", "-d", "bench_sink.monitor", "--format=s16le",
             "--rate=%d" % RATE, "--channels=%d" % CHANNELS, "--raw"],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=0)
        self.lock = threading.Lock()
        self.armed_at = None
        self.first_sound = None
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        frame = 2 * CHANNELS
        while True:
            chunk = self.proc.stdout.read(1024 * frame)
            if not chunk:
                return
            now = time.monotonic()
            with self.lock:
                if self.armed_at is None or self.first_sound is not None:
                    continue
            samples = memoryview(chunk).cast("h") if len(chunk) % 2 == 0 else None
            if samples is None:
                continue
            for i, s in enumerate(samples):
                if abs(s) > THRESHOLD:
                    # The chunk arrived at `now`; the sample lies this much before its end.
                    behind = (len(samples) - i) / CHANNELS / RATE
                    with self.lock:
                        self.first_sound = now - behind
                    break

    def arm(self):
        with self.lock:
            self.armed_at = time.monotonic()
            self.first_sound = None
            return self.armed_at

    def wait_sound(self, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                if self.first_sound is not None:
                    return self.first_sound
            time.sleep(0.005)
        return None

    def close(self):
        self.proc.kill()
        self.proc.wait()


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])  # utime, stime
    return ticks / os.sysconf("SC_CLK_TCK")


def players(build, url):
    return {
        "sondrel-stream": [os.path.join(build, "tools/sondrel-stream/sondrel-stream"), url],
        "mpv": ["mpv", "--no-config", "--no-video", "--ao=pulse", "--no-terminal",
                "--really-quiet", url],
    }


def launch(command, env):
    return subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop(proc):
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(here, "..", "..", "build"))
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--cpu-runs", type=int, default=3)
    parser.add_argument("--seconds", type=int, default=30)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    service_binary = os.path.join(build, "tools/sondrel-service/sondrel-service")
    for path in (service_binary, os.path.join(build, "tools/sondrel-stream/sondrel-stream")):
        if not os.path.exists(path):
            sys.exit("missing %s: build the sondrel-service and sondrel-stream targets" % path)
    if not shutil.which("mpv"):
        sys.exit("mpv is not installed")

    run_dir = tempfile.mkdtemp(prefix="sondrel-bench-")
    pulse, env = start_pulse(run_dir)
    service, url = start_service(service_binary, run_dir, args.seconds + 15)
    env = dict(env, SONDREL_AUDIO_OUTPUT="pulse", QT_QPA_PLATFORM="offscreen")
    monitor = Monitor(env)
    commands = players(build, url)
    first = {name: [] for name in commands}
    cpu = {name: [] for name in commands}
    try:
        time.sleep(0.5)
        # One untimed run of each first: the service makes its song on the first
        # request, and the first launch of a program reads its libraries from disk.
        for command in commands.values():
            monitor.arm()
            proc = launch(command, env)
            monitor.wait_sound(20)
            stop(proc)
        for _ in range(args.runs):
            for name, command in commands.items():
                started = monitor.arm()
                proc = launch(command, env)
                sound = monitor.wait_sound(20)
                stop(proc)
                if sound is not None:
                    first[name].append(sound - started)
                time.sleep(0.3)
        for _ in range(args.cpu_runs):
            for name, command in commands.items():
                proc = launch(command, env)
                time.sleep(args.seconds)
                cpu[name].append(cpu_seconds(proc.pid))
                stop(proc)
    finally:
        monitor.close()
        stop(service)
        stop(pulse)
        shutil.rmtree(run_dir, ignore_errors=True)

    print("address: %s (MP3, 128 kbit/s, %d s)" % (url, args.seconds + 15))
    result = {}
    for name in commands:
        f = statistics.median(first[name]) if first[name] else float("nan")
        c = statistics.median(cpu[name]) if cpu[name] else float("nan")
        result[name] = (f, c)
        print("%-15s first audio median %.3f s (%s)   cpu in %d s median %.3f s (%s)" % (
            name, f, " ".join("%.3f" % x for x in first[name]), args.seconds, c,
            " ".join("%.2f" % x for x in cpu[name])))
    ours, theirs = result["sondrel-stream"], result["mpv"]
    print("ratio first audio %.2fx (goal <= 0.5x), cpu %.2fx (goal <= 0.6x)" % (
        ours[0] / theirs[0], ours[1] / theirs[1]))


if __name__ == "__main__":
    main()
