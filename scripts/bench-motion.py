#!/usr/bin/env python3
"""Stirwatch next to the Motion daemon on the same recordings.

For each of four recordings (H.264 in MP4 and MJPEG in AVI, 1920x1080 and
640x480, 30 frames a second, bars scrolling under a moving ball; made here
with GStreamer once and kept in the clips folder, 30 seconds that both
programs play in a loop) it measures, in interleaved
rounds:

  - Stirwatch watching the file ("Start Video", "Auto" at 100 ms, every window
    shown) against `motion` analysing every frame of it (netcam_url file://,
    framerate 30, no movie output);
  - the same with "Record On Move" against `motion` writing its movie output
    (H.264 in MP4).

Whole-process CPU (user + system time of all threads, in % of one core) and
resident memory (the highest VmRSS sampled once a second) come from /proc.
The table gives the median of the rounds, the ratios and whether each target
is met: CPU ratio at most 1.0, RSS at most motion's.

Usage: bench-motion.py WATCH_RUN CLIPS_FOLDER [--rounds N] [--warm-up S]
       [--seconds S] [--only TEXT] [--offscreen]
"""

import argparse
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

FPS = 30
CLIP_SECONDS = 30
TICKS = os.sysconf("SC_CLK_TCK")
# Debian's /etc/motion/motion.conf of motion 4.5.1, as installed, minus the
# camera device, the folders and the network ports (none is opened here).
MOTION_DEFAULTS = """\
daemon off
setup_mode off
log_level 6
text_left CAMERA1
text_right %Y-%m-%d\\n%T-%q
emulate_motion off
threshold 1500
despeckle_filter EedDl
minimum_motion_frames 1
event_gap 60
pre_capture 3
post_capture 0
picture_output off
movie_max_time 60
movie_quality 45
movie_filename %t-%v-%Y%m%d%H%M%S
webcontrol_port 0
stream_port 0
"""


class Clip:
    def __init__(self, name, file_name, width, height, encode):
        self.name = name
        self.file_name = file_name
        self.width = width
        self.height = height
        self.encode = encode


CLIPS = [
    Clip("H.264 MP4 1920x1080", "h264-1920x1080.mp4", 1920, 1080,
         "x264enc speed-preset=veryfast key-int-max=60 ! h264parse ! mp4mux"),
    Clip("H.264 MP4 640x480", "h264-640x480.mp4", 640, 480,
         "x264enc speed-preset=veryfast key-int-max=60 ! h264parse ! mp4mux"),
    Clip("MJPEG AVI 1920x1080", "mjpeg-1920x1080.avi", 1920, 1080, "jpegenc ! avimux"),
    Clip("MJPEG AVI 640x480", "mjpeg-640x480.avi", 640, 480, "jpegenc ! avimux"),
]


def make_clip(clip, folder):
    """Colour bars scrolling by 4 pixels a frame under a ball as large as a
    quarter of the height that waves across the picture, made at 640x480
    (the compositor is slow at larger sizes) and scaled to the clip's size."""
    path = folder / clip.file_name
    if path.exists():
        return path
    print(f"making {path} ...", flush=True)
    frames = CLIP_SECONDS * FPS
    scene = f"width=640,height=480,framerate={FPS}/1"
    partial = path.with_name(path.name + ".partial")
    pipeline = (
        f"videotestsrc num-buffers={frames} pattern=smpte100 horizontal-speed=4 ! "
        f"video/x-raw,{scene} ! mix.sink_0 "
        f"videotestsrc num-buffers={frames} pattern=ball background-color=0x00000000 "
        f"foreground-color=0xffffe080 ! "
        f"video/x-raw,format=AYUV,width=160,height=120,framerate={FPS}/1 ! mix.sink_1 "
        f"compositor name=mix sink_1::width=640 sink_1::height=480 ! videoconvert ! "
        f"video/x-raw,format=I420,{scene} ! videoscale ! "
        f"video/x-raw,width={clip.width},height={clip.height} ! {clip.encode} ! "
        f'filesink location="{partial}"')
    subprocess.run(["gst-launch-1.0", "-q"] + pipeline.split(), check=True)
    partial.rename(path)
    return path


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def load_average():
    with open("/proc/loadavg") as load:
        return float(load.read().split()[0])


def folder_bytes(folder):
    return sum(f.stat().st_size for f in pathlib.Path(folder).rglob("*") if f.is_file())


class Measurement:
    def __init__(self, cpu, rss_mb, load, note):
        self.cpu = cpu
        self.rss_mb = rss_mb
        self.load = load
        self.note = note


def measure(process, seconds, extra_pids=()):
    """CPU in % of one core and the highest RSS over `seconds`; also the CPU
    of `extra_pids` (the X server) over the same time."""
    start_ticks = cpu_ticks(process.pid)
    extra_start = [cpu_ticks(pid) for pid in extra_pids]
    start = time.monotonic()
    highest = 0
    while time.monotonic() - start < seconds:
        if process.poll() is not None:
            raise RuntimeError(f"the measured program ended early (exit code {process.returncode})")
        highest = max(highest, rss_kb(process.pid))
        time.sleep(1)
    elapsed = time.monotonic() - start
    cpu = 100.0 * (cpu_ticks(process.pid) - start_ticks) / TICKS / elapsed
    extra = [100.0 * (cpu_ticks(pid) - s) / TICKS / elapsed for pid, s in zip(extra_pids, extra_start)]
    return cpu, highest / 1024.0, extra


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise RuntimeError(f"no {what} within {seconds} s")
        time.sleep(0.2)


def run_stirwatch(args, display, clip, record):
    with tempfile.TemporaryDirectory(prefix="bench-stirwatch-") as work:
        events = pathlib.Path(work) / "events"
        env = dict(os.environ, STIRWATCH_SOURCE=str(clip))
        if display:
            env["DISPLAY"] = display.name
            env["QT_QPA_PLATFORM"] = "xcb"
        else:
            env["QT_QPA_PLATFORM"] = "offscreen"
        command = [args.watch_run] + ([str(events)] if record else [])
        output = pathlib.Path(work) / "output.txt"
        with open(output, "w") as out:
            process = subprocess.Popen(command, cwd=work, env=env, stdout=out,
                                       stderr=subprocess.STDOUT)
        try:
            wait_for(lambda: "watching" in output.read_text(), 60, "automatic run")
            time.sleep(args.warm_up)
            load = load_average()
            written = folder_bytes(events) if record else 0
            cpu, rss, extra = measure(process, args.seconds, [display.pid] if display else [])
            written = (folder_bytes(events) if record else 0) - written
        finally:
            stop(process)
        steps = re.search(r"steps (\d+)", output.read_text())
        note = f"steps {steps.group(1) if steps else '?'}"
        if record:
            note += f", {written / 1e6:.1f} MB of clips in the window"
        if display:
            note += f", X server {extra[0]:.1f} %"
        return Measurement(cpu, rss, load, note)


def run_motion(args, clip, size, movie):
    with tempfile.TemporaryDirectory(prefix="bench-motion-") as work:
        work = pathlib.Path(work)
        movies = work / "movies"
        movies.mkdir()
        config = work / "motion.conf"
        # noise_tune off: motion's automatic noise level settles above the
        # changes of this scene and it then finds no movement at all.
        config.write_text(
            MOTION_DEFAULTS +
            f"netcam_url file://{clip}\nwidth {size[0]}\nheight {size[1]}\nframerate {FPS}\n"
            f"noise_tune off\ntarget_dir {movies}\nlog_file {work / 'motion.log'}\n"
            f"movie_output {'on' if movie else 'off'}\nmovie_codec mp4\n")
        process = subprocess.Popen(["motion", "-n", "-c", str(config)], cwd=work,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if movie:
                # motion writes its movie only once it has found movement.
                wait_for(lambda: any(movies.iterdir()), 60, "movie from motion")
            time.sleep(args.warm_up)
            load = load_average()
            written = folder_bytes(movies)
            cpu, rss, _ = measure(process, args.seconds)
            written = folder_bytes(movies) - written
        finally:
            stop(process)
        note = f"{written / 1e6:.1f} MB of movies in the window" if movie else ""
        return Measurement(cpu, rss, load, note)


class XServer:
    """A private Xvfb that names its display once it accepts connections."""

    def __enter__(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-noreset", "-screen", "0",
             "1920x1080x24"], pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as display:
            self.name = ":" + display.readline().strip()
        self.pid = self.process.pid
        return self

    def __exit__(self, *exc):
        stop(self.process)


def median(measurements, field):
    return statistics.median(getattr(m, field) for m in measurements)


def verdict(ok):
    return "met" if ok else "MISSED"


def print_table(results, rounds):
    cases = [("Auto", "stirwatch", "motion"), ("Auto + Record On Move", "stirwatch+rec", "motion+movie")]
    print(f"\nMedians of {rounds} interleaved rounds; CPU in % of one core, RSS in MB.")
    for title, ours, peer in cases:
        print(f"\n{title} vs motion{' + movie output (H.264)' if 'rec' in ours else ''}:")
        print(f"{'Input (30 fps, moving)':22} {'Stirwatch':>10} {'motion':>8} {'ratio':>6} {'CPU':>7}"
              f" {'RSS':>7} {'motion':>7} {'RSS':>7}  load")
        for clip in CLIPS:
            a, b = results.get((clip.name, ours)), results.get((clip.name, peer))
            if not a or not b:
                continue
            cpu_a, cpu_b = median(a, "cpu"), median(b, "cpu")
            rss_a, rss_b = median(a, "rss_mb"), median(b, "rss_mb")
            ratio = cpu_a / cpu_b if cpu_b > 0 else float("inf")
            loads = [m.load for m in a + b]
            print(f"{clip.name:22} {cpu_a:9.1f}% {cpu_b:7.1f}% {ratio:6.2f} {verdict(ratio <= 1.0):>7}"
                  f" {rss_a:7.0f} {rss_b:7.0f} {verdict(rss_a <= rss_b):>7}"
                  f"  {min(loads):.2f}-{max(loads):.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("watch_run", help="the stirwatch_watch_run program")
    parser.add_argument("clips", help="folder of the recordings (made there once)")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--warm-up", type=float, default=8, help="seconds before measuring")
    parser.add_argument("--seconds", type=float, default=15, help="seconds measured")
    parser.add_argument("--only", default="", help="only inputs whose name holds this text")
    parser.add_argument("--offscreen", action="store_true",
                        help="Qt's offscreen platform instead of a private Xvfb")
    args = parser.parse_args()
    args.watch_run = os.path.abspath(args.watch_run)
    if not shutil.which("motion"):
        sys.exit("motion is not installed (make bench-motion installs it)")
    running = subprocess.run(["pgrep", "-x", "motion"], capture_output=True, text=True).stdout
    if running.split():
        sys.exit("motion already runs here (process " + ", ".join(running.split()) +
                 "), e.g. as the service its package starts: stop it (systemctl stop motion) "
                 "so that it neither holds a camera nor takes CPU from the measured programs")
    folder = pathlib.Path(args.clips)
    folder.mkdir(parents=True, exist_ok=True)
    clips = [c for c in CLIPS if args.only in c.name]
    paths = {c.name: make_clip(c, folder).resolve() for c in clips}
    display_kind = "offscreen (Qt)" if args.offscreen else "a private Xvfb"
    print(f"Stirwatch's windows are shown on {display_kind}; {os.cpu_count()} cores.", flush=True)
    results = {}
    with XServer() if not args.offscreen else _NoServer() as display:
        for round_number in range(1, args.rounds + 1):
            for clip in clips:
                for record in (False, True):
                    runs = [("stirwatch+rec" if record else "stirwatch",
                             lambda: run_stirwatch(args, display, paths[clip.name], record)),
                            ("motion+movie" if record else "motion",
                             lambda: run_motion(args, paths[clip.name], (clip.width, clip.height),
                                                record))]
                    if round_number % 2 == 0:
                        runs.reverse()  # neither program always goes first
                    for kind, run in runs:
                        m = run()
                        results.setdefault((clip.name, kind), []).append(m)
                        print(f"round {round_number} {clip.name:20} {kind:14} CPU {m.cpu:5.1f} %"
                              f"  RSS {m.rss_mb:5.0f} MB  load {m.load:.2f}  {m.note}", flush=True)
    print_table(results, args.rounds)


class _NoServer:
    def __enter__(self):
        return None

    def __exit__(self, *exc):
        pass


if __name__ == "__main__":
    main()
