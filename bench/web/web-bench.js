// The web side of qz81kt serve, each figure beside its peer (run by bench/web-bench.sh):
//   1. page load to live display (a running timecode on the rack page), beside the bare
//      GET /api/units that the page's data alone takes;
//   2. 20 event streams at once: how far each is behind "qz81kt status --watch" on the
//      same unit, by the moment each timecode value arrives;
//   3. the server's CPU with one page open, beside none.
// Environment: PORT, SERVE_PID, QZ81KT (the command line), SECONDS.
"use strict";
const { spawn } = require("child_process");
const fs = require("fs");
const { launchChromium } = require("../../tests/e2e/web/browser");

const base = `http://127.0.0.1:${process.env.PORT}`;
const seconds = Number(process.env.SECONDS || 10);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const median = (a) => [...a].sort((x, y) => x - y)[Math.floor(a.length / 2)];
const max = (a) => a.reduce((m, x) => Math.max(m, x), 0);

// CPU time of every thread of the process, in milliseconds.
function cpuMs(pid) {
  let ns = 0;
  for (const task of fs.readdirSync(`/proc/${pid}/task`))
    ns += Number(fs.readFileSync(`/proc/${pid}/task/${task}/schedstat`, "utf8").split(" ")[0]);
  return ns / 1e6;
}

async function pageLoad(page) {
  const loads = [], gets = [];
  for (let run = 0; run < 7; run++) {
    await page.goto("about:blank");
    const t = performance.now();
    await page.goto(base + "/");
    await page.waitForFunction(() => {
      const dd = document.querySelector('.card [data-status="timecode"] dd');
      return dd && /\d\d:\d\d:\d\d/.test(dd.textContent);
    }, null, { polling: "raf" });
    loads.push(performance.now() - t);
    const g = performance.now();
    await (await fetch(base + "/api/units")).json();
    gets.push(performance.now() - g);
  }
  console.log(`page load to live display: median ${median(loads).toFixed(0)} ms, worst ${max(loads).toFixed(0)} ms` +
    ` (goal <= 300)   beside GET /api/units: median ${median(gets).toFixed(1)} ms`);
  return page;
}

// Each timecode value of the first unit, with the moment it arrived, from one stream.
async function followStream(arrivals, signal) {
  const response = await fetch(base + "/api/events", { signal });
  const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
  let buffer = "", unit = null;
  try {
    for (;;) {
      const { value, done } = await reader.read();
      if (done) return;
      const now = performance.now();
      buffer += value;
      let end;
      while ((end = buffer.indexOf("\n\n")) >= 0) {
        const data = buffer.slice(0, end).split("\n").find((l) => l.startsWith("data: "));
        buffer = buffer.slice(end + 2);
        if (!data) continue;
        const doc = JSON.parse(data.slice(6));
        if (doc.units) unit = doc.units[0].identity.id;
        else if (doc.unit === unit && doc.status && doc.status.timecode) arrivals.set(doc.status.timecode.trim(), now);
      }
    }
  } catch (e) {
    if (!signal.aborted) throw e;
  }
}

async function streams(inPort) {
  const peer = new Map(), streams = Array.from({ length: 20 }, () => new Map());
  const watch = spawn(process.env.QZ81KT, ["--api", "jack", "--in", inPort, "status", "--watch"]);
  let rest = "";
  watch.stdout.on("data", (chunk) => {
    const now = performance.now();
    const lines = (rest + chunk).split("\n");
    rest = lines.pop();
    for (const line of lines) peer.set(line.split("|")[0].trim(), now);
  });
  const controller = new AbortController();
  const running = streams.map((s) => followStream(s, controller.signal));
  await sleep(seconds * 1000);
  controller.abort();
  watch.kill("SIGINT");
  await Promise.allSettled(running);
  const behind = [];
  let missing = 0;
  for (const s of streams)
    for (const [tc, t] of peer) {
      if (s.has(tc)) behind.push(s.get(tc) - t);
      else missing++;
    }
  // serve and the peer poll the unit each on its own clock, so only the timecode values
  // both happened to read are compared.
  console.log(`20 event streams for ${seconds} s: behind status --watch median ${median(behind).toFixed(0)} ms, ` +
    `worst ${max(behind).toFixed(0)} ms (goal <= 200) over ${behind.length} values both read ` +
    `(${missing} read by the peer alone)`);
}

async function cpu(page) {
  const pid = Number(process.env.SERVE_PID);
  await page.goto("about:blank");
  await sleep(500);
  let c = cpuMs(pid);
  await sleep(seconds * 1000);
  const none = (cpuMs(pid) - c) / seconds / 10;
  await page.goto(base + "/");
  await page.waitForSelector(".card");
  c = cpuMs(pid);
  await sleep(seconds * 1000);
  const one = (cpuMs(pid) - c) / seconds / 10;
  console.log(`serve's CPU over ${seconds} s: ${one.toFixed(2)} % of a core with one page open, beside ` +
    `${none.toFixed(2)} % with none`);
}

(async () => {
  const { page: blank, close } = await launchChromium();
  try {
    const page = await pageLoad(blank);
    await cpu(page);
    await page.goto("about:blank");
    await streams(process.env.IN_PORT);
  } finally {
    await close();
  }
})();
