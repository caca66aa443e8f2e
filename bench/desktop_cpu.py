#!/usr/bin/env python3
"""CPU use of the station at 4 channels x 200 samples per second with charts, drums and
spectra on all channels: the desktop under a virtual X server against the same station
with --headless, each measured over 60 s after a 15-s start. Prints the percentages of
one core and their ratio. Usage: bench/desktop_cpu.py [BUILD_DIR] [SECONDS]"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
program = os.path.abspath(os.path.join(build, "velkantor"))
ticks_per_second = os.sysconf("SC_CLK_TCK")


def seed(home):
    """A demo station, then 200 samples per second and a spectrum on every channel."""
    env = dict(os.environ, HOME=home)
    subprocess.run([program, "--simulate", "--headless", "--for", "3"], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    station = os.path.join(home, "velkantor-demo")
    ini = os.path.join(station, "velkant.ini")
    with open(ini, newline="") as f:
        text = f.read()
    for key, value in (("SPS", 17), ("FFT", 1), ("FFM", 1), ("FFR", 1024), ("DRM", 1)):
        text = re.sub(r"^%s=[^\r\n]*" % key, "%s= %d " % (key, value), text, flags=re.M)
    with open(ini, "w", newline="") as f:
        f.write(text)
    return station


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def find_station_process(station, deadline):
    while time.time() < deadline:
        # The program itself, not the xvfb-run script that starts it.
        pattern = "%s --simulate.*--station %s.*" % (re.escape(program), re.escape(station))
        out = subprocess.run(["pgrep", "-f", "-x", pattern],
                             capture_output=True, text=True).stdout.split()
        if out:
            return int(out[0])
        time.sleep(0.2)
    raise RuntimeError("the station did not start")


def measure(station, desktop):
    command = [program, "--simulate", "--station", station, "--for", str(seconds + 25)]
    if desktop:
        command = ["xvfb-run", "-a", "-s", "-screen 0 1366x768x24"] + command
    else:
        command.insert(2, "--headless")
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        pid = find_station_process(station, time.time() + 20)
        time.sleep(15)  # the handshake and the first drums and spectra
        t0, c0 = time.time(), cpu_ticks(pid)
        time.sleep(seconds)
        t1, c1 = time.time(), cpu_ticks(pid)
        return 100.0 * (c1 - c0) / ticks_per_second / (t1 - t0)
    finally:
        process.wait()


def main():
    home = tempfile.mkdtemp(prefix="velkantor-cpu-")
    try:
        station = seed(home)
        desktop = measure(station, True)
        headless = measure(station, False)
    finally:
        shutil.rmtree(home, ignore_errors=True)
    print("4 x 200 samples/s, charts, drums and spectra, %.0f s:" % seconds)
    print("  desktop  %5.2f %% of one core" % desktop)
    print("  headless %5.2f %% of one core" % headless)
    print("  desktop / headless: %.1f" % (desktop / headless if headless > 0 else float("inf")))


if __name__ == "__main__":
    main()
