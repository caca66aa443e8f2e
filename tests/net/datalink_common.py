"""A DataLink 1.0 receiver written from the protocol's description, for the station's sender
to push to on loopback, and the reading of the station's archive to compare with.

Every exchange is "DL", a byte giving the header's length, the header, then the data the
header announces. The receiver answers ID with its own ID and capabilities, and each WRITE
with flag A with "OK <packet id> 0" once it holds the record (a WRITE with N is held without
a word). It can stop answering (it stops reading its connections and accepting new ones: what
it has read and not acknowledged is not held) and go away (every socket closed), then come
back on the same port.
"""
import calendar
import glob
import os
import socket
import struct
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def record_key(record):
    """(stream as the sender names it, first sample in microseconds) from a miniSEED 2 header,
    with blockette 1001's microseconds."""
    sta, loc, cha, net = record[8:13], record[13:15], record[15:18], record[18:20]
    year, day, hour, minute, sec, _, frac = struct.unpack(">HHBBBBH", record[20:30])
    micro = (calendar.timegm((year, 1, 1, hour, minute, sec)) + (day - 1) * 86400) * 1000000
    micro += frac * 100
    next_blockette = struct.unpack(">H", record[46:48])[0]
    while 48 <= next_blockette < 508:
        kind, following = struct.unpack(">HH", record[next_blockette:next_blockette + 4])
        if kind == 1001:
            micro += struct.unpack(">b", record[next_blockette + 5:next_blockette + 6])[0]
            break
        if following <= next_blockette:
            break
        next_blockette = following
    name = "_".join(x.strip().decode() for x in (net, sta, loc, cha))
    return name, micro


def record_end(record):
    """Epoch seconds of a record's last sample."""
    _, start = record_key(record)
    count, factor, multiplier = struct.unpack(">Hhh", record[30:36])
    rate = factor if factor > 0 else -1.0 / factor
    rate = rate * multiplier if multiplier > 0 else rate / -multiplier
    return start / 1e6 + (count - 1) / rate


def archive_records(archive):
    """{stream: [record bytes in file order]} of every day file of the archive."""
    streams = {}
    for path in sorted(glob.glob(os.path.join(archive, "*", "*", "*", "*.D", "*"))):
        data = open(path, "rb").read()
        assert len(data) % 512 == 0, path
        for at in range(0, len(data), 512):
            record = data[at:at + 512]
            streams.setdefault(record_key(record)[0], []).append(record)
    return streams


def datalog_samples(station):
    """Samples per channel of the datalog."""
    result = {}
    for path in glob.glob(os.path.join(station, "datalog", "*.LG[0-3]")):
        channel = int(path.rsplit("LG", 1)[1])
        result[channel] = result.get(channel, 0) + os.path.getsize(path) // 4
    return result


class Receiver:
    def __init__(self, port):
        self.port = port
        self.changed = threading.Condition()
        self.held = []  # (stream id, start, end, record, arrival time) in order of arrival
        self.ids = []
        self.connections = 0
        self.unanswered = 0  # connections taken while not answering, never read
        self.answering = True
        self.listener = None
        self.sockets = set()
        self.errors = []

    # -- phases -------------------------------------------------------------------------
    def listen(self):
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", self.port))
        listener.listen(8)
        self.listener = listener
        threading.Thread(target=self._accept, args=(listener,), daemon=True).start()

    def stop_answering(self):
        with self.changed:
            self.answering = False
            self.changed.notify_all()

    def go_away(self):
        """Every socket closed: connections to the port are refused until `come_back`."""
        with self.changed:
            self.answering = False
            listener, self.listener = self.listener, None
            sockets, self.sockets = self.sockets, set()
            self.changed.notify_all()
        if listener:
            listener.shutdown(socket.SHUT_RDWR)
            listener.close()
        for s in sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def come_back(self):
        with self.changed:
            self.answering = True
            self.changed.notify_all()
        self.listen()

    def wait_for(self, condition, timeout, what):
        with self.changed:
            if not self.changed.wait_for(lambda: condition(self), timeout):
                raise AssertionError("timed out waiting for " + what)

    # -- the protocol -------------------------------------------------------------------
    def _accept(self, listener):
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            with self.changed:
                if not self.answering or self.listener is not listener:
                    # Not answering: the connection is left as it is, never read.
                    self.sockets.add(conn)
                    self.unanswered += 1
                    self.changed.notify_all()
                    continue
                self.sockets.add(conn)
                self.connections += 1
                self.changed.notify_all()
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _read(self, conn, buffer, n):
        while len(buffer) < n:
            chunk = conn.recv(65536)
            if not chunk:
                raise EOFError()
            buffer += chunk
        return buffer[:n], buffer[n:]

    def _serve(self, conn):
        buffer = b""
        try:
            while True:
                preamble, buffer = self._read(conn, buffer, 3)
                if preamble[:2] != b"DL":
                    self.errors.append("not DL: %r" % preamble)
                    return
                header, buffer = self._read(conn, buffer, preamble[2])
                words = header.decode().split()
                data = b""
                if words[0] == "WRITE":
                    size = int(words[5])
                    data, buffer = self._read(conn, buffer, size)
                with self.changed:
                    if not self.answering:
                        # Read and never acknowledged: not held. The connection stays open
                        # and unread until the station gives up on it or the receiver goes.
                        self.changed.wait_for(lambda: conn not in self.sockets)
                        return
                if words[0] == "ID":
                    with self.changed:
                        self.ids.append(header.decode())
                        self.changed.notify_all()
                    reply = b"ID DataLink 2024.001 :: DLPROTO:1.0 PACKETSIZE:512 WRITE"
                    conn.sendall(b"DL" + bytes([len(reply)]) + reply)
                elif words[0] == "WRITE":
                    stream, start, end, flags = words[1], int(words[2]), int(words[3]), words[4]
                    assert stream.endswith("/MSEED"), stream
                    assert len(data) == 512 and record_key(data) == (stream[:-6], start), \
                        (stream, start, record_key(data))
                    with self.changed:
                        self.held.append((stream[:-6], start, end, data, time.time()))
                        packet = len(self.held)
                        self.changed.notify_all()
                    if "A" in flags:
                        reply = ("OK %d 0" % packet).encode()
                        conn.sendall(b"DL" + bytes([len(reply)]) + reply)
                else:
                    reply = b"ERROR 1 0"
                    conn.sendall(b"DL" + bytes([len(reply)]) + reply)
        except (EOFError, OSError):
            with self.changed:
                self.sockets.discard(conn)
                self.changed.notify_all()


def check_held(receiver, archive):
    """Every record of the archive held exactly once, and in order per stream: the records
    that came live (each later than all before it) and those sent late from the archive
    (earlier than one held already) each rise, the late ones oldest first across all the
    stream's outages. Returns the number that came late."""
    expected = archive_records(archive)
    got = {}
    for stream, start, _, record, _ in receiver.held:
        got.setdefault(stream, []).append((start, record))
    assert sorted(got) == sorted(expected), (sorted(got), sorted(expected))
    late = 0
    for stream, records in expected.items():
        held = got[stream]
        assert len(held) == len(set(r for _, r in held)), "%s: a record held twice" % stream
        assert sorted(r for _, r in held) == sorted(records), \
            "%s: held %d, archive %d" % (stream, len(held), len(records))
        newest = None
        last_late = None
        for start, _ in held:
            if newest is None or start > newest:
                newest = start
                continue
            late += 1
            assert last_late is None or start > last_late, \
                "%s: a late record older than the one sent late before it" % stream
            last_late = start
    return late


def told_late(output):
    """The records the station's "caught up: N records sent late" lines add up to."""
    return sum(int(line.split("caught up: ")[1].split()[0])
               for line in output.splitlines() if "caught up: " in line)


class Station:
    """The station as a process, its output read line by line as it comes."""

    def __init__(self, args):
        import subprocess
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True)
        self.lines = []
        self.changed = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            with self.changed:
                self.lines.append(line.rstrip("\n"))
                self.changed.notify_all()
        with self.changed:
            self.lines.append(None)  # the end of the output
            self.changed.notify_all()

    def wait_for_line(self, text, timeout, after=0):
        """The index of the first line from `after` on holding `text`."""
        def found():
            for i in range(after, len(self.lines)):
                if self.lines[i] is not None and text in self.lines[i]:
                    return i
            return None
        with self.changed:
            ok = self.changed.wait_for(lambda: found() is not None or None in self.lines,
                                       timeout)
            index = found()
            assert ok and index is not None, "no line with %r in:\n%s" % (
                text, "\n".join(l for l in self.lines if l is not None))
            return index

    def stop(self):
        import signal
        self.process.send_signal(signal.SIGINT)
        code = self.process.wait(timeout=60)
        with self.changed:
            self.changed.wait_for(lambda: None in self.lines, 10)
        return code

    def output(self):
        with self.changed:
            return "\n".join(l for l in self.lines if l is not None)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
