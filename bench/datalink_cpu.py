#!/usr/bin/env python3
"""Added CPU of the DataLink sender: the headless station at 4 channels x 200 samples per
second with its archive, first without the sender, then pushing live to a receiver on
loopback, then pushing live while it sends a day's archive late (made beforehand from the
station's own records, stamped across the day before) at the bounded rate. Each is measured
over SECONDS after a 15-s start. Prints the three percentages of one core, the rate the
backfill reached, the time a day's backfill takes at it, and how late the live records were
meanwhile (from their last sample to the receiver).
Usage: bench/datalink_cpu.py [BUILD_DIR] [SECONDS]"""

import calendar
import glob
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(here, "..", "tests", "net"))
from desktop_cpu import cpu_ticks, seed, ticks_per_second  # noqa: E402
from datalink_common import Receiver, free_port, record_end  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
program = os.path.abspath(os.path.join(build, "velkantor"))
RATE = 20  # records per second: [datalink] backfill_rate's default


def stamp(record, micro):
    """The record with its first sample at `micro` (fixed header and blockette 1001)."""
    t = time.gmtime(micro // 1000000)
    rest = micro % 1000000
    head = struct.pack(">HHBBBBH", t.tm_year, t.tm_yday, t.tm_hour, t.tm_min, t.tm_sec, 0,
                       rest // 100)
    record = bytearray(record)
    record[20:30] = head
    at = struct.unpack(">H", record[46:48])[0]
    while 48 <= at < 508:
        kind, following = struct.unpack(">HH", record[at:at + 4])
        if kind == 1001:
            record[at + 5] = struct.pack(">b", rest % 100)[0]
            break
        if following <= at:
            break
        at = following
    return bytes(record)


def day_archive(station, archive):
    """Yesterday's day files of every stream in `archive`, made of the records of a short run,
    one after another at the rate's spacing. Returns the records written and yesterday's
    first second."""
    run = os.path.join(station, "short-run")
    subprocess.run([program, "--headless", "--simulate", "--station", station, "--archive",
                    run, "--for", "40"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)
    today = calendar.timegm(time.gmtime()[:3] + (0, 0, 0))
    yesterday = today - 86400
    t = time.gmtime(yesterday)
    total = 0
    for path in glob.glob(os.path.join(run, "*", "*", "*", "*.D", "*")):
        data = open(path, "rb").read()
        records = [data[i:i + 512] for i in range(0, len(data), 512)]
        name = os.path.basename(path).rsplit(".", 2)[0] + ".%04d.%03d" % (t.tm_year, t.tm_yday)
        folder = os.path.join(archive, "%04d" % t.tm_year,
                              *os.path.relpath(os.path.dirname(path), run).split(os.sep)[1:])
        os.makedirs(folder, exist_ok=True)
        micro = yesterday * 1000000
        with open(os.path.join(folder, name), "wb") as out:
            k = 0
            while micro < today * 1000000:
                record = records[k % len(records)]
                count, factor, multiplier = struct.unpack(">Hhh", record[30:36])
                rate = factor if factor > 0 else -1.0 / factor
                rate = rate * multiplier if multiplier > 0 else rate / -multiplier
                out.write(stamp(record, micro))
                micro += int(round(count * 1e6 / rate))
                total += 1
                k += 1
    shutil.rmtree(run)
    return total, yesterday


def measure(station, receiver, port, datalink):
    command = [program, "--headless", "--simulate", "--station", station, "--archive",
               "archive", "--for", str(seconds + 25)]
    if datalink:
        command += ["--datalink", "127.0.0.1:%d" % port]
    held_before = len(receiver.held)
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        threading.Event().wait(15)
        t0, c0, h0 = time.time(), cpu_ticks(process.pid), len(receiver.held)
        threading.Event().wait(seconds)
        t1, c1, h1 = time.time(), cpu_ticks(process.pid), len(receiver.held)
        held = receiver.held[h0:h1]
        return 100.0 * (c1 - c0) / ticks_per_second / (t1 - t0), held, t1 - t0
    finally:
        process.wait()
        assert not datalink or len(receiver.held) > held_before, "nothing received"


def main():
    home = tempfile.mkdtemp(prefix="velkantor-datalink-cpu-")
    try:
        station = seed(home)
        archive = os.path.join(station, "archive")
        port = free_port()
        receiver = Receiver(port)
        receiver.listen()
        without, _, _ = measure(station, receiver, port, False)
        live, _, _ = measure(station, receiver, port, True)
        # A day owed: the state file says the spans of every stream end before yesterday.
        day_records, yesterday = day_archive(station, archive)
        with open(os.path.join(station, "datalink.state"), "w") as f:
            f.write("velkantor datalink state 1\nserver 127.0.0.1:%d\nsince %d\n"
                    % (port, (yesterday - 1) * 1000000))
        backfill, held, span = measure(station, receiver, port, True)
    finally:
        shutil.rmtree(home, ignore_errors=True)
    late, lateness = 0, []
    for stream, start, _, record, arrival in held:
        if start < (yesterday + 86400) * 1000000:
            late += 1
        else:
            lateness.append(arrival - record_end(record))
    rate = late / span
    print("headless %.2f" % without)
    print("live %.2f" % live)
    print("backfill %.2f" % backfill)
    print("day records %d" % day_records)
    print("backfill rate %.1f" % rate)
    print("day hours %.2f" % (day_records / max(rate, 1e-9) / 3600))
    print("live lateness median %.2f max %.2f" % (statistics.median(lateness), max(lateness)))


if __name__ == "__main__":
    main()
