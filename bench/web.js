// bench/web.sh's browser half: each movie of the list (lines "SIZE TYPE
// MOVIE NATIVE_FPS") served by `zemo3 view`, opened in headless Chromium on
// each path, and window.zemo3.bench() run over its frames held in memory.
"use strict";
const fs = require("fs");
const os = require("os");
const path = require("path");
const { spawn } = require("child_process");
const puppeteer = require("puppeteer-core");

const [list, frames] = [process.argv[2], Number(process.argv[3] || 20)];
const children = new Set();
const profile = fs.mkdtempSync(path.join(os.tmpdir(), "zemo3-bench-web-"));
process.on("exit", () => {
  for (const c of children) c.kill("SIGKILL");
  fs.rmSync(profile, { recursive: true, force: true });
});

function view(movie) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.env.ZEMO3, ["view", movie, "--no-open"]);
    children.add(child);
    let out = "";
    child.stdout.on("data", (d) => {
      out += d;
      const m = /Open: (\S+)/.exec(out);
      if (m) resolve({ url: m[1], child });
    });
    child.on("exit", (code) => reject(new Error(`zemo3 view exited with ${code}`)));
  });
}

(async () => {
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium", headless: true, userDataDir: profile,
    args: ["--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", "--no-first-run"],
  });
  const row = (...c) => console.log(c.map((x, i) => String(x)[i < 3 ? "padEnd" : "padStart"]([10, 13, 5, 9, 10, 10, 12, 12][i])).join(" "));
  row("size", "type", "path", "page fps", "native", "ratio", "unpack ms", "rebuild ms");
  for (const line of fs.readFileSync(list, "utf8").trim().split("\n")) {
    const [size, type, movie, native] = line.split(" ");
    const { url, child } = await view(movie);
    for (const p of ["gpu", "cpu"]) {
      const page = await browser.newPage();
      await page.goto(`${url}?path=${p === "cpu" ? "cpu" : "auto"}`);
      await page.waitForFunction(() => document.body.dataset.ready === "1", { timeout: 120000 });
      const r = await page.evaluate((n) => window.zemo3.bench(n, 2), frames);
      row(size, type, r.path, r.fps.toFixed(1), Number(native).toFixed(1), (r.fps / Number(native)).toFixed(2),
          r.unpackMs.toFixed(2), r.rebuildMs.toFixed(2));
      await page.close();
    }
    child.kill();
  }
  await browser.close();
})();
