#!/usr/bin/env python3
"""The SeedLink server of a simulated station against a raw TCP client that speaks as the
common clients do: CR-only line ends, two blanks in STATION, resume numbers written as the
last number plus one, unwrapped, with "0x", INFO ID as a keep-alive while data flows, a
reconnect that resumes by sequence (no gap, no duplicate), FETCH ending in END, resume
numbers the server does not hold (an earlier run's, 1000000, beyond everything held: all
of them start at the oldest record held), a client that stops reading (dropped; the
datalog keeps every sample), 17 clients against a limit of 16 and 9 from one address
against a limit of 8 per address.

usage: seedlink_raw_client.py VELKANTOR_BINARY
"""
import calendar
import glob
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

RUN_SECONDS = 70
RECORD = 512


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def record_times(record):
    """(stream name, first sample epoch, sample count, rate) from a miniSEED 2.4 header."""
    sta, loc, cha, net = record[8:13], record[13:15], record[15:18], record[18:20]
    year, day, hour, minute, sec, _, frac = struct.unpack(">HHBBBBH", record[20:30])
    count, factor, multiplier = struct.unpack(">Hhh", record[30:36])
    rate = factor if factor > 0 else -1.0 / factor
    rate = rate * multiplier if multiplier > 0 else rate / -multiplier
    start = calendar.timegm((year, 1, 1, hour, minute, sec)) + (day - 1) * 86400 + frac / 1e4
    name = b".".join(x.strip() for x in (net, sta, loc, cha)).decode()
    return name, start, count, rate


class Client:
    def __init__(self, port, rcvbuf=None, source="127.0.0.1"):
        """`source`: the loopback address to connect from (all of 127/8 is the loopback)."""
        self.sock = socket.socket()
        if rcvbuf:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        self.sock.settimeout(15)
        self.sock.bind((source, 0))
        self.sock.connect(("127.0.0.1", port))
        self.buffer = b""

    def send(self, text):
        self.sock.sendall(text.encode())

    def read(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError("closed by the server")
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def line(self):
        while b"\r\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError("closed by the server")
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\r\n", 1)
        return text.decode()

    def packet(self):
        """("data", seq, record), ("info", last, record) or ("end", None, None)."""
        head = self.read(3)
        if head == b"END":
            return "end", None, None
        head += self.read(5)
        body = self.read(RECORD)
        if head.startswith(b"SLINFO"):
            return "info", head[7:8] == b" ", body
        assert head.startswith(b"SL") and re.fullmatch(rb"[0-9A-F]{6}", head[2:8]), head
        return "data", int(head[2:8], 16), body

    def hello(self):
        self.send("HELLO\r")
        first, second = self.line(), self.line()
        assert re.match(r"SeedLink v3\.1 \(VELKANTOR [^)]+\) :: SLPROTO:3\.1$", first), first
        assert "CAP" not in first, first
        return second

    def refused(self):
        """Whether the server closed the connection without a word."""
        try:
            self.send("HELLO\r")
            return self.sock.recv(100) == b""
        except (ConnectionResetError, BrokenPipeError):
            return True

    def bye(self):
        """Ends the conversation and waits for the server to close its side."""
        self.send("BYE\r")
        while self.sock.recv(65536):
            pass
        self.close()

    def close(self):
        self.sock.close()


def info_payload(record):
    """The text a miniSEED log record carries."""
    count, = struct.unpack(">H", record[30:32])
    offset, = struct.unpack(">H", record[44:46])
    return record[offset:offset + count]


def held_sequences(port):
    """(oldest held, next to come) from INFO STATIONS."""
    client = Client(port)
    client.send("INFO STATIONS\r")
    xml = b""
    while True:
        kind, last, record = client.packet()
        assert kind == "info", kind
        xml += info_payload(record)
        if last:
            break
    client.close()
    found = re.search(rb'begin_seq="([0-9A-F]{6})" end_seq="([0-9A-F]{6})"', xml)
    assert found, xml
    return int(found.group(1), 16), int(found.group(2), 16)


def resume_start(asked, oldest, following):
    """Where a client resuming with `asked` starts: the number itself when it is held, nothing
    held when it is the next number (the client has everything), else the oldest held."""
    asked &= 0xFFFFFF
    if asked == following:
        return None
    if (asked - oldest) & 0xFFFFFF < (following - oldest) & 0xFFFFFF:
        return asked
    return oldest


def wait_for_server(port, program):
    deadline = time.time() + 30
    while time.time() < deadline:
        assert program.poll() is None, program.communicate()
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.2)
    raise AssertionError("the SeedLink server did not open its port")


def check_continuous(packets):
    """Sequence numbers follow each other and every stream's records join without a gap."""
    seqs = [seq for seq, _ in packets]
    for a, b in zip(seqs, seqs[1:]):
        assert b == (a + 1) & 0xFFFFFF, ("gap or duplicate", hex(a), hex(b))
    ends = {}
    for _, record in packets:
        name, start, count, rate = record_times(record)
        if name in ends:
            assert abs(start - ends[name]) < 0.5 / rate, ("samples missing or repeated", name, start, ends[name])
        ends[name] = start + count / rate


def receive_for(client, seconds, keepalive=None):
    """Data packets for a while, sending INFO ID every `keepalive` seconds."""
    packets, infos = [], 0
    end = time.time() + seconds
    next_info = time.time() + (keepalive or seconds + 1)
    while time.time() < end:
        if keepalive and time.time() >= next_info:
            client.send("INFO ID\r")
            next_info += keepalive
        client.sock.settimeout(max(0.1, min(end, next_info) - time.time()))
        try:
            kind, seq, record = client.packet()
        except socket.timeout:
            continue
        if kind == "data":
            packets.append((seq, record))
        elif kind == "info" and seq:
            infos += 1
            assert b"<seedlink" in record, record
    client.sock.settimeout(15)
    return packets, infos


def datalog_samples(station):
    """Samples per channel and files per channel of the datalog."""
    result = {}
    for path in glob.glob(os.path.join(station, "datalog", "*.LG[0-3]")):
        channel = int(path.rsplit("LG", 1)[1])
        files, samples = result.get(channel, (0, 0))
        result[channel] = (files + 1, samples + os.path.getsize(path) // 4)
    return result


def main():
    program_path = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as station:
        with open(os.path.join(station, "network.ini"), "w") as ini:
            ini.write("[seedlink]\nclients = 16\nclients_per_address = 8\n")
        port = free_port()
        program = subprocess.Popen(
            [program_path, "--headless", "--simulate", "--station", station,
             "--seedlink", "127.0.0.1:%d" % port, "--for", str(RUN_SECONDS)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            wait_for_server(port, program)
            started = time.time()

            # 17 clients against a limit of 16, and at most 8 from one address: the ninth
            # from one address and the 17th are closed at once, without a word.
            crowd = [Client(port, source="127.0.0.2") for _ in range(8)]
            for c in crowd:
                c.hello()
            ninth = Client(port, source="127.0.0.2")
            assert ninth.refused(), "the ninth client from one address was served"
            ninth.close()
            crowd += [Client(port, source="127.0.0.3") for _ in range(8)]
            for c in crowd[8:]:
                c.hello()
            extra = Client(port, source="127.0.0.4")
            assert extra.refused(), "the 17th client was served"
            extra.close()
            # Closed by the server before the next clients come.
            for c in crowd:
                c.bye()

            # A client that stops reading: it asks for everything held, then floods the
            # server with INFO requests and reads nothing.
            stalled = Client(port, rcvbuf=4096)
            stalled.send("DATA 0\r")
            stop_flood = threading.Event()

            def flood():
                try:
                    while not stop_flood.is_set():
                        stalled.send("INFO STREAMS\r")
                        time.sleep(0.1)
                except OSError:
                    pass
            flooder = threading.Thread(target=flood)
            flooder.start()

            # Multi-station mode with CR-only lines and two blanks in STATION; INFO ID as
            # the keep-alive while data flows.
            first = Client(port)
            first.hello()
            first.send("STATION  VELK XX\r")
            assert first.line() == "OK"
            first.send("DATA\r")
            assert first.line() == "OK"
            first.send("END\r")
            packets, infos = receive_for(first, 12, keepalive=2)
            assert len(packets) >= 4, len(packets)
            assert infos >= 4, infos
            first.send("BYE\r")
            first.close()

            # Records keep coming while no one listens; the reconnect resumes as one client
            # library does: the last number plus one, not wrapped, with "0x".
            time.sleep(4)
            resumed = Client(port)
            resumed.hello()
            resumed.send("STATION  VELK XX\r")
            assert resumed.line() == "OK"
            resumed.send("DATA %s\r" % hex(packets[-1][0] + 1))
            assert resumed.line() == "OK"
            resumed.send("END\r")
            more, _ = receive_for(resumed, 10)
            assert more and more[0][0] == (packets[-1][0] + 1) & 0xFFFFFF, (hex(packets[-1][0]), more[:1])
            check_continuous(packets + more)
            resumed.close()

            # Dial-up in uni-station mode: what is buffered from a number on, then END.
            dial = Client(port)
            dial.send("FETCH %06X\r" % packets[0][0])
            fetched = []
            while True:
                kind, seq, record = dial.packet()
                if kind == "end":
                    break
                if kind == "data":
                    fetched.append((seq, record))
            assert len(fetched) >= len(packets) + len(more), (len(fetched), len(packets), len(more))
            assert fetched[:len(packets)] == packets
            check_continuous(fetched)
            dial.close()

            # Numbers the server does not hold start at the oldest record held, for DATA and
            # FETCH alike: an earlier run's (its numbers started from the clock then, sixteen
            # a second), 1000000 (after FFFFFF) and one beyond everything held.
            oldest, following = held_sequences(port)
            now = int(time.time())
            resumes = [
                ("FETCH", "%X" % (((now - 10 * 86400) * 16 + 40) & 0xFFFFFF), "ten days before"),
                ("DATA", "%06X" % (((now - 7 * 86400) * 16 + 40) & 0xFFFFFF), "a week before"),
                ("FETCH", "0x%x" % (((now - 300) * 16 + 40) & 0xFFFFFF), "minutes before"),
                ("FETCH", "1000000", "after FFFFFF"),
                ("DATA", "%06X" % ((following + 0x1000) & 0xFFFFFF), "beyond everything held"),
            ]
            for verb, asked, why in resumes:
                start = resume_start(int(asked, 16), oldest, following)
                client = Client(port)
                client.send("%s %s\r" % (verb, asked))
                kind, seq, record = client.packet()
                got = [(seq, record)]
                while verb == "FETCH" and kind == "data":
                    kind, seq, record = client.packet()
                    got.append((seq, record))
                client.close()
                assert got[0][0] == start, (verb, asked, why, got[0][0], start, oldest)
                if verb == "FETCH":
                    assert got[-1][0] is None, ("FETCH without END", asked)
                    assert len(got) - 1 >= len(fetched), (asked, len(got), len(fetched))
                    check_continuous(got[:-1])

            # Unknown commands get ERROR, and the connection goes on.
            chat = Client(port)
            chat.send("FOO\rSTATION VELK YY\rSTATION  velk\r")
            assert [chat.line() for _ in range(3)] == ["ERROR", "ERROR", "OK"]
            chat.close()

            # The stalled client is dropped within the stall limit.
            deadline = started + RUN_SECONDS - 5
            log = os.path.join(station, "evtfile.dat")
            dropped = None
            while time.time() < deadline and dropped is None:
                text = open(log, errors="replace").read() if os.path.exists(log) else ""
                dropped = re.search(r"SeedLink client 127\.0\.0\.1:%d disconnected: "
                                    r"(stopped reading|output queue overflow)" %
                                    stalled.sock.getsockname()[1], text)
                time.sleep(1)
            stop_flood.set()
            flooder.join()
            stalled.close()
            assert dropped, "the client that stopped reading was not dropped"
            output, _ = program.communicate(timeout=RUN_SECONDS + 60)
            assert program.returncode == 0, output
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()

        # The event log: one line per connect and per disconnect, the refusal, nothing per packet.
        text = open(os.path.join(station, "evtfile.dat"), errors="replace").read()
        connects = len(re.findall(r"SeedLink client \S+ connected", text))
        disconnects = len(re.findall(r"SeedLink client \S+ disconnected", text))
        # 16 + 5 clients, the INFO STATIONS client, the resumes, and the probe that waited
        # for the port to open.
        assert connects == 16 + 5 + 1 + len(resumes) + 1, (connects, text)
        assert disconnects == connects, (disconnects, text)
        assert len(re.findall(r"SeedLink client \S+ refused: the limit of 8 clients from one "
                              r"address", text)) == 1, text
        assert len(re.findall(r"SeedLink client \S+ refused: the limit of 16 clients", text)) == 1, text
        # The station lost nothing to the slow client: one datalog file per channel (two
        # when the run crossed a datalog period), as many samples as the run lasted.
        logged = datalog_samples(station)
        assert len(logged) == 4, logged
        for channel, (files, samples) in logged.items():
            assert files in (1, 2), (channel, files)
            assert samples >= (RUN_SECONDS - 10) * 100, (channel, samples)
        print("SeedLink raw client: %d + %d packets resumed without gap, %d fetched, %d INFO "
              "keep-alives; stalled client dropped" % (len(packets), len(more), len(fetched), infos))


if __name__ == "__main__":
    main()
