#!/usr/bin/env python3
"""The station's DataLink sender against a receiver on loopback that accepts records, then
stops answering (the sender gives up on the connection and on the next one, unanswered),
then goes away and comes back: in the end the receiver holds every record of the archive
exactly once, in order per stream; the event log says when the uplink went and came back and
how many records were sent late; the datalog holds every sample meanwhile. Prints how late
the live records were while the backfill ran.

usage: datalink_push.py VELKANTOR_BINARY
"""
import os
import statistics
import sys
import tempfile
import threading
import time

from datalink_common import (Receiver, Station, check_held, datalog_samples, free_port,
                             record_end, told_late)


def main():
    program = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "network.ini"), "w") as ini:
            ini.write("[datalink]\ntimeout = 5\nbackfill_rate = 5\nclient_id = test_push\n")
        port = free_port()
        receiver = Receiver(port)
        receiver.listen()
        started = time.time()
        station = Station([program, "--headless", "--simulate", "--station", folder,
                           "--archive", "archive", "--datalink", "127.0.0.1:%d" % port])
        try:
            station.wait_for_line("DataLink to 127.0.0.1:%d" % port, 30)
            # It takes records as they are built.
            receiver.wait_for(lambda r: len(r.held) >= 8, 60, "eight records")
            assert receiver.ids and receiver.ids[0].startswith("ID VELKANTOR:test_push:"), \
                receiver.ids
            # It stops answering: the connection, then the next, are given up.
            receiver.stop_answering()
            lost = station.wait_for_line("lost (no acknowledgement for 5 s)", 30)
            # The next connection gets no answer to its ID either, and is given up in turn.
            receiver.wait_for(lambda r: r.unanswered >= 2, 40, "a second unanswered connection")
            # It goes away for a while: connections are refused.
            receiver.go_away()
            threading.Event().wait(10)
            # It comes back: the sender connects again and sends the outage's records late.
            came_back = time.time()
            receiver.come_back()
            station.wait_for_line("uplink to 127.0.0.1:%d back after" % port, 90, lost)
            caught_up = station.wait_for_line("caught up:", 120, lost)
            caught_up_at = time.time()
            code = station.stop()
        finally:
            station.kill()
        output = station.output()
        assert code == 0, output
        late = check_held(receiver, os.path.join(folder, "archive"))
        told = told_late(output)
        assert late > 10 and told == late, (late, told, output)
        # The live records while the backfill ran: from their last sample to the receiver.
        newest = {}
        lateness = []
        for stream, start, _, record, arrival in receiver.held:
            if stream not in newest or start > newest[stream]:
                newest[stream] = start
                if came_back <= arrival <= caught_up_at:
                    lateness.append(arrival - record_end(record))
        assert lateness, "no live record during the backfill"
        # The record builder's latency is 5 s: a record goes out when its oldest sample is
        # that old (or it is full), and it is written at once, whatever the backfill does.
        assert max(lateness) < 5 + 3, lateness
        logged = datalog_samples(folder)
        run_seconds = time.time() - started
        assert len(logged) == 4, logged
        for channel, samples in logged.items():
            assert samples >= (run_seconds - 15) * 100, (channel, samples, run_seconds)
        print("DataLink push: %d records held once each, %d of them sent late; live records "
              "during the backfill %.2f s (median) / %.2f s (max) after their last sample"
              % (len(receiver.held), late, statistics.median(lateness), max(lateness)))


if __name__ == "__main__":
    main()
