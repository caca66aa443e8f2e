// seisplotjs's SeedLink 3 client over WebSocket and its miniSEED parser against the
// simulated station: every record it receives holds exactly the datalog's samples at the
// same start time.
//
// usage: node seedlink_websocket_test.mjs VELKANTOR_BINARY
import { spawn } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import { fail, freePort, waitForPort } from "./common.mjs";

// The package's Node build still defines its web components; they are never used here.
for (const name of ["HTMLElement", "HTMLDivElement", "HTMLSelectElement", "HTMLInputElement",
                    "HTMLCanvasElement", "HTMLLabelElement"]) {
  globalThis[name] ??= class {};
}
globalThis.customElements ??= { define() {}, get() { return undefined; } };
// Node before 22 has no WebSocket of its own without a flag.
let seedlink;
try {
  globalThis.WebSocket ??= (await import("ws")).WebSocket;
  ({ seedlink } = await import("seisplotjs"));
} catch (e) {
  console.log("SKIP: the npm packages are not installed (scripts/install-js-tests): " + e.message);
  process.exit(77);
}

const RUN_SECONDS = 40;
const LISTEN_SECONDS = 20;
const CODES = ["HHN", "HHE", "HHZ", "HH1"];  // the demo station's channels 1-4

// {channel: [{start ms, samples}]} of the datalog files (little-endian int32, 100/s).
function datalog(station) {
  const result = {};
  for (const name of fs.readdirSync(path.join(station, "datalog"))) {
    const m = name.match(/^(\d{4})(\d{2})(\d{2})_(\d{2})(\d{2})(\d{2})[^.]*\.LG(\d)$/);
    if (!m) continue;
    const start = Date.UTC(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]);
    const raw = fs.readFileSync(path.join(station, "datalog", name));
    const samples = new Int32Array(raw.length / 4);
    for (let i = 0; i < samples.length; ++i) samples[i] = raw.readInt32LE(4 * i);
    (result[+m[7]] ??= []).push({ start, samples });
  }
  return result;
}

const program_path = path.resolve(process.argv[2]);
const station = fs.mkdtempSync(path.join(os.tmpdir(), "velkantor-ws-"));
const port = await freePort();
const program = spawn(program_path, ["--headless", "--simulate", "--station", station,
                                     "--seedlink", `127.0.0.1:${port}`,
                                     "--for", String(RUN_SECONDS)],
                      { stdio: ["ignore", "pipe", "pipe"] });
let output = "";
program.stdout.on("data", (d) => { output += d; });
program.stderr.on("data", (d) => { output += d; });
const ended = new Promise((resolve) => program.on("exit", resolve));

try {
  await waitForPort(port, program, "the SeedLink server");
  const received = [];
  let error = null;
  const connection = new seedlink.SeedlinkConnection(
    `ws://127.0.0.1:${port}`, ["STATION VELK XX", "SELECT ??HH?.D"],
    (packet) => received.push(packet), (e) => { error = e; });
  await connection.connect();
  if (error) fail("connect: " + error);
  if (!/^SeedLink v3\.1 \(VELKANTOR /.test(connection.helloLines[0])) {
    fail("greeting: " + connection.helloLines);
  }
  await new Promise((r) => setTimeout(r, LISTEN_SECONDS * 1000));
  connection.close();
  if (error) fail("while receiving: " + error);

  const code = await ended;
  if (code !== 0) fail(`the program ended with ${code}: ${output}`);
  const logged = datalog(station);

  let compared = 0;
  const perChannel = {};
  let previous = null;
  for (const packet of received) {
    if (previous !== null && packet.sequence !== ((previous + 1) & 0xffffff)) {
      fail(`sequence ${packet.sequence} after ${previous}`);
    }
    previous = packet.sequence;
    const header = packet.miniseed.header;
    const channel = CODES.indexOf(header.chanCode);
    if (channel < 0 || header.netCode !== "XX" || header.staCode !== "VELK") {
      fail("unexpected stream " + packet.miniseed.codes());
    }
    const start = header.startTime.toMillis();
    const values = packet.miniseed.decompress();
    if (values.length !== header.numSamples || values.length === 0) fail("sample count");
    const file = (logged[channel] ?? []).find(
      (f) => start >= f.start && start < f.start + f.samples.length * 10);
    if (!file) fail(`no datalog file holds ${header.chanCode} at ${header.startTime.toISO()}: ` + JSON.stringify((logged[channel] ?? []).map((f) => [new Date(f.start).toISOString(), f.samples.length])));
    const offset = (start - file.start) / 10;
    if (!Number.isInteger(offset)) fail(`start ${header.startTime.toISO()} is between samples`);
    // A record runs on across a datalog period's end: its later samples are in the next file.
    const sampleAt = (ms) => {
      const f = (logged[channel] ?? []).find((g) => ms >= g.start && ms < g.start + g.samples.length * 10);
      return f ? f.samples[(ms - f.start) / 10] : undefined;
    };
    for (let i = 0; i < values.length; ++i) {
      const logged_value = sampleAt(start + i * 10);
      if (values[i] !== logged_value) {
        fail(`${header.chanCode} sample ${i} of the record at ${header.startTime.toISO()}: ` +
             `${values[i]} != ${logged_value}`);
      }
    }
    compared += values.length;
    perChannel[header.chanCode] = (perChannel[header.chanCode] ?? 0) + values.length;
  }
  for (const c of CODES) {
    if (!(perChannel[c] > 500)) fail(`too few samples of ${c}: ${JSON.stringify(perChannel)}`);
  }
  console.log(`seisplotjs over WebSocket: ${received.length} records, ${compared} samples ` +
              "equal the datalog's");
} finally {
  if (program.exitCode === null) program.kill();
  fs.rmSync(station, { recursive: true, force: true });
}
