"""What the alert tests share: free loopback ports, a station folder prepared for quick
events, a simulated board whose quakes come a few seconds into the run, and processes that
are always ended (by their own PID) when a test finishes."""
import calendar
import os
import re
import signal
import socket
import subprocess
import time

DEMO_SERIAL = "5EED0001"
DEMO_TRIM = "00000001"
QUAKE_EVERY = 40


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


class Processes:
    """Started processes, ended by PID on exit (SIGTERM, then SIGKILL)."""

    def __init__(self):
        self.started = []

    def start(self, args, **kwargs):
        p = subprocess.Popen(args, **kwargs)
        self.started.append(p)
        return p

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for p in reversed(self.started):
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()


def prepare_station(program, folder):
    """A demo station whose channels 1 and 3 record short events by amplitude (channel 1 also
    raises the alarm); channels 2 and 4 record nothing."""
    run = subprocess.run([program, "--headless", "--simulate", "--station", folder, "--for", "1"],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stdout + run.stderr
    path = os.path.join(folder, "velkant.ini")
    text = open(path, newline="").read()
    sections = re.split(r"(?=\[CHANNEL\d\])", text)
    out = []
    for part in sections:
        m = re.match(r"\[CHANNEL(\d)\]", part)
        if m:
            ch = int(m.group(1))
            # Start above 8000 counts for 2 samples, no pre-event; stop below 8000 after 0.1
            # minute, at most a minute.
            part = re.sub(r"TRM=[^\r\n]*", "TRM= 0 ", part)
            part = re.sub(r"STA=[^\r\n]*", "STA=8000,2,0,1,30,3", part)
            part = re.sub(r"STO=[^\r\n]*", "STO=8000,0.1,2,1", part)
            part = re.sub(r"ENA=[^\r\n]*", "ENA= %d " % (1 if ch in (1, 3) else 0), part)
            part = re.sub(r"ALA=[^\r\n]*", "ALA= %d " % (1 if ch == 1 else 0), part)
            part = re.sub(r"ALV=[^\r\n]*", "ALV= 15000 ", part)
        out.append(part)
    open(path, "w", newline="").write("".join(out))


def start_board(processes, sim_program, quake_in=6):
    """A simulated board whose board clock puts the next quake `quake_in` seconds ahead.
    Returns (process, device)."""
    now = int(time.time())
    start = now - (now % QUAKE_EVERY) + QUAKE_EVERY - quake_in
    text = time.strftime("%Y/%m/%d %H:%M:%S", time.gmtime(start))
    sim = processes.start([sim_program, "--model", "ZEDA18", "--quake-every", str(QUAKE_EVERY),
                           "--start", text, "--serial", DEMO_SERIAL, "--trim", DEMO_TRIM],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    device = sim.stdout.readline().strip()
    assert device.startswith("/dev/"), device
    return sim, device


def default_prefix(station_folder):
    """The MQTT topic prefix a station gets by default: host name and station folder's name,
    each in the characters every broker takes."""
    def piece(text):
        return re.sub(r"[^A-Za-z0-9._-]", "_", text[:60]) or "station"
    name = os.path.basename(os.path.normpath(os.path.abspath(station_folder)))
    return "velkantor/%s/%s" % (piece(socket.gethostname()), piece(name))


def utc_epoch(iso):
    """Seconds since 1970 of an ISO 8601 UTC time ("...Z")."""
    return calendar.timegm(time.strptime(iso, "%Y-%m-%dT%H:%M:%SZ"))
