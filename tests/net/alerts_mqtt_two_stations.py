#!/usr/bin/env python3
"""Two stations on one machine and one real MQTT broker (Debian's mosquitto on a loopback
port), both on default alert settings: each keeps its one connection for the whole run (a
shared client id would have the broker drop one for the other, over and over), each tells
its quake under a topic of its own, and each leaves its own retained state. One of them logs
in with a password from its password file, which appears in no line of its console or event
log.

usage: alerts_mqtt_two_stations.py VELKANTOR_BINARY VELKANTOR_SIM_BINARY
"""
import json
import os
import subprocess
import sys
import tempfile

from alerts_common import Processes, default_prefix, prepare_station, start_board, wait_for
from alerts_mqtt import retained_state_of, start_broker

PASSWORD = "SECRETPASSWORD-7d3f"


def main():
    program, sim_program = (os.path.abspath(p) for p in sys.argv[1:3])
    with tempfile.TemporaryDirectory() as folder, Processes() as processes:
        stations = [os.path.join(folder, name) for name in ("north", "south")]
        for station in stations:
            prepare_station(program, station)
        with open(os.path.join(stations[1], "mqtt.pw"), "w") as f:
            f.write(PASSWORD + "\n")
        with open(os.path.join(stations[1], "network.ini"), "w") as f:
            f.write("[alerts]\nmqtt_user = south\nmqtt_password_file = mqtt.pw\n")
        prefixes = [default_prefix(s) for s in stations]
        assert prefixes[0] != prefixes[1], prefixes
        port, _ = start_broker(processes, folder)
        log = os.path.join(folder, "sub.txt")
        with open(log, "w") as out:
            processes.start(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-v", "-q", "1",
                             "-t", "velkantor/#"], stdout=out)

        def probe_seen():
            subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(port), "-t",
                            "velkantor/probe", "-m", "{}"], timeout=10)
            return "velkantor/probe" in open(log).read()
        wait_for(probe_seen, 10, "the subscriber")

        runs = []
        for station in stations:
            _, device = start_board(processes, sim_program)
            runs.append(processes.start([program, "--headless", "--station", station, "--port",
                                         device, "--for", "30", "--mqtt", "127.0.0.1:%d" % port],
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True))

        def messages():
            out = []
            for line in open(log).read().splitlines():
                topic, _, payload = line.partition(" ")
                if topic != "velkantor/probe":
                    out.append((topic, json.loads(payload)))
            return out

        def both_told():
            ends = [t for t, m in messages() if m["type"] == "event_end"]
            return all(ends.count(p + "/event") >= 2 for p in prefixes)
        wait_for(both_told, 60, "each station's quake under its own topic")
        outputs = []
        for run in runs:
            output, _ = run.communicate(timeout=60)
            assert run.returncode == 0, output
            outputs.append(output)

        for prefix, station, output in zip(prefixes, stations, outputs):
            assert "MQTT alerts to 127.0.0.1:%d under %s" % (port, prefix) in output, output
            # One connection for the whole run: never dropped for the other station.
            assert output.count("Alerts: connected to the MQTT broker") == 1, output
            assert "is gone" not in output, output
            mine = [t for t, _ in messages() if t.startswith(prefix + "/")]
            assert {prefix + "/event", prefix + "/state"} <= set(mine), (prefix, set(mine))
            assert retained_state_of(port, prefix)["state"] == "offline"
            log_text = open(os.path.join(station, "evtfile.dat"), errors="replace").read()
            for text in (output, log_text):
                assert PASSWORD not in text, text
        print("two stations on one broker:", ", ".join(prefixes))


if __name__ == "__main__":
    main()
