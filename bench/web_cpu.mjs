// CPU of the headless station on the simulated board with its page open in a browser
// (Debian's chromium, refreshing state, events and the live trace as a visitor's would),
// against the same station without the page. Each measured over SECONDS after a 15-s start.
// Usage: node bench/web_cpu.mjs [BUILD_DIR] [SECONDS]
// (playwright-core is the one the browser test installs under BUILD_DIR/tests/web.)
import { spawn } from "node:child_process";
import { createRequire } from "node:module";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";

const build = path.resolve(process.argv[2] || "build/release");
const seconds = Number(process.argv[3] || 60);
const program = path.join(build, "velkantor");
const { chromium } = createRequire(path.join(build, "tests/web/"))("playwright-core");
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const ticksPerSecond = 100;  // USER_HZ on Linux

function cpuTicks(pid) {
  const fields = fs.readFileSync(`/proc/${pid}/stat`, "utf8").split(")").pop().trim().split(/\s+/);
  return Number(fields[11]) + Number(fields[12]);  // utime + stime, all threads
}

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, "127.0.0.1", () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

async function measure(withPage) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), "velkantor-webcpu-"));
  const port = await freePort();
  const args = ["--headless", "--simulate", "--station", folder];
  if (withPage) args.push("--web", `127.0.0.1:${port}`);
  const station = spawn(program, args, { stdio: "ignore" });
  const exited = new Promise((r) => station.on("exit", r));
  let browser = null;
  try {
    await sleep(15000);
    if (withPage) {
      browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
      const page = await browser.newPage();
      await page.goto(`http://127.0.0.1:${port}/`);
    }
    const t0 = Date.now(), c0 = cpuTicks(station.pid);
    await sleep(seconds * 1000);
    const t1 = Date.now(), c1 = cpuTicks(station.pid);
    return (100 * (c1 - c0) / ticksPerSecond) / ((t1 - t0) / 1000);
  } finally {
    if (browser) await browser.close();
    station.kill("SIGTERM");
    await exited;
    fs.rmSync(folder, { recursive: true, force: true });
  }
}

const without = await measure(false);
const withPage = await measure(true);
console.log(`headless station, 4 x 100 samples/s, ${seconds} s:`);
console.log(`  without page ${without.toFixed(2)} % of one core`);
console.log(`  page open    ${withPage.toFixed(2)} % of one core`);
console.log(`  added        ${(withPage - without).toFixed(2)} % of one core`);
