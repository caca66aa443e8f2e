#!/usr/bin/env python3
"""Alerts to a real MQTT broker (Debian's mosquitto on a loopback port), read by
mosquitto_sub: a simulated quake gives the event messages in order with the right fields,
the retained state is there for a late subscriber, a station killed by SIGKILL leaves the
last will (offline) as the state, and alerts raised while the broker is down arrive once it
is back.

usage: alerts_mqtt.py VELKANTOR_BINARY VELKANTOR_SIM_BINARY
"""
import json
import os
import time
import signal
import socket
import subprocess
import sys
import tempfile

from alerts_common import (Processes, utc_epoch, default_prefix, free_port, prepare_station,
                           start_board, wait_for)

PREFIX = None  # the station's default, set once its folder is known


def start_broker(processes, folder, port=None):
    port = port or free_port()
    conf = os.path.join(folder, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % port)
    broker = processes.start(["mosquitto", "-c", conf], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)

    def accepts():
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            return False
    wait_for(accepts, 10, "the broker")
    return port, broker


def subscribe(processes, port, log):
    """mosquitto_sub on the alert topics into `log`, once it is surely subscribed."""
    with open(log, "w") as out:
        processes.start(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-v", "-q", "1",
                         "-t", PREFIX + "/event", "-t", PREFIX + "/alarm", "-t",
                         PREFIX + "/health"], stdout=out)

    def probe_seen():
        subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(port), "-t",
                        PREFIX + "/health", "-m", '{"type":"probe"}'], timeout=10)
        return '"type":"probe"' in open(log).read()
    wait_for(probe_seen, 10, "the subscriber")


def read_messages(path):
    """[(topic, object)] of a `mosquitto_sub -v` output file, without the test's probes."""
    out = []
    for line in open(path).read().splitlines():
        topic, _, payload = line.partition(" ")
        message = json.loads(payload)
        if message.get("type") != "probe":
            out.append((topic, message))
    return out


def retained_state(port):
    return retained_state_of(port, PREFIX)


def retained_state_of(port, prefix):
    """The state a subscriber that comes late gets at once (retained)."""
    got = subprocess.run(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-t",
                          prefix + "/state", "-C", "1", "-W", "5", "-q", "1"],
                         capture_output=True, text=True, timeout=20)
    assert got.returncode == 0, got.stderr
    return json.loads(got.stdout)


def main():
    global PREFIX
    program, sim_program = (os.path.abspath(p) for p in sys.argv[1:3])
    with tempfile.TemporaryDirectory() as folder, Processes() as processes:
        station = os.path.join(folder, "station")
        PREFIX = default_prefix(station)
        prepare_station(program, station)
        port, broker = start_broker(processes, folder)
        log = os.path.join(folder, "sub.txt")
        subscribe(processes, port, log)
        _, device = start_board(processes, sim_program)
        velkantor = processes.start([program, "--headless", "--station", station, "--port", device,
                                     "--for", "40", "--mqtt", "127.0.0.1:%d" % port],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

        def both_ended():
            ends = [m for t, m in read_messages(log) if m["type"] == "event_end"]
            return len(ends) >= 2
        wait_for(both_ended, 60, "two event ends")

        # A subscriber that comes now still learns the state: online, running, not recording.
        state = retained_state(port)
        assert state["state"] == "online" and state["running"] is True, state
        assert state["station"] == "VELK" and state["board"] == "ok", state

        velkantor.send_signal(signal.SIGTERM)
        output, _ = velkantor.communicate(timeout=30)
        assert velkantor.returncode == 0, output

        messages = read_messages(log)
        events = [(t, m) for t, m in messages if t == PREFIX + "/event"]
        kinds = [(m["type"], m["channel"]) for _, m in events]
        # Each recording channel: its start before its end, once; nothing of the others.
        for ch in (1, 3):
            mine = [k for k, c in kinds if c == ch]
            assert mine[:2] == ["event_start", "event_end"], kinds
        assert {c for _, c in kinds} == {1, 3}, kinds
        files = os.listdir(os.path.join(station, "events"))
        for _, m in events:
            ch = m["channel"]
            assert m["station"] == "VELK", m
            assert m["seed"] == "XX.VELK.." + ["HHN", "HHE", "HHZ", "HH1"][ch - 1], m
            assert m["lock"] in ("L", "N"), m
            assert m["file"] in files, (m, files)
            # Told in UTC, whatever the station's zone: a moment of this run.
            assert abs(utc_epoch(m["time"]) - time.time()) < 600, m
            if m["type"] == "event_end":
                assert m["peak"] > 8000, m
                assert 1 < m["duration"] < 60, m
                assert m["samples"] > 0 and m["at_stop"] is False, m
                start = [s for _, s in events if s["type"] == "event_start" and s["channel"] == ch][0]
                assert start["file"] == m["file"] and start["start"] == m["start"], (start, m)
                assert utc_epoch(m["time"]) >= utc_epoch(start["time"]), (start, m)
        # The alarm once per event of the channel that has one, after its start.
        alarms = [m for t, m in messages if t == PREFIX + "/alarm"]
        assert len(alarms) == 1 and alarms[0]["channel"] == 1, alarms
        assert abs(alarms[0]["value"]) > 15000 and alarms[0]["threshold"] == 15000, alarms
        order = [m["type"] for _, m in messages if m.get("channel") == 1]
        assert order[:3] == ["event_start", "alarm", "event_end"], order
        # A clean end leaves the state offline.
        assert retained_state(port)["state"] == "offline"

        # Killed outright: the broker gives the last will.
        _, device = start_board(processes, sim_program)
        velkantor = processes.start([program, "--headless", "--station", station, "--port", device,
                                     "--mqtt", "127.0.0.1:%d" % port],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: retained_state(port)["state"] == "online", 30, "the state online")
        velkantor.send_signal(signal.SIGKILL)
        velkantor.wait(timeout=10)
        wait_for(lambda: retained_state(port)["state"] == "offline", 10, "the last will")

        # The broker goes away while the station runs; a quake meanwhile is told once it is
        # back (the station tries again with growing pauses).
        _, device = start_board(processes, sim_program, quake_in=15)
        velkantor = processes.start([program, "--headless", "--station", station, "--port", device,
                                     "--mqtt", "127.0.0.1:%d" % port],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        wait_for(lambda: retained_state(port)["state"] == "online", 30, "the state online")
        evtfile = os.path.join(station, "evtfile.dat")

        def summaries():
            return open(evtfile, errors="replace").read().count("Max SLTA")
        before = summaries()
        broker.terminate()
        broker.wait(timeout=10)
        # The quake's two events start and end while there is no broker.
        wait_for(lambda: summaries() >= before + 2, 90, "the events without a broker")
        port, broker = start_broker(processes, folder, port)
        later = os.path.join(folder, "later.txt")
        subscribe(processes, port, later)

        def told():
            types = [m["type"] for _, m in read_messages(later)]
            return types.count("event_start") >= 2 and types.count("event_end") >= 2
        wait_for(told, 90, "the events told after the broker came back")
        velkantor.send_signal(signal.SIGTERM)
        output, _ = velkantor.communicate(timeout=30)
        assert "is gone; connecting again" in output, output
        assert output.count("Alerts: connected to the MQTT broker") == 2, output
        print("MQTT alerts:", len(messages), "messages; retained state and last will seen")


if __name__ == "__main__":
    main()
