// seisplotjs's FDSN clients (dataselect, station, availability) against the simulated station's
// page server: the dataselect answer holds exactly the archive's samples of its span; the
// StationXML at level response is well-formed, read by seisplotjs's StationXML reader, and
// states the sensitivity computed by hand from the channel's calibration; availability lists
// the two runs' spans with the gap between them, when the board was silent; bad queries get
// their FDSN error statuses.
//
// usage: node fdsn_services_test.mjs VELKANTOR_BINARY
import { spawn, spawnSync } from "node:child_process";
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
let fdsndataselect, fdsnstation, fdsnavailability, miniseed, util, DateTime;
try {
  // seisplotjs reads XML with the browser's DOMParser and its node classes.
  const xmldom = await import("@xmldom/xmldom");
  for (const name of ["DOMParser", "Element", "Node", "Document"]) globalThis[name] ??= xmldom[name];
  // What the browser's elements have and the package's do not.
  const elements = (node) => {
    const out = [];
    for (let c = node.firstChild; c; c = c.nextSibling) if (c.nodeType === 1) out.push(c);
    return out;
  };
  for (const [name, get] of [["firstElementChild", (n) => elements(n)[0] ?? null],
                             ["childElementCount", (n) => elements(n).length],
                             ["children", (n) => elements(n)]]) {
    if (!(name in xmldom.Element.prototype)) {
      Object.defineProperty(xmldom.Element.prototype, name, { get() { return get(this); } });
    }
  }
  ({ fdsndataselect, fdsnstation, fdsnavailability, miniseed, util } = await import("seisplotjs"));
  // Its clients look for the browser's window to find fetch.
  // Its clients look for the browser's window to find fetch, and name a referrer Node's
  // fetch does not take.
  util.setDefaultFetch((url, init) => {
    const { referrer, ...rest } = init ?? {};
    return fetch(url, rest);
  });
  ({ DateTime } = await import("luxon"));
} catch (e) {
  console.log("SKIP: the npm packages are not installed (scripts/install-js-tests): " + e.message);
  process.exit(77);
}

function run(args) {
  const program = spawn(programPath, ["--headless", "--simulate", "--station", station, ...args],
                        { stdio: ["ignore", "pipe", "pipe"] });
  program.output = "";
  program.stdout.on("data", (d) => { program.output += d; });
  program.stderr.on("data", (d) => { program.output += d; });
  program.ended = new Promise((resolve) => program.on("exit", resolve));
  return program;
}

// The n-th (0-based) "KEY= value" line of velkant.ini set to `value`: one line per channel.
function setChannelKey(text, key, n, value) {
  let seen = -1;
  return text.replace(new RegExp(`^${key}=[^\\r\\n]*`, "gm"),
                      (line) => (++seen === n ? `${key}= ${value} ` : line));
}

function channelKey(text, key, n) {
  const values = [...text.matchAll(new RegExp(`^${key}=\\s*([^\\r\\n]*?)\\s*$`, "gm"))];
  return Number(values[n][1]);
}

// {time in ms: value} of the archive's records of a channel (its day files, read by
// seisplotjs's miniSEED parser).
function archivedSamples(channel) {
  const samples = new Map();
  const files = [];
  const walk = (dir) => {
    for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
      const p = path.join(dir, entry.name);
      if (entry.isDirectory()) walk(p);
      else if (entry.name.includes(`.${channel}.D.`)) files.push(p);
    }
  };
  walk(path.join(station, "archive"));
  for (const file of files) {
    const bytes = fs.readFileSync(file);
    const usable = bytes.length - (bytes.length % 512);
    const buffer = bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + usable);
    for (const record of miniseed.parseDataRecords(buffer)) {
      const start = record.header.startTime.toMillis();
      const values = record.decompress();
      for (let i = 0; i < values.length; ++i) samples.set(start + i * 10, values[i]);
    }
  }
  return samples;
}

const programPath = path.resolve(process.argv[2]);
const station = fs.mkdtempSync(path.join(os.tmpdir(), "velkantor-fdsn-"));
const port = await freePort();
const base = `http://127.0.0.1:${port}/fdsnws`;
fs.writeFileSync(path.join(station, "network.ini"),
                 "[archive]\nfolder = archive\n" +
                 `[web]\nlisten = 127.0.0.1:${port}\n` +
                 "[sensor.3]\nnatural_period = 1\ndamping = 0.707\n" +
                 "description = Vertical velocity sensor, 1 s\n");
let program = null;
try {
  // A first short run, then a pause: the archive's gap.
  program = run(["--for", "8"]);
  if (await program.ended !== 0) fail("first run: " + program.output);
  const firstEnded = Date.now();
  // Channel 3 (HHZ) as a velocity sensor of 0.028 V per mm/s.
  const settingsPath = path.join(station, "velkant.ini");
  let settings = fs.readFileSync(settingsPath, "latin1");
  settings = setChannelKey(settings, "STY", 2, "1");
  settings = setChannelKey(settings, "SSI", 2, "0.028");
  settings = setChannelKey(settings, "MSU", 2, "3");
  fs.writeFileSync(settingsPath, settings, "latin1");
  await new Promise((r) => setTimeout(r, 4000));

  program = run(["--for", "120"]);
  await waitForPort(port, program, "the page server");
  const secondStarted = Date.now();
  // Until the archive holds 20 s of the second run on every channel (the extent says so).
  for (let tries = 0; ; ++tries) {
    if (tries > 90 || program.exitCode !== null) fail("the second run's records did not come");
    const r = await fetch(`${base}/availability/1/extent?format=json`);
    const latest = r.status === 200 ? (await r.json()).datasources.map((d) => Date.parse(d.latest)) : [];
    if (latest.length === 4 && Math.min(...latest) >= secondStarted + 20000) break;
    await new Promise((r) => setTimeout(r, 1000));
  }

  // Discovery: every service's version and description.
  for (const service of ["dataselect", "station", "availability"]) {
    for (const method of ["version", "application.wadl"]) {
      const r = await fetch(`${base}/${service}/1/${method}`);
      if (r.status !== 200) fail(`${service} ${method}: ${r.status}`);
    }
  }

  // Availability: the first run's span, a gap of at least the pause, the second run's span.
  const availability = new fdsnavailability.AvailabilityQuery("127.0.0.1").protocol("http")
    .port(port).networkCode("XX").stationCode("VELK").channelCode("HHZ")
    .startTime(DateTime.fromMillis(firstEnded - 120000)).endTime(DateTime.utc());
  const spans = (await availability.query()).map((sdd) => [sdd.startTime.toMillis(),
                                                          sdd.endTime.toMillis()]);
  spans.sort((a, b) => a[0] - b[0]);
  if (spans.length !== 2) fail("availability spans: " + JSON.stringify(spans));
  if (!(spans[1][0] - spans[0][1] >= 3000)) fail("no gap between the runs: " + JSON.stringify(spans));
  if (!(spans[0][1] - spans[0][0] >= 3000 && spans[1][1] - spans[1][0] >= 15000)) {
    fail("the runs' spans are too short: " + JSON.stringify(spans));
  }

  // Dataselect over both runs: every sample is the archive's, and the archive's samples of
  // the span are all there. The window ends well before the newest record of HHZ: the other
  // channels' records end at other times.
  const window = [spans[0][0] + 1000, spans[1][1] - 8000];
  for (const channel of ["HHN", "HHZ"]) {
    const query = new fdsndataselect.DataSelectQuery("127.0.0.1").protocol("http").port(port)
      .networkCode("XX").stationCode("VELK").channelCode(channel)
      .startTime(DateTime.fromMillis(window[0])).endTime(DateTime.fromMillis(window[1]));
    const seismograms = await query.querySeismograms();
    const archived = archivedSamples(channel);
    const got = new Map();
    for (const seismogram of seismograms) {
      for (const segment of seismogram.segments) {
        const start = segment.startTime.toMillis();
        const values = segment.y;
        for (let i = 0; i < values.length; ++i) got.set(start + i * 10, values[i]);
      }
    }
    let inWindow = 0;
    for (const [t, v] of got) {
      if (archived.get(t) !== v) fail(`${channel} at ${new Date(t).toISOString()}: ${v} != ${archived.get(t)}`);
    }
    for (const [t, v] of archived) {
      if (t < window[0] || t > window[1]) continue;
      ++inWindow;
      if (got.get(t) !== v) fail(`${channel}: the archive's sample at ${new Date(t).toISOString()} is missing`);
    }
    if (inWindow < 1500) fail(`${channel}: only ${inWindow} samples in the window`);
  }

  // The response: StationXML read by seisplotjs, its sensitivity the calibration's.
  const gain = channelKey(settings, "AGF", 2);
  const bits = channelKey(settings, "ADS", 2);
  const range = channelKey(settings, "ADF", 2);
  const expected = (0.028 / 0.001) * gain * 2 ** bits / range;  // counts per m/s
  const stationQuery = new fdsnstation.StationQuery("127.0.0.1").protocol("http").port(port)
    .networkCode("XX").stationCode("VELK");
  const networks = await stationQuery.queryResponses();
  const channels = networks[0].stations[0].channels;
  const z = channels.find((c) => c.channelCode === "HHZ");
  if (!z || !z.hasInstrumentSensitivity()) fail("no response for HHZ");
  const s = z.instrumentSensitivity;
  if (Math.abs(s.sensitivity / expected - 1) > 1e-9 || s.inputUnits !== "m/s" || s.frequency !== 5) {
    fail(`HHZ sensitivity ${s.sensitivity} ${s.inputUnits} at ${s.frequency} Hz, expected ${expected} m/s at 5 Hz`);
  }
  const stages = z.response.stages;
  if (stages.length !== 3 || stages[0].filter.poles.length !== 2 || z.dip !== -90) {
    fail("HHZ stages or dip: " + JSON.stringify({ stages: stages.length, dip: z.dip }));
  }
  const n = channels.find((c) => c.channelCode === "HHN");
  if (n.instrumentSensitivity.inputUnits !== "V") fail("an unknown sensor not described in volts");
  // HHN's epoch is the first run's (kept across the restart); HHZ's began with its new
  // calibration, between the runs.
  if (!(n.startDate.toMillis() < firstEnded - 5000 && z.startDate.toMillis() >= firstEnded - 1000)) {
    fail(`epochs: HHN from ${n.startDate.toISO()}, HHZ from ${z.startDate.toISO()}, first run ended ${new Date(firstEnded).toISOString()}`);
  }

  // Well-formed for an XML parser that knows nothing of seismology.
  const xml = await (await fetch(`${base}/station/1/query?level=response`)).text();
  const lint = spawnSync("xmllint", ["--noout", "-"], { input: xml });
  if (lint.error) console.log("xmllint not installed: well-formedness not checked by it");
  else if (lint.status !== 0) fail("xmllint: " + lint.stderr);

  // Bad queries and empty answers.
  const cases = [
    ["dataselect/1/query?net=XX&bogus=1", 400],
    ["dataselect/1/query?start=2026-12-11T10:00:00&end=2026-12-11T09:00:00", 400],
    ["dataselect/1/query?start=2026-12-01&end=2026-12-03", 413],
    ["dataselect/1/query?start=2026-12-11T1O:00:00", 400],
    ["dataselect/1/query?cha=BH?&start=2026-12-01&end=2026-12-01T01:00:00", 204],
    ["dataselect/1/query?cha=BH?&start=2026-12-01&end=2026-12-01T01:00:00&nodata=404", 404],
    ["station/1/query?sta=NONE", 204],
    ["station/1/query?level=bogus", 400],
    ["availability/1/query?start=2026-01-01&end=2026-03-01", 413],
  ];
  for (const [query, status] of cases) {
    const r = await fetch(`${base}/${query}`);
    const body = await r.text();
    if (r.status !== status) fail(`${query}: ${r.status}, expected ${status}: ${body}`);
    if (status >= 400 && !body.startsWith(`Error ${status}: `)) fail(`${query}: ${body}`);
  }
  console.log(`FDSN services: availability ${JSON.stringify(spans.map((s) => s.map((t) => new Date(t).toISOString())))}, ` +
              `HHZ ${s.sensitivity} counts per m/s, dataselect equal to the archive`);
} finally {
  if (program && program.exitCode === null) {
    program.kill();
    await program.ended;
  }
  fs.rmSync(station, { recursive: true, force: true });
}
// The clients' request timers would keep Node waiting long after the answers came.
process.exit(0);
