#!/usr/bin/env python3
"""Alerts as webhook POSTs to a loopback HTTP receiver (Python's standard library). The
receiver first takes them (200), then answers 500, then takes connections and never answers.
Meanwhile the station records every sample (its datalog holds the run's length of samples)
and logs each alert it gives up on once.

usage: alerts_webhook.py VELKANTOR_BINARY VELKANTOR_SIM_BINARY
"""
import glob
import http.server
import json
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

from alerts_common import Processes, prepare_station, start_board, wait_for, QUAKE_EVERY


class Receiver(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), Handler)
        self.mode = "ok"  # "ok", "error" (500), "silent" (never answers)
        self.received = []  # (mode, object) of every POST, tries included
        self.lock = threading.Lock()
        self.release = threading.Event()


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        server = self.server
        with server.lock:
            mode = server.mode
            server.received.append((mode, json.loads(body)))
        if mode == "silent":
            server.release.wait(120)
            return
        self.send_response(200 if mode == "ok" else 500)
        self.send_header("Content-Length", "0")
        self.end_headers()


def datalog_samples(station, channel):
    return sum(os.path.getsize(p) // 4
               for p in glob.glob(os.path.join(station, "datalog", "*.LG%d" % channel)))


def main():
    program, sim_program = (os.path.abspath(p) for p in sys.argv[1:3])
    receiver = Receiver()
    threading.Thread(target=receiver.serve_forever, daemon=True).start()
    url = "http://127.0.0.1:%d/hook" % receiver.server_address[1]
    try:
        with tempfile.TemporaryDirectory() as folder, Processes() as processes:
            station = os.path.join(folder, "station")
            prepare_station(program, station)
            with open(os.path.join(station, "network.ini"), "w") as f:
                f.write("[alerts]\nwebhook = %s\nwebhook_timeout = 2\n" % url)
            before = [datalog_samples(station, ch) for ch in range(4)]
            # Three quakes: one taken, one answered 500, one never answered.
            _, device = start_board(processes, sim_program)
            seconds = 3 * QUAKE_EVERY + 4
            velkantor = processes.start([program, "--headless", "--station", station, "--port",
                                         device, "--for", str(seconds)],
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            begun = time.monotonic()

            def ends_seen(n):
                with receiver.lock:
                    return sum(1 for _, m in receiver.received if m["type"] == "event_end") >= n
            wait_for(lambda: ends_seen(2), QUAKE_EVERY + 30, "the first quake's ends")
            with receiver.lock:
                receiver.mode = "error"
            wait_for(lambda: ends_seen(4), QUAKE_EVERY + 30, "the second quake's ends")
            with receiver.lock:
                receiver.mode = "silent"
            output, _ = velkantor.communicate(timeout=seconds + 60)
            ran = time.monotonic() - begun
            receiver.release.set()
            assert velkantor.returncode == 0, output
            # The address goes to the log without its path.
            assert "Webhook alerts to " + url[:-len("/hook")] + "\n" in output, output
            assert "/hook" not in output, output

            with receiver.lock:
                received = list(receiver.received)
            # Every alert is the same JSON at each try; count the tries of each.
            tries = {}
            for mode, m in received:
                tries.setdefault(json.dumps(m, sort_keys=True), []).append(mode)
            taken = [k for k, modes in tries.items() if modes == ["ok"]]
            failed = [k for k, modes in tries.items() if "ok" not in modes]
            assert all(modes == ["ok"] for modes in tries.values() if "ok" in modes), tries
            assert len(taken) >= 4, tries  # the first quake: two starts, an alarm, two ends
            assert any("error" in tries[k] for k in failed), tries
            assert any(tries[k][-1] == "silent" for k in failed), tries
            # A few tries, then given up with one line each. The last try of one may still be
            # waiting for its answer when the run ends: that one is abandoned without a line.
            assert all(len(tries[k]) <= 3 for k in failed), tries
            given_up = [k for k in failed if len(tries[k]) == 3]
            dropped_lines = re.findall(r"Alerts: webhook \S+ failed 3 times \((.*?)\); the (\w+) "
                                       r"alert to it is dropped", output)
            assert len(given_up) - 1 <= len(dropped_lines) <= len(given_up), (dropped_lines, tries)
            given_up = given_up[:len(dropped_lines)]
            assert [t for _, t in dropped_lines] == \
                [{"event_start": "event", "event_end": "event"}.get(json.loads(k)["type"],
                                                                    json.loads(k)["type"])
                 for k in given_up], (dropped_lines, given_up)
            whys = {why for why, _ in dropped_lines}
            assert "HTTP status 500" in whys and any("imeout" in w or "timed out" in w for w in whys), whys
            # The station lost nothing while the receiver failed: every second of the run is in
            # the datalog of every logged channel, all samples filled in from the line.
            m = re.search(r"Samples filled \(lost on the line\): (.*)", output)
            assert m and all(x.split()[-1] == "0" for x in m.group(1).split(",")), output
            for ch in range(4):
                samples = datalog_samples(station, ch) - before[ch]
                assert samples >= (seconds - 3) * 100 and samples <= (ran + 2) * 100, \
                    (ch, samples, seconds, ran)
            print("webhooks:", len(taken), "alerts taken,", len(failed), "failed,",
                  len(dropped_lines), "given up and logged")
    finally:
        receiver.release.set()
        receiver.shutdown()


if __name__ == "__main__":
    main()
