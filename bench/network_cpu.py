#!/usr/bin/env python3
"""Added CPU of the SeedLink server: the headless station at 4 channels x 200 samples per
second without the server, then with it and 4 clients receiving everything, each measured
over 60 s after a 15-s start. Prints both percentages of one core and the difference.
Usage: bench/network_cpu.py [BUILD_DIR] [SECONDS]"""

import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_cpu import cpu_ticks, seed, ticks_per_second  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
program = os.path.abspath(os.path.join(build, "velkantor"))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def client(port, stop, received):
    """A SeedLink client taking every packet from now on (uni-station DATA)."""
    for _ in range(100):
        try:
            conn = socket.create_connection(("127.0.0.1", port), timeout=2)
            break
        except OSError:
            time.sleep(0.2)
    else:
        return
    conn.sendall(b"DATA\r")
    conn.settimeout(1)
    while not stop.is_set():
        try:
            data = conn.recv(65536)
        except socket.timeout:
            continue
        if not data:
            break
        received[0] += len(data)
    conn.close()


def measure(station, clients):
    port = free_port()
    command = [program, "--headless", "--simulate", "--station", station,
               "--for", str(seconds + 25)]
    if clients:
        command += ["--seedlink", "127.0.0.1:%d" % port]
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    stop = threading.Event()
    received = [0]
    threads = [threading.Thread(target=client, args=(port, stop, received)) for _ in range(clients)]
    try:
        for t in threads:
            t.start()
        time.sleep(15)
        t0, c0 = time.time(), cpu_ticks(process.pid)
        time.sleep(seconds)
        t1, c1 = time.time(), cpu_ticks(process.pid)
        if clients and received[0] == 0:
            raise RuntimeError("the clients received nothing")
        return 100.0 * (c1 - c0) / ticks_per_second / (t1 - t0)
    finally:
        stop.set()
        for t in threads:
            t.join()
        process.wait()


def main():
    home = tempfile.mkdtemp(prefix="velkantor-net-cpu-")
    try:
        station = seed(home)
        without = measure(station, 0)
        served = measure(station, 4)
    finally:
        shutil.rmtree(home, ignore_errors=True)
    print("headless %.2f" % without)
    print("seedlink %.2f" % served)
    print("added %.2f" % (served - without))


if __name__ == "__main__":
    main()
