// The station page in a real browser: Debian's chromium driven by playwright-core, against
// the real program on a simulated board. Usage: node page_test.mjs VELKANTOR [SCREENSHOT.png]
import { chromium } from "playwright-core";
import { spawn } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import assert from "node:assert/strict";

const program = process.argv[2];
const screenshot = process.argv[3] || "";
const quakeWaitMs = Number(process.env.WEB_TEST_EVENT_WAIT_MS || 600000);
const connectionLimit = 32;

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
    server.on("error", reject);
  });
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function waitFor(what, check, timeoutMs, everyMs = 500) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) throw new Error("timed out waiting for " + what);
    await sleep(everyMs);
  }
}

// A raw connection that sends `text` and collects what comes back until the server closes.
function rawClient(port, text) {
  return new Promise((resolve) => {
    const socket = net.connect(port, "127.0.0.1");
    let reply = "";
    socket.on("connect", () => text && socket.write(text));
    socket.on("data", (d) => (reply += d.toString("latin1")));
    socket.on("error", () => {});
    socket.on("close", () => resolve(reply));
  });
}

function statusOf(reply) {
  const m = /^HTTP\/1\.1 (\d{3})/.exec(reply);
  return m ? Number(m[1]) : 0;
}

const folder = fs.mkdtempSync(path.join(os.tmpdir(), "velkantor-web-"));
const port = await freePort();
const station = spawn(program, ["--headless", "--simulate", "--station", folder, "--web", `127.0.0.1:${port}`],
                      { stdio: ["ignore", "pipe", "pipe"] });
let output = "";
station.stdout.on("data", (d) => (output += d));
station.stderr.on("data", (d) => (output += d));
const exited = new Promise((resolve) => station.on("exit", (code) => resolve(code)));
let browser = null;

try {
  await waitFor("the web page to start", () => output.includes("Web page on"), 30000);
  browser = await chromium.launch({ executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
                                    args: ["--no-sandbox", "--disable-gpu"] });
  const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 1280, height: 900 } });
  const page = await context.newPage();
  const consoleErrors = [];
  page.on("console", (m) => m.type() === "error" && consoleErrors.push(m.text()));
  page.on("pageerror", (e) => consoleErrors.push(String(e)));
  page.on("response", (r) => r.status() >= 400 && consoleErrors.push(r.status() + " " + r.url()));
  await page.goto(`http://127.0.0.1:${port}/`);

  // Every drum enabled in the state is shown, at the drum's own width.
  // (A drum is named once its first picture is on disk; the demo draws one per channel.)
  const state = await waitFor("the drums", async () => {
    const s = await (await page.request.get(`http://127.0.0.1:${port}/api/state.json`)).json();
    return s.channels.length > 0 && s.channels.every((c) => c.drum) ? s : null;
  }, 30000);
  const drums = state.channels.length;
  await page.waitForFunction((n) => {
    const imgs = [...document.querySelectorAll("img.drum")];
    return imgs.length === n && imgs.every((i) => i.complete && i.naturalWidth > 0);
  }, drums, { timeout: 30000 });
  const widths = await page.$$eval("img.drum", (imgs) => imgs.map((i) => i.naturalWidth));
  assert.deepEqual(widths, Array(drums).fill(1600));

  // The board time advances.
  const boardTime = () => page.textContent("#board-time");
  const firstTime = await waitFor("a board time", async () => {
    const t = await boardTime();
    return /\d{4}\/\d\d\/\d\d/.test(t) ? t : null;
  }, 30000);
  await waitFor("the board time to advance", async () => (await boardTime()) !== firstTime, 15000);
  assert.equal(await page.textContent("#acquiring"), "yes");
  assert.ok(await page.isHidden("#stale"), "nothing is stale while samples come");

  // Each channel has its noise figure; before a whole hour it says when the PSD comes, and a
  // channel without calibration says why it is in counts.
  const noise = await page.$$eval("#noise figcaption", (caps) => caps.map((c) => c.textContent));
  assert.equal(noise.length, drums);
  assert.ok(noise.every((t) => /first PSD comes at the end of the first whole hour/.test(t)), noise.join("|"));
  assert.match(noise[0], /Levels in counts: the sensor type is unknown/);

  // The live trace draws: the canvas changes between two pictures.
  await waitFor("trace samples", async () => !(await page.textContent("#trace-note")).includes("waiting"), 20000);
  const trace1 = await page.locator("#trace").screenshot();
  await sleep(4000);
  const trace2 = await page.locator("#trace").screenshot();
  assert.ok(!trace1.equals(trace2), "the trace moves");

  // More connections than the limit, all holding half a request: each newcomer takes the
  // slot of the one that has waited longest for its request (closed without a word), so the
  // extra visitors are served; the slow ones still here hear 408 when their time is up.
  // The page steps away meanwhile, so that its polls open no connections of their own that
  // would take slots as the three newcomers do.
  await page.goto("about:blank");
  const slow = [];
  for (let i = 0; i < connectionLimit; ++i) slow.push(rawClient(port, "GET / HTTP/1.1\r\nHost: x\r\n"));
  await sleep(1000);
  const extra = await Promise.all([1, 2, 3].map(() => rawClient(port, "GET /api/state.json HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")));
  assert.deepEqual(extra.map(statusOf), [200, 200, 200]);
  const slowReplies = await Promise.all(slow);
  const slowStatuses = slowReplies.map(statusOf);
  assert.ok(slowStatuses.every((s) => s === 408 || s === 0), slowStatuses.join(","));
  // The three newcomers took the slots of connections waiting for a request: these slow
  // ones, or the browser's own idle keep-alive connections, which may have waited longer.
  assert.ok(slowStatuses.filter((s) => s === 0).length <= 3, slowStatuses.join(","));
  const huge = await rawClient(port, "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + "a".repeat(20000) + "\r\n\r\n");
  assert.equal(statusOf(huge), 431);
  const many = await rawClient(port, "GET / HTTP/1.1\r\nHost: x\r\n" +
                               Array.from({ length: 100 }, (_, i) => `X-${i}: 1\r\n`).join("") + "\r\n");
  assert.equal(statusOf(many), 431);
  const post = await rawClient(port, "POST /api/state.json HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  assert.equal(statusOf(post), 405);
  const traversal = await rawClient(port, "GET /events/..%2fvelkant.ini HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  assert.equal(statusOf(traversal), 404);
  await page.goto(`http://127.0.0.1:${port}/`);

  // Within the demo's quake interval a finished event appears (its log line written); its
  // link downloads the event file.
  const link = await waitFor("a finished event with a download link",
                             () => page.$("a.event-file.done"), quakeWaitMs, 2000);
  const name = await link.textContent();
  const [download] = await Promise.all([page.waitForEvent("download"), link.click()]);
  const got = fs.readFileSync(await download.path());
  const expected = fs.readFileSync(path.join(folder, "events", name));
  assert.ok(got.equals(expected), "the download is the event file");

  if (screenshot) await page.screenshot({ path: screenshot, fullPage: true });
  assert.deepEqual(consoleErrors, []);

  // The station goes away: the page no longer says "acquiring: yes" in green but marks what
  // it shows as out of date.
  station.kill("SIGTERM");
  await exited;
  await page.waitForSelector("#stale", { state: "visible", timeout: 15000 });
  assert.match(await page.textContent("#stale"), /not answering/);
  assert.equal(await page.textContent("#acquiring"), "unknown");
  assert.equal(await page.getAttribute("#acquiring", "class"), "bad");
} catch (error) {
  console.error(error);
  console.error(output);
  process.exitCode = 1;
} finally {
  if (browser) await browser.close();
  station.kill("SIGTERM");
  await exited;
}

// Every sample was recorded while the visitors came and went.
const filled = /Samples filled \(lost on the line\):(.*)/.exec(output);
if (!filled || /channel \d [1-9]/.test(filled[1])) {
  console.error("samples lost:\n" + output);
  process.exitCode = 1;
}
fs.rmSync(folder, { recursive: true, force: true });
if (process.exitCode) process.exit(process.exitCode);
console.log("web page test passed");
