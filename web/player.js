// The page: reads a movie (movie.js), restores each frame's texture with
// the frame reader in WebAssembly, and draws it with WebGL2 and the playback
// library's shaders, or rebuilds its picture on the CPU where the browser
// has no compressed textures of its type (or with ?path=cpu).
//
// Automation (docs/usage.md): ?movie=URL, ?frame=N (opens paused there),
// ?path=cpu; document.body.dataset.frame and .path once a frame is drawn;
// window.zemo3.pixels() for the drawn frame's RGBA bytes, top row first.
"use strict";

const params = new URLSearchParams(location.search);
const $ = (id) => document.getElementById(id);
// What each frame type holds comes from the reader (the frame format's facts).
const hasAlpha = (type) => player.wasm._zw_type_alpha(type) === 1;
const isYcocg = (type) => player.wasm._zw_type_ycocg(type) === 1;

const player = {
  wasm: null, reader: 0, movie: null,
  frameBuffer: 0, frameCapacity: 0, rgba: 0,
  shown: -1, type: -1, path: "", playing: false, busy: false, wanted: -1,
  cache: new Map(), dropped: 0, skipped: [],
  clock: null, sound: null,
};

// ---- WebGL2 --------------------------------------------------------------

const canvas = $("screen");
const gl = canvas.getContext("webgl2", { alpha: false, antialias: false, preserveDrawingBuffer: true,
                                         premultipliedAlpha: false });
const s3tc = gl && gl.getExtension("WEBGL_compressed_texture_s3tc");
const rgtc = gl && gl.getExtension("EXT_texture_compression_rgtc");
const forceCpu = params.get("path") === "cpu";
const gpuDraws = (type) => !forceCpu && (isYcocg(type) ? !!rgtc : !!s3tc);

// The library's GLSL 3.30 as GLSL ES 3.00.
const toEs = (text) => text.replace(/^#version 330 core/, "#version 300 es\nprecision highp float;");

function compile(vertexText, fragmentText) {
  const program = gl.createProgram();
  for (const [kind, text] of [[gl.VERTEX_SHADER, vertexText], [gl.FRAGMENT_SHADER, fragmentText]]) {
    const shader = gl.createShader(kind);
    gl.shaderSource(shader, text);
    gl.compileShader(shader);
    if (!gl.getShaderParameter(shader, gl.COMPILE_STATUS)) throw new Error(gl.getShaderInfoLog(shader));
    gl.attachShader(program, shader);
  }
  gl.linkProgram(program);
  if (!gl.getProgramParameter(program, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(program));
  return program;
}

// Shows the picture texture on the canvas: over a checkerboard for alpha
// types when the box is ticked. The picture's rows run from the bottom when
// drawn on the GPU, from the top when uploaded from the CPU.
const kDisplay = `#version 300 es
precision highp float;
in vec2 uv;
out vec4 color;
uniform sampler2D picture;
uniform bool fromTop;
uniform bool board;
void main()
{
    vec4 p = texture(picture, vec2(uv.x, fromTop ? uv.y : 1.0 - uv.y));
    vec3 under = vec3(0.0);
    if (board) {
        float cell = mod(floor(gl_FragCoord.x / 16.0) + floor(gl_FragCoord.y / 16.0), 2.0);
        under = mix(vec3(0.42), vec3(0.62), cell);
    }
    color = vec4(mix(under, p.rgb, p.a), 1.0);
}
`;

const glState = { programs: new Map(), display: null, planes: [null, null], planeKeys: ["", ""], picture: null,
                  framebuffer: null, width: 0, height: 0 };

function programFor(type) {
  if (!glState.programs.has(type)) {
    const M = player.wasm;
    const vertex = M.UTF8ToString(M._zw_vertex_shader());
    const fragment = M.UTF8ToString(M._zw_fragment_shader(type));
    const program = compile(toEs(vertex), toEs(fragment));
    gl.useProgram(program);
    gl.uniform1i(gl.getUniformLocation(program, "plane0"), 0);
    gl.uniform1i(gl.getUniformLocation(program, "plane1"), 1);
    glState.programs.set(type, program);
  }
  return glState.programs.get(type);
}

function setupPicture(width, height) {
  if (glState.width === width && glState.height === height) return;
  const M = player.wasm;
  glState.display = glState.display ||
    compile(toEs(M.UTF8ToString(M._zw_vertex_shader())), kDisplay);
  if (glState.picture) gl.deleteTexture(glState.picture);
  glState.picture = gl.createTexture();
  gl.bindTexture(gl.TEXTURE_2D, glState.picture);
  gl.texStorage2D(gl.TEXTURE_2D, 1, gl.RGBA8, width, height);
  for (const p of [gl.TEXTURE_MIN_FILTER, gl.TEXTURE_MAG_FILTER]) gl.texParameteri(gl.TEXTURE_2D, p, gl.LINEAR);
  glState.framebuffer = glState.framebuffer || gl.createFramebuffer();
  gl.bindFramebuffer(gl.FRAMEBUFFER, glState.framebuffer);
  gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.TEXTURE_2D, glState.picture, 0);
  gl.bindFramebuffer(gl.FRAMEBUFFER, null);
  glState.width = width;
  glState.height = height;
  canvas.width = width;
  canvas.height = height;
}

// Uploads plane k (blocks of 4x4 texels) into its texture, made anew only
// when its size or format changes.
function uploadPlane(k, format, width, height, bytes) {
  const key = `${format}:${width}x${height}`;
  gl.activeTexture(gl.TEXTURE0 + k);
  if (glState.planeKeys[k] !== key) {
    if (glState.planes[k]) gl.deleteTexture(glState.planes[k]);
    glState.planes[k] = gl.createTexture();
    gl.bindTexture(gl.TEXTURE_2D, glState.planes[k]);
    gl.texStorage2D(gl.TEXTURE_2D, 1, format, width, height);
    for (const p of [gl.TEXTURE_MIN_FILTER, gl.TEXTURE_MAG_FILTER]) gl.texParameteri(gl.TEXTURE_2D, p, gl.NEAREST);
    for (const p of [gl.TEXTURE_WRAP_S, gl.TEXTURE_WRAP_T]) gl.texParameteri(gl.TEXTURE_2D, p, gl.CLAMP_TO_EDGE);
    glState.planeKeys[k] = key;
  }
  gl.bindTexture(gl.TEXTURE_2D, glState.planes[k]);
  gl.compressedTexSubImage2D(gl.TEXTURE_2D, 0, 0, 0, width, height, format, bytes);
}

// Draws the texture the reader restored into the picture, at 1:1.
function drawTexture(type, texture) {
  const w = player.movie.width, h = player.movie.height;
  const pw = (w + 15) & ~15, ph = (h + 15) & ~15;
  const M = player.wasm;
  for (let k = 0; k < M._zw_plane_count(type); ++k) {
    const at = M._zw_plane_offset(type, k, pw, ph), scale = M._zw_plane_scale(type, k);
    uploadPlane(k, M._zw_plane_format(type, k), pw / scale, ph / scale,
                texture.subarray(at, at + M._zw_plane_size(type, k, pw, ph)));
  }
  const program = programFor(type);
  gl.useProgram(program);
  gl.uniform2f(gl.getUniformLocation(program, "scale"), w / pw, h / ph);
  gl.bindFramebuffer(gl.FRAMEBUFFER, glState.framebuffer);
  gl.viewport(0, 0, w, h);
  gl.disable(gl.BLEND);
  gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
  gl.bindFramebuffer(gl.FRAMEBUFFER, null);
}

function uploadPicture(rgba) {
  gl.activeTexture(gl.TEXTURE2);
  gl.bindTexture(gl.TEXTURE_2D, glState.picture);
  gl.pixelStorei(gl.UNPACK_ALIGNMENT, 1);
  gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, player.movie.width, player.movie.height, gl.RGBA, gl.UNSIGNED_BYTE, rgba);
}

function display() {
  if (!glState.display || player.shown < 0) return;
  gl.useProgram(glState.display);
  gl.activeTexture(gl.TEXTURE2);
  gl.bindTexture(gl.TEXTURE_2D, glState.picture);
  gl.uniform1i(gl.getUniformLocation(glState.display, "picture"), 2);
  gl.uniform1i(gl.getUniformLocation(glState.display, "fromTop"), player.path === "cpu" ? 1 : 0);
  gl.uniform1i(gl.getUniformLocation(glState.display, "board"), $("board").checked && hasAlpha(player.type) ? 1 : 0);
  gl.viewport(0, 0, canvas.width, canvas.height);
  gl.drawArrays(gl.TRIANGLE_STRIP, 0, 4);
}

// ---- frames --------------------------------------------------------------

function fetchFrame(i) {
  if (!player.cache.has(i)) {
    player.cache.set(i, readFrame(player.movie, i));
    // Keep the frames around the one wanted; let the rest go.
    for (const k of player.cache.keys())
      if (player.cache.size > 12 && k !== i) player.cache.delete(k);
  }
  return player.cache.get(i);
}

// Restores and draws frame i. Resolves to true when drawn, false when the
// frame was damaged (noted and skipped).
async function showFrame(i) {
  let bytes;
  try {
    bytes = await fetchFrame(i);
  } catch (e) {
    player.cache.delete(i);
    note(`frame ${i}: ${e.message}`);
    return false;
  }
  return drawFrame(i, bytes);
}

function drawFrame(i, bytes) {
  const M = player.wasm;
  if (bytes.length > player.frameCapacity) {
    if (player.frameBuffer) M._zw_free(player.frameBuffer);
    player.frameCapacity = bytes.length;
    player.frameBuffer = M._zw_malloc(bytes.length);
  }
  M.HEAPU8.set(bytes, player.frameBuffer);
  const type = M._zw_reader_unpack(player.reader, player.frameBuffer, bytes.length);
  if (type < 0) {
    skip(i, M.UTF8ToString(M._zw_reader_why(player.reader)));
    return false;
  }
  const gpu = gpuDraws(type);
  if (gpu) {
    const at = M._zw_reader_texture(player.reader), size = M._zw_reader_texture_size(player.reader);
    drawTexture(type, M.HEAPU8.subarray(at, at + size));
  } else {
    M._zw_reader_rebuild(player.reader, player.rgba);
    uploadPicture(M.HEAPU8.subarray(player.rgba, player.rgba + player.movie.width * player.movie.height * 4));
  }
  player.shown = i;
  player.type = type;
  player.path = gpu ? "gpu" : "cpu";
  display();
  updateLabels();
  document.body.dataset.frame = String(i);
  document.body.dataset.path = player.path;
  return true;
}

function skip(i, why) {
  if (!player.skipped.includes(i)) {
    player.skipped.push(i);
    document.body.dataset.skipped = player.skipped.join(",");
    note(`frame ${i} skipped: ${why}`);
  }
}

function note(text) {
  const li = document.createElement("li");
  li.textContent = text;
  $("notes").append(li);
}

// The RGBA bytes of the drawn frame, top row first, as its path made them.
function pixels() {
  const w = player.movie.width, h = player.movie.height;
  if (player.path === "cpu")
    return player.wasm.HEAPU8.slice(player.rgba, player.rgba + w * h * 4);
  const out = new Uint8Array(w * h * 4), rows = new Uint8Array(w * h * 4);
  gl.bindFramebuffer(gl.FRAMEBUFFER, glState.framebuffer);
  gl.pixelStorei(gl.PACK_ALIGNMENT, 1);
  gl.readPixels(0, 0, w, h, gl.RGBA, gl.UNSIGNED_BYTE, rows);
  gl.bindFramebuffer(gl.FRAMEBUFFER, null);
  for (let y = 0; y < h; ++y) out.set(rows.subarray((h - 1 - y) * w * 4, (h - y) * w * 4), y * w * 4);
  return out;
}

// ---- labels --------------------------------------------------------------

function timecode(i) {
  const fps = Math.max(1, Math.round(player.movie.rate));
  const f = i % fps, s = Math.floor(i / fps);
  const two = (n) => String(n).padStart(2, "0");
  return `${two(Math.floor(s / 3600))}:${two(Math.floor(s / 60) % 60)}:${two(s % 60)}:${two(f)}`;
}

function updateLabels() {
  const m = player.movie;
  $("frame").textContent = `frame ${player.shown} / ${m.frames - 1}`;
  $("timecode").textContent = timecode(player.shown);
  $("type").textContent = player.wasm.UTF8ToString(player.wasm._zw_type_label(player.type));
  $("path").textContent = player.path === "gpu" ? "textures on the GPU" : "pictures built on the CPU";
  $("rate").textContent = `${m.width}×${m.height} at ${m.rate.toFixed(3).replace(/\.?0+$/, "")} fps` +
    (player.dropped ? `, ${player.dropped} dropped` : "");
  if (document.activeElement !== $("scrub")) $("scrub").value = String(player.shown);
}

// ---- playback ------------------------------------------------------------

// The play clock in seconds of the movie: the sound's when it plays, the
// page's otherwise.
function now() {
  const c = player.clock;
  if (!c) return 0;
  if (player.sound && player.sound.context.state === "running")
    return c.start + (player.sound.context.currentTime - c.audioAt);
  return c.start + (performance.now() - c.pageAt) / 1000;
}

function play() {
  const m = player.movie;
  if (!m || player.playing) return;
  if (player.shown >= m.frames - 1) player.shown = 0;
  player.playing = true;
  document.body.classList.add("playing");
  $("play").textContent = "Pause";
  const start = Math.max(0, player.shown) / m.rate;
  player.clock = { start, frame: Math.max(0, player.shown), pageAt: performance.now(), audioAt: 0 };
  if (m.sound) startSound(start);
  requestAnimationFrame(tick);
}

function pause() {
  player.playing = false;
  document.body.classList.remove("playing");
  $("play").textContent = "Play";
  stopSound();
}

async function seek(i) {
  const m = player.movie;
  if (!m) return;
  i = Math.max(0, Math.min(m.frames - 1, i));
  const wasPlaying = player.playing;
  if (wasPlaying) pause();
  player.wanted = i;
  if (player.busy) return;
  player.busy = true;
  while (player.wanted >= 0) {
    const target = player.wanted;
    player.wanted = -1;
    if (!(await showFrame(target))) {
      player.shown = target;
      updateLabels();
    }
  }
  player.busy = false;
  if (wasPlaying) play();
}

function tick() {
  if (!player.playing) return;
  const m = player.movie;
  // Never before the frame play started from (the sound starts a little later).
  const want = Math.max(player.clock.frame, Math.floor(now() * m.rate + 1e-6));
  if (want >= m.frames) {
    pause();
    return;
  }
  if (want !== player.shown && !player.busy) {
    if (player.shown >= 0 && want > player.shown + 1) player.dropped += want - player.shown - 1;
    player.busy = true;
    showFrame(want).then((drawn) => {
      if (!drawn) player.shown = want;
      player.busy = false;
    });
    for (let k = 1; k <= 3 && want + k < m.frames; ++k) fetchFrame(want + k);
  }
  requestAnimationFrame(tick);
}

// Sound in half-second buffers, scheduled a second ahead of the clock.
function startSound(seconds) {
  const s = player.movie.sound;
  if (!player.sound) player.sound = { context: new AudioContext(), sources: [] };
  const a = player.sound;
  a.context.resume();
  a.next = Math.round(seconds * s.rate);
  a.when = a.context.currentTime + 0.15;
  a.generation = (a.generation || 0) + 1;
  player.clock.audioAt = a.when;
  player.clock.pageAt = performance.now() + 150;
  pumpSound(a.generation);
}

async function pumpSound(generation) {
  const a = player.sound, s = player.movie.sound;
  while (player.playing && a.generation === generation && a.next < s.frames) {
    if (a.when > a.context.currentTime + 1.0) {
      await new Promise((r) => setTimeout(r, 200));
      continue;
    }
    const count = Math.min(Math.round(s.rate / 2), s.frames - a.next);
    const channels = await readSound(player.movie, a.next, count);
    if (a.generation !== generation) return;
    const buffer = a.context.createBuffer(s.channels, count, s.rate);
    channels.forEach((data, c) => buffer.copyToChannel(data, c));
    const source = a.context.createBufferSource();
    source.buffer = buffer;
    source.connect(a.context.destination);
    source.start(Math.max(a.when, a.context.currentTime));
    a.sources.push(source);
    source.onended = () => a.sources.splice(a.sources.indexOf(source), 1);
    a.when += count / s.rate;
    a.next += count;
  }
}

function stopSound() {
  const a = player.sound;
  if (!a) return;
  a.generation = (a.generation || 0) + 1;
  for (const source of a.sources) source.stop();
  a.sources = [];
}

// ---- opening -------------------------------------------------------------

async function open(source, name) {
  pause();
  const m = await openMovie(source);
  const M = player.wasm;
  if (player.reader) M._zw_reader_delete(player.reader);
  if (player.rgba) M._zw_free(player.rgba);
  player.reader = M._zw_reader_new(m.width, m.height);
  if (!player.reader) throw new Error(`a picture of ${m.width}×${m.height} is too large`);
  player.rgba = M._zw_malloc(m.width * m.height * 4);
  player.movie = m;
  player.cache.clear();
  player.shown = -1;
  player.skipped = [];
  player.dropped = 0;
  delete document.body.dataset.frame;
  delete document.body.dataset.skipped;
  setupPicture(m.width, m.height);
  name = source.name || name;
  $("name").textContent = name;
  $("scrub").max = String(m.frames - 1);
  document.title = `${name} – Zemo 3 player`;
  document.body.dataset.frames = String(m.frames);
}

function wireControls() {
  $("play").onclick = () => (player.playing ? pause() : play());
  $("back").onclick = () => seek(player.shown - 1);
  $("forward").onclick = () => seek(player.shown + 1);
  $("scrub").oninput = () => seek(Number($("scrub").value));
  $("board").onchange = display;
  document.addEventListener("keydown", (e) => {
    if (!player.movie || e.target.tagName === "INPUT" && e.target.type !== "range" && e.target.type !== "checkbox")
      return;
    const keys = {
      " ": () => (player.playing ? pause() : play()),
      ArrowLeft: () => seek(player.shown - 1),
      ArrowRight: () => seek(player.shown + 1),
      Home: () => seek(0),
      End: () => seek(player.movie.frames - 1),
    };
    if (keys[e.key]) {
      e.preventDefault();
      keys[e.key]();
    }
  });
  const local = async (file) => {
    try {
      await open(new FileSource(file), file.name);
      await seek(0);
    } catch (e) {
      note(`${file.name}: ${e.message}`);
    }
  };
  $("file").onchange = () => $("file").files[0] && local($("file").files[0]);
  const stage = $("stage");
  stage.addEventListener("dragover", (e) => { e.preventDefault(); stage.classList.add("dragging"); });
  stage.addEventListener("dragleave", () => stage.classList.remove("dragging"));
  stage.addEventListener("drop", (e) => {
    e.preventDefault();
    stage.classList.remove("dragging");
    if (e.dataTransfer.files[0]) local(e.dataTransfer.files[0]);
  });
}

// Frames per second of restoring and drawing `frames` frames held in memory,
// `rounds` times over, on this page's path; each frame is waited for.
async function bench(frames, rounds) {
  pause();
  const m = player.movie;
  frames = Math.min(frames, m.frames);
  const held = [];
  for (let i = 0; i < frames; ++i) held.push(await readFrame(m, i));
  const sync = new Uint8Array(4);
  const finish = () => {
    gl.bindFramebuffer(gl.FRAMEBUFFER, glState.framebuffer);
    gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, sync);
    gl.bindFramebuffer(gl.FRAMEBUFFER, null);
  };
  drawFrame(0, held[0]);
  finish();
  const t0 = performance.now();
  for (let r = 0; r < rounds; ++r)
    for (let i = 0; i < frames; ++i) {
      drawFrame(i, held[i]);
      finish();
    }
  const seconds = (performance.now() - t0) / 1000;
  // The reader alone, per frame: restoring the texture, and the RGBA rebuild.
  const M = player.wasm;
  let unpack = 0, rebuild = 0;
  for (let r = 0; r < rounds; ++r)
    for (let i = 0; i < frames; ++i) {
      M.HEAPU8.set(held[i], player.frameBuffer);
      const t1 = performance.now();
      M._zw_reader_unpack(player.reader, player.frameBuffer, held[i].length);
      const t2 = performance.now();
      M._zw_reader_rebuild(player.reader, player.rgba);
      unpack += t2 - t1;
      rebuild += performance.now() - t2;
    }
  const unpackMs = unpack / (frames * rounds), rebuildMs = rebuild / (frames * rounds);
  return { fps: (frames * rounds) / seconds, path: player.path, unpackMs, rebuildMs, width: m.width, height: m.height };
}

async function main() {
  if (!gl) {
    note("This browser offers no WebGL2.");
    return;
  }
  player.wasm = await Zemo3Reader();
  setupPicture(canvas.width, canvas.height);
  wireControls();
  window.zemo3 = {
    pixels: async () => pixels(),
    show: (i) => seek(i),
    bench,
    get state() {
      return { frame: player.shown, path: player.path, type: player.type, frames: player.movie && player.movie.frames,
               playing: player.playing, dropped: player.dropped, skipped: player.skipped.slice(),
               s3tc: !!s3tc, rgtc: !!rgtc };
    },
    play, pause,
    // Sample frames [first, first + count) of the sound as the page plays
    // them: interleaved floats, or null for a movie without sound.
    sound: async (first, count) => {
      const s = player.movie && player.movie.sound;
      if (!s) return null;
      const channels = await readSound(player.movie, first, count);
      const out = new Float32Array(count * s.channels);
      channels.forEach((data, c) => data.forEach((v, i) => (out[i * s.channels + c] = v)));
      return { rate: s.rate, channels: s.channels, samples: Array.from(out) };
    },
  };
  // The movie: ?movie=URL, or the one `zemo3 view` serves beside the page.
  const url = params.get("movie") || "movie";
  try {
    await open(new UrlSource(url), decodeURIComponent(url.split("/").pop()));
  } catch (e) {
    if (params.get("movie")) note(`${url}: ${e.message}`);
    document.body.dataset.ready = "1";
    return;
  }
  const first = params.has("frame") ? Number(params.get("frame")) : 0;
  await seek(Number.isFinite(first) ? first : 0);
  document.body.dataset.ready = "1";
  if (params.has("play")) play();
}

main().catch((e) => {
  note(e.message);
  document.body.dataset.error = e.message;
});
