#!/usr/bin/env python3
"""A station stopped in the middle of a backfill and started again resumes it from its state
file: the first run meets no server for its first half minute, then one that takes records,
and is stopped while the records of the outage are still going out slowly (one a second); the
second run sends the rest at once. The receiver ends with every record of both runs' archive
exactly once, in order per stream.

usage: datalink_restart.py VELKANTOR_BINARY
"""
import os
import sys
import tempfile
import threading

from datalink_common import Receiver, Station, check_held, free_port, told_late


def late_records(receiver):
    """Records held that are older than one of their stream held before them."""
    newest, late = {}, 0
    for stream, start, _, _, _ in receiver.held:
        if stream in newest and start <= newest[stream]:
            late += 1
        else:
            newest[stream] = start
    return late


def main():
    program = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as folder:
        ini = os.path.join(folder, "network.ini")
        port = free_port()
        receiver = Receiver(port)  # not listening yet: the first run's outage
        args = [program, "--headless", "--simulate", "--station", folder, "--archive",
                "archive", "--datalink", "127.0.0.1:%d" % port]

        with open(ini, "w") as f:
            f.write("[datalink]\ntimeout = 5\nbackfill_rate = 1\n")
        station = Station(args)
        try:
            station.wait_for_line("DataLink: the server 127.0.0.1:%d cannot be reached" % port, 30)
            # Records of every channel made while the server is not there.
            threading.Event().wait(20)
            receiver.come_back()
            station.wait_for_line("uplink to 127.0.0.1:%d up" % port, 60)
            receiver.wait_for(lambda r: late_records(r) >= 3, 60, "three records sent late")
            code = station.stop()
        finally:
            station.kill()
        first_output = station.output()
        assert code == 0, first_output
        assert "records sent late from the archive; the rest go when the station runs again" \
            in first_output, first_output
        assert "caught up" not in first_output, first_output
        state = open(os.path.join(folder, "datalink.state")).read()
        assert state.startswith("velkantor datalink state 1\nserver 127.0.0.1:%d\n" % port), state
        late_first = late_records(receiver)

        with open(ini, "w") as f:
            f.write("[datalink]\ntimeout = 5\nbackfill_rate = 50\n")
        station = Station(args)
        try:
            station.wait_for_line("caught up:", 120)
            code = station.stop()
        finally:
            station.kill()
        second_output = station.output()
        assert code == 0, second_output
        late = check_held(receiver, os.path.join(folder, "archive"))
        told = told_late(second_output)
        assert told == late - late_first > 0, (told, late, late_first, second_output)
        print("DataLink restart: %d records held once each; %d sent late before the restart, "
              "%d after it" % (len(receiver.held), late_first, told))


if __name__ == "__main__":
    main()
