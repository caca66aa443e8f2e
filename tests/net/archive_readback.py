#!/usr/bin/env python3
"""The miniSEED day archive read back by an independent reader (mseed2sac, text SAC): every
channel's samples and start time equal the datalog's.

usage: archive_readback.py VELKANTOR_BINARY
"""
import glob
import os
import struct
import subprocess
import sys
import tempfile
import calendar
import time


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


def datalog_traces(station, channel):
    """{start epoch: values} of a channel's datalog files."""
    traces = {}
    for path in sorted(glob.glob(os.path.join(station, "datalog", "*.LG%d" % channel))):
        name = os.path.basename(path)
        raw = open(path, "rb").read()
        stamp = calendar.timegm((int(name[0:4]), int(name[4:6]), int(name[6:8]),
                                 int(name[9:11]), int(name[11:13]), int(name[13:15])))
        traces[stamp] = list(struct.unpack("<%di" % (len(raw) // 4), raw))
    return traces


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
    with tempfile.TemporaryDirectory() as station:
        # Two runs: the second appends to the day's archive files after a gap.
        for seconds in ("8", "6"):
            run = subprocess.run([program, "--headless", "--simulate", "--station", station,
                                  "--archive", "archive", "--for", seconds],
                                 capture_output=True, text=True, timeout=120)
            assert run.returncode == 0, run.stdout + run.stderr
            assert "miniSEED archive in " + os.path.join(station, "archive") in run.stdout, run.stdout
        first = min(min(datalog_traces(station, ch)) for ch in range(4))
        export = os.path.join(station, "span.mseed")
        begin = time.strftime("%Y/%m/%d %H:%M:%S", time.gmtime(first))
        run = subprocess.run([program, "export", "--station", station, "--from", begin,
                              "--minutes", "2", "--out", export],
                             capture_output=True, text=True, timeout=120)
        assert run.returncode == 0, run.stdout + run.stderr
        assert os.path.getsize(export) % 512 == 0 and os.path.getsize(export) > 0
        out = os.path.join(station, "sac")
        os.mkdir(out)
        compared = 0
        for channel in range(4):
            logged = datalog_traces(station, channel)
            assert len(logged) == 2, logged.keys()
            # The demo's channels: axes N, E, Z and none (the channel number), 100 samples/s.
            code = ["HHN", "HHE", "HHZ", "HH4"][channel]
            files = glob.glob(os.path.join(station, "archive", "*", "XX", "VELK", code + ".D",
                                           "XX.VELK.." + code + ".D.*"))
            assert len(files) == 1, files
            for source in (files[0], export):
                traces = sac_traces(source, code, out)
                assert sorted(traces) == sorted(float(t) for t in logged), (source, sorted(traces), sorted(logged))
                for start, values in logged.items():
                    assert traces[float(start)] == values, (source, code, start)
                    compared += len(values)
        assert compared > 2 * 4 * 2 * 500, compared
        print("archive and export equal the datalog:", compared, "samples")


if __name__ == "__main__":
    main()
