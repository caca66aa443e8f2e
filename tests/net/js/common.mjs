// What the Node tests of the station's services share: failing with a reason, a free port on
// loopback, and waiting for the program's server to listen.
import net from "node:net";

export function fail(message) {
  console.error("FAIL: " + message);
  process.exit(1);
}

export function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.listen(0, "127.0.0.1", () => {
      const port = server.address().port;
      server.close(() => resolve(port));
    });
  });
}

// Waits up to 30 s for `port` to take connections while `program` runs; `what` names the
// server in the failure.
export async function waitForPort(port, program, what) {
  for (let i = 0; i < 150; ++i) {
    if (program.exitCode !== null) fail("the program ended early");
    const open = await new Promise((resolve) => {
      const socket = net.connect(port, "127.0.0.1", () => { socket.end(); resolve(true); });
      socket.on("error", () => resolve(false));
    });
    if (open) return;
    await new Promise((r) => setTimeout(r, 200));
  }
  fail(what + " did not open its port");
}
