#!/usr/bin/env python3
"""The miniSEED day archive read back by an independent reader (mseed2sac, text SAC), with the
station running in a zone ahead of UTC: every channel's samples equal the datalog's, stamped
with the datalog's board times converted to UTC; the newest record is close to real UTC; the
day files are UTC days; a day file torn by a power cut is repaired before the next run appends.

usage: archive_readback.py VELKANTOR_BINARY
"""
import glob
import os
import struct
import subprocess
import sys
import tempfile
import calendar
import datetime
import time
import zoneinfo

# The station's zone: an hour or two ahead of UTC, with summer time.
ZONE = "Europe/Berlin"


def read_text_sac(path):
    """(start epoch seconds, values) of an alphanumeric SAC file."""
    lines = open(path).read().split("\n")
    floats = " ".join(lines[0:14]).split()
    ints = " ".join(lines[14:22]).split()
    b = float(floats[5])
    year, jday, hour, minute, sec, msec = (int(x) for x in ints[0:6])
    npts = int(ints[9])
    start = calendar.timegm((year, 1, 1, hour, minute, sec)) + (jday - 1) * 86400 + msec / 1000 + b
    values = [float(x) for x in " ".join(lines[30:]).split()]
    assert len(values) == npts, (path, len(values), npts)
    return start, values


def board_to_utc(year, month, day, hour, minute, second):
    """Epoch seconds (UTC) of a board time kept in ZONE."""
    local = datetime.datetime(year, month, day, hour, minute, second,
                              tzinfo=zoneinfo.ZoneInfo(ZONE))
    return calendar.timegm(local.utctimetuple())


def datalog_traces(station, channel):
    """{UTC start epoch: values} of a channel's datalog files (named in board time)."""
    traces = {}
    for path in sorted(glob.glob(os.path.join(station, "datalog", "*.LG%d" % channel))):
        name = os.path.basename(path)
        raw = open(path, "rb").read()
        stamp = board_to_utc(int(name[0:4]), int(name[4:6]), int(name[6:8]),
                             int(name[9:11]), int(name[11:13]), int(name[13:15]))
        traces[stamp] = list(struct.unpack("<%di" % (len(raw) // 4), raw))
    return traces


def samples_by_time(traces):
    """{time in 10 ms steps: value} of traces at 100 samples/s."""
    samples = {}
    for start, values in traces.items():
        for k, value in enumerate(values):
            samples[round(float(start) * 100) + k] = value
    return samples


def last_sample_time(path):
    """UTC epoch of the last sample of the last record of a miniSEED file (fixed header)."""
    data = open(path, "rb").read()
    record = data[len(data) - 512:]
    year, jday, hour, minute, second, _, tenth_ms, count, factor, multiplier = struct.unpack(
        ">HHBBBBHHhh", record[20:36])
    rate = factor if factor > 0 else -1.0 / factor
    rate = rate * multiplier if multiplier > 0 else rate / -multiplier
    start = calendar.timegm((year, 1, 1, hour, minute, second)) + (jday - 1) * 86400 + tenth_ms / 1e4
    return start + (count - 1) / rate


def sac_traces(miniseed, code, out):
    """{start epoch: values} of one stream of a miniSEED file, read by mseed2sac."""
    for old in glob.glob(os.path.join(out, "*")):
        os.remove(old)
    reader = subprocess.run(["mseed2sac", "-f", "1", "-O", miniseed], cwd=out,
                            capture_output=True, text=True)
    assert reader.returncode == 0, reader.stderr
    traces = {}
    for path in sorted(glob.glob(os.path.join(out, "*." + code + ".*"))):
        start, values = read_text_sac(path)
        traces[round(start, 3)] = [int(v) for v in values]
    return traces


def main():
    program = os.path.abspath(sys.argv[1])
    env = dict(os.environ, TZ=ZONE)
    with tempfile.TemporaryDirectory() as station:
        # Two runs: the second appends to the day's archive files after a gap, after a power
        # cut tore the end of one of them.
        torn = None
        for seconds in ("8", "6"):
            if torn is None and os.path.isdir(os.path.join(station, "archive")):
                torn = sorted(glob.glob(os.path.join(station, "archive", "*", "XX", "VELK",
                                                     "HHZ.D", "*")))[0]
                with open(torn, "ab") as f:
                    f.write(open(torn, "rb").read()[:300])  # a record cut short
            run = subprocess.run([program, "--headless", "--simulate", "--station", station,
                                  "--archive", "archive", "--for", seconds],
                                 capture_output=True, text=True, timeout=120, env=env)
            assert run.returncode == 0, run.stdout + run.stderr
            stopped = time.time()
            assert "miniSEED archive in " + os.path.join(station, "archive") in run.stdout, run.stdout
        assert "a partial record of 300 bytes at its end (an interrupted write) cut off" in \
            run.stdout, run.stdout
        assert os.path.getsize(torn) % 512 == 0
        # The newest record ends within the latency (5 s) and a little of real UTC.
        newest = max(last_sample_time(p) for p in
                     glob.glob(os.path.join(station, "archive", "*", "XX", "VELK", "*", "*")))
        assert -1 < stopped - newest < 5 + 4, (stopped, newest, stopped - newest)
        first = min(min(datalog_traces(station, ch)) for ch in range(4))
        export = os.path.join(station, "span.mseed")
        # --from is board time.
        begin = datetime.datetime.fromtimestamp(first, zoneinfo.ZoneInfo(ZONE)).strftime(
            "%Y/%m/%d %H:%M:%S")
        run = subprocess.run([program, "export", "--station", station, "--from", begin,
                              "--minutes", "2", "--out", export],
                             capture_output=True, text=True, timeout=120, env=env)
        assert run.returncode == 0, run.stdout + run.stderr
        assert os.path.getsize(export) % 512 == 0 and os.path.getsize(export) > 0
        out = os.path.join(station, "sac")
        os.mkdir(out)
        compared = 0
        for channel in range(4):
            logged = datalog_traces(station, channel)
            # Two runs; a run that crosses a datalog period boundary has two files.
            assert len(logged) >= 2, logged.keys()
            # The demo's channels: axes N, E, Z and none (orientation 1), 100 samples/s.
            code = ["HHN", "HHE", "HHZ", "HH1"][channel]
            files = glob.glob(os.path.join(station, "archive", "*", "XX", "VELK", code + ".D",
                                           "XX.VELK.." + code + ".D.*"))
            assert len(files) == 1, files
            # The day file is the UTC day of its samples.
            day = time.gmtime(first)
            assert files[0].endswith(".%04d.%03d" % (day.tm_year, day.tm_yday)), files
            expected = samples_by_time(logged)
            for source in (files[0], export):
                got = samples_by_time(sac_traces(source, code, out))
                assert got == expected, (source, code, sorted(set(got) ^ set(expected))[:10])
                compared += len(got)
        assert compared > 2 * 4 * 2 * 500, compared
        print("archive and export equal the datalog:", compared, "samples")


if __name__ == "__main__":
    main()
