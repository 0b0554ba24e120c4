// The browser player in Debian's Chromium (headless, SwiftShader's GL),
// driven by puppeteer-core, against `zemo3 view` and `zemo3 decode`:
//   - every type, the demo and a fine-detailed picture under a soft matte,
//     frames 0, 5 and the last: the GPU path within the bound `zemo3 verify
//     --gpu` allows of the CPU decode, the CPU path (?path=cpu) equal to it;
//   - a seek into the middle of a movie of some hundreds of MB reads only a
//     small part of it;
//   - a damaged frame is skipped with a note, and the good ones around it
//     play, and so does its sound, equal to the movie's;
//   - a movie chosen with the file button plays without a request;
//   - the viewer's refusals: a path outside the token, `..` in any spelling,
//     a wrong or shortened token, a second movie, names it does not serve,
//     methods other than GET and HEAD; and Ctrl-C stops it.
// Everything is written under one temporary folder, removed at the end with
// every process started here. Exit 77 (skipped) when the player is not built
// or Chromium is missing.
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const http = require("http");
const { spawn, execFileSync } = require("child_process");

const SKIP = 77;
const zemo3 = process.env.ZEMO3;
const playerDir = process.env.ZEMO3_PLAYER_DIR;
const chromium = process.env.CHROMIUM || "/usr/bin/chromium";

function skip(why) {
  console.log(`SKIPPED: ${why}`);
  process.exit(SKIP);
}
if (!playerDir || !fs.existsSync(path.join(playerDir, "zemo3-reader.wasm")))
  skip(`the browser player is not built in ${playerDir} (make web)`);
if (!fs.existsSync(chromium)) skip(`no Chromium at ${chromium} (apt-get install chromium)`);
let puppeteer;
try {
  puppeteer = require("puppeteer-core");
} catch (e) {
  skip(`puppeteer-core is not installed (tests/web/install.sh): ${e.message}`);
}

const work = fs.mkdtempSync(path.join(os.tmpdir(), "zemo3-web-"));
const children = new Set();
let browser = null;
function cleanUp() {
  for (const child of children) child.kill("SIGKILL");
  fs.rmSync(work, { recursive: true, force: true });
}
process.on("exit", cleanUp);
for (const signal of ["SIGINT", "SIGTERM"]) process.on(signal, () => process.exit(1));

let failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    console.log(`FAILED: ${what}`);
  }
  return ok;
}

const file = (name) => path.join(work, name);
// Every child gets a time limit of its own, so a hung one fails this test
// with its name instead of waiting for ctest's limit.
const kChildLimit = { timeout: 120000, killSignal: "SIGKILL" };
const run = (args) =>
  execFileSync(zemo3, args, { cwd: work, stdio: ["ignore", "pipe", "pipe"], ...kChildLimit }).toString();

// `zemo3 view MOVIE --no-open`: resolves to {url, child} once it listens.
function view(movie) {
  return new Promise((resolve, reject) => {
    const child = spawn(zemo3, ["view", movie, "--no-open"], { env: { ...process.env, ZEMO3_PLAYER_DIR: playerDir } });
    children.add(child);
    let out = "", err = "";
    // A server that never says where it listens is killed, and the exit rejects.
    const silent = setTimeout(() => child.kill("SIGKILL"), kChildLimit.timeout);
    child.stdout.on("data", (d) => {
      out += d;
      const m = /Open: (\S+)/.exec(out);
      if (m) {
        clearTimeout(silent);
        resolve({ url: m[1], child });
      }
    });
    child.stderr.on("data", (d) => (err += d));
    child.on("exit", (code) => {
      clearTimeout(silent);
      children.delete(child);
      reject(new Error(`zemo3 view exited with ${code}: ${err}`));
    });
  });
}

// A raw GET (or another method): the path goes on the wire as it is, `..` and all.
function get(url, rawPath, headers = {}, method = "GET") {
  const u = new URL(url);
  return new Promise((resolve, reject) => {
    const req = http.request({ host: u.hostname, port: u.port, path: rawPath, headers, method }, (res) => {
      const chunks = [];
      res.on("data", (c) => chunks.push(c));
      res.on("end", () => resolve({ status: res.statusCode, body: Buffer.concat(chunks) }));
    });
    req.on("error", reject);
    req.end();
  });
}

// A PAM picture (zemo3 decode's frames) as RGBA.
function readPam(name) {
  const b = fs.readFileSync(name);
  const end = b.indexOf("ENDHDR\n") + 7;
  const head = b.subarray(0, end).toString();
  const field = (k) => Number(new RegExp(`${k} (\\d+)`).exec(head)[1]);
  const w = field("WIDTH"), h = field("HEIGHT"), depth = field("DEPTH");
  const rgba = Buffer.alloc(w * h * 4, 255);
  for (let i = 0; i < w * h; ++i) for (let c = 0; c < depth; ++c) rgba[4 * i + c] = b[end + depth * i + c];
  return { w, h, rgba };
}

// The bound of the GPU's pictures against the CPU decode, per channel
// (playback/player's boundFor, which verify --gpu uses).
function boundFor(type, channel) {
  const ycocg = type === 2 || type === 3;
  if (channel === 3) return type === 1 || type === 3 || type === 5 ? 2 : 1;
  if (!ycocg) return 1;
  return channel === 1 ? 4 : 5;
}

async function openPage(url) {
  const page = await browser.newPage();
  page.on("pageerror", (e) => console.log(`page error: ${e.message}`));
  await page.goto(url);
  await page.waitForFunction(() => document.body.dataset.ready === "1" || document.body.dataset.error, {
    timeout: 60000,
  });
  return page;
}

// Shows frame n and resolves to {path, pixels} (pixels a Buffer), or
// {skipped: true} when the page skipped it.
async function frameOf(page, n) {
  const got = await page.evaluate(async (n) => {
    await window.zemo3.show(n);
    if (document.body.dataset.frame !== String(n)) return { skipped: true, notes: document.body.innerText };
    const p = await window.zemo3.pixels();
    let s = "";
    for (let i = 0; i < p.length; i += 0x8000) s += String.fromCharCode.apply(null, p.subarray(i, i + 0x8000));
    return { path: document.body.dataset.path, pixels: btoa(s) };
  }, n);
  if (got.pixels) got.pixels = Buffer.from(got.pixels, "base64");
  return got;
}

function largestDifferences(a, b) {
  const d = [0, 0, 0, 0];
  for (let i = 0; i < a.length; ++i) d[i & 3] = Math.max(d[i & 3], Math.abs(a[i] - b[i]));
  return d;
}

const kTypes = ["normal", "normal-alpha", "high", "high-alpha"];

async function picturesMatchTheDecode() {
  // A picture with fine detail (a fractal plasma) under a soft matte, in
  // six frames whose matte moves; and the demo.
  for (let n = 0; n < 7; ++n)
    execFileSync("convert", ["-seed", "7", "-size", "150x86", "plasma:fractal", "(", "-size", "86x150", "gradient:",
                             "-rotate", "90", "-roll", `+${13 * n}+0`, ")", "-alpha", "off", "-compose", "CopyOpacity",
                             "-composite", file(`plasma_${n}.png`)], kChildLimit);
  for (const [type, compression] of kTypes.entries()) {
    const sources = {
      demo: ["--demo", "--size", "200x120", "--fps", "10", "--duration", "0.8"],
      detail: [file("plasma_%d.png"), "--fps", "10"],
    };
    for (const [name, source] of Object.entries(sources)) {
      const movie = file(`${name}-${compression}.mov`);
      run(["render", ...source, "--compression", compression, "-o", movie]);
      run(["decode", movie, "-o", file(`${name}-${compression}_%d.pam`)]);
      const count = fs.readdirSync(work).filter((f) => f.startsWith(`${name}-${compression}_`)).length;
      const { url, child } = await view(movie);
      for (const cpu of [false, true]) {
        const page = await openPage(url + (cpu ? "?path=cpu" : ""));
        for (const n of [0, 5, count - 1]) {
          const what = `${name} ${compression} frame ${n} on the ${cpu ? "CPU" : "GPU"} path`;
          const want = readPam(file(`${name}-${compression}_${n}.pam`));
          const got = await frameOf(page, n);
          if (!check(!got.skipped, `${what}: drawn`)) continue;
          check(got.path === (cpu ? "cpu" : "gpu"), `${what}: drawn on path ${got.path}`);
          if (!check(got.pixels.length === want.rgba.length, `${what}: ${got.pixels.length} bytes`)) continue;
          const d = largestDifferences(got.pixels, want.rgba);
          if (cpu) check(d.every((x) => x === 0), `${what}: equal to the decode (differences ${d})`);
          else check(d.every((x, c) => x <= boundFor(type, c)), `${what}: within the bound (differences ${d})`);
          if (n === 5) console.log(`${what}: largest differences ${d.join(" ")}`);
        }
        await page.close();
      }
      child.kill();
    }
  }
}

async function seekReadsLittle() {
  // Some hundreds of MB, joined from one rendered second without decoding.
  const second = file("second.mov");
  run(["render", "--demo", "--size", "1920x1080", "--fps", "30", "--duration", "1", "--no-sound",
       "--compression", "normal-alpha", "-o", second]);
  const big = file("big.mov");
  run(["join", ...Array(16).fill(second), "-o", big]);
  const size = fs.statSync(big).size;
  const { url, child } = await view(big);
  const page = await browser.newPage();
  let served = 0;
  page.on("requestfinished", (request) => {
    if (request.url().endsWith("/movie")) served += Number(request.response().headers()["content-length"] || 0);
  });
  const middle = 16 * 30 / 2 + 7;
  await page.goto(`${url}?frame=${middle}`);
  await page.waitForFunction((n) => document.body.dataset.frame === String(n), { timeout: 60000 }, middle);
  console.log(`seek to frame ${middle} of a movie of ${size} bytes: ${served} bytes served`);
  check(size > 200e6, `the movie is large (${size} bytes)`);
  check(served < size / 50, `the seek read ${served} of ${size} bytes`);
  await page.close();
  child.kill();
}

async function damagedFramesAreSkipped() {
  const movie = file("damaged.mov");
  run(["render", "--demo", "--size", "96x64", "--fps", "10", "--duration", "0.8", "--compression", "normal",
       "-o", movie]);
  run(["decode", movie, "-o", file("damaged_%d.pam")]);
  // Frame 3's first word zeroed: no reader takes it.
  const packets = execFileSync("ffprobe", ["-v", "error", "-select_streams", "v", "-show_entries", "packet=pos",
                                           "-of", "csv=p=0", movie], kChildLimit).toString().trim().split("\n").map(Number);
  const fd = fs.openSync(movie, "r+");
  fs.writeSync(fd, Buffer.alloc(4), 0, 4, packets[3]);
  fs.closeSync(fd);
  const { url, child } = await view(movie);
  const page = await openPage(`${url}?path=cpu`);
  for (const n of [2, 3, 4, 7]) {
    const got = await frameOf(page, n);
    if (n === 3) {
      check(got.skipped, "the damaged frame 3 is skipped");
      continue;
    }
    check(!got.skipped && got.pixels.equals(readPam(file(`damaged_${n}.pam`)).rgba), `good frame ${n} plays`);
  }
  // The sound the page plays is the movie's, sample for sample (16-bit,
  // as stored), from a point inside the second half-second chunk on.
  const pcm = execFileSync("ffmpeg", ["-v", "error", "-i", movie, "-map", "0:a", "-f", "s16le", "-"], kChildLimit);
  check(pcm.subarray(120000, 136000).some((b) => b !== 0), "the movie's sound is not silent there");
  const sound = await page.evaluate(() => window.zemo3.sound(30000, 4000));
  check(sound && sound.rate === 48000 && sound.channels === 2, `the sound's format: ${sound && sound.rate}`);
  if (sound) {
    let same = 0;
    for (let i = 0; i < sound.samples.length; ++i) same += sound.samples[i] * 32768 === pcm.readInt16LE(2 * (60000 + i));
    check(same === 8000, `the page's sound equals the movie's: ${same} of 8000 samples`);
  }
  const notes = await page.evaluate(() => document.getElementById("notes").innerText);
  check(/frame 3 skipped/.test(notes), `the page notes the skipped frame (${notes})`);
  // Played through, it reaches the end past the damaged frame.
  await page.evaluate(() => window.zemo3.show(0).then(() => window.zemo3.play()));
  await page.waitForFunction(() => !window.zemo3.state.playing, { timeout: 30000 });
  const state = await page.evaluate(() => window.zemo3.state);
  check(state.frame === 7 && state.skipped.join() === "3", `played to the end: ${JSON.stringify(state)}`);
  await page.close();
  child.kill();
}

// A movie chosen with the file button plays from the disk: nothing more is
// fetched from the server.
async function aLocalFilePlays() {
  const served = file("served-first.mov"), local = file("local.mov");
  run(["render", "--demo", "--size", "64x32", "--fps", "10", "--duration", "0.3", "-o", served]);
  run(["render", "--demo", "--size", "80x48", "--fps", "10", "--duration", "0.6", "--compression", "high", "-o", local]);
  run(["decode", local, "-o", file("local_%d.pam")]);
  const { url, child } = await view(served);
  const page = await openPage(`${url}?path=cpu`);
  let fetched = 0;
  page.on("request", () => fetched++);
  const input = await page.$("#file");
  await input.uploadFile(local);
  await page.waitForFunction(() => document.getElementById("name").textContent === "local.mov" &&
                             document.body.dataset.frame === "0", { timeout: 30000 });
  const got = await frameOf(page, 4);
  check(!got.skipped && got.pixels.equals(readPam(file("local_4.pam")).rgba), "the local file's frame 4 plays");
  check(fetched === 0, `nothing fetched while the local file plays (${fetched} requests)`);
  await page.close();
  child.kill();
}

async function viewerRefuses() {
  const movie = file("served.mov"), other = file("other.mov");
  run(["render", "--demo", "--size", "64x32", "--fps", "10", "--duration", "0.2", "-o", movie]);
  fs.writeFileSync(other, "a second movie");
  const { url, child } = await view(movie);
  const token = new URL(url).pathname.split("/")[1];
  const wrong = token.replace(/^./, (c) => (c === "0" ? "1" : "0"));
  const refusals = [
    `/${token}/../${token}/movie`, `/${token}/%2e%2e/movie`, `/${token}/..%2fmovie`, `/${wrong}/`, `/${wrong}/movie`,
    `/${token}`, `/movie`, `/`, `/${token}/other.mov`, `/${token}/${other}`, `/${token}/movie/../../${other}`,
    `/${token}/index.html/..`, `/${token}/${movie}`, `/${token}//etc/passwd`, `/etc/passwd`, `/../../etc/passwd`,
    `/index.html`, `/${token}x/`, `/${token.slice(1)}/`, `/${token}/movie/`, `/${token}/INDEX.HTML`,
    `/${token}/movie%00`, `/${token}/./movie`,
  ];
  for (const p of refusals) check((await get(url, p)).status === 404, `${p} is refused`);
  for (const method of ["POST", "PUT", "DELETE", "OPTIONS"]) {
    const status = (await get(url, `/${token}/movie`, { "Content-Length": "0" }, method)).status;
    check(status !== 200, `${method} is refused (${status})`);
  }
  const served = await get(url, `/${token}/movie`, { Range: "bytes=4-11" });
  check(served.status === 206 && served.body.toString() === "ftypqt  ", `the movie is served in ranges`);
  check((await get(url, `/${token}/`)).status === 200, "the page is served");
  // Ctrl-C stops it.
  const stopped = new Promise((resolve) => child.on("exit", (code, signal) => resolve(signal || code)));
  child.kill("SIGINT");
  check((await stopped) === "SIGINT" || (await stopped) === 130, "Ctrl-C stops the viewer");
}

(async () => {
  browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    userDataDir: file("chromium-profile"),
    args: ["--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", "--no-first-run", "--autoplay-policy=no-user-gesture-required"],
  });
  try {
    const only = process.argv[2];
    const tests = { picturesMatchTheDecode, seekReadsLittle, damagedFramesAreSkipped, aLocalFilePlays, viewerRefuses };
    for (const [name, test] of Object.entries(tests)) {
      if (only && only !== name) continue;
      const t0 = Date.now();
      const before = failures;
      try {
        await test();
      } catch (e) {
        check(false, `${name}: ${e.stack}`);
      }
      console.log(`${failures === before ? "ok" : "FAILED"} ${name} (${((Date.now() - t0) / 1000).toFixed(1)} s)`);
    }
  } finally {
    await browser.close();
  }
  process.exit(failures ? 1 : 0);
})();
