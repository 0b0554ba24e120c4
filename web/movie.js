// QuickTime movies read piece by piece: the index (moov) once, then each
// frame and each stretch of sound by its byte range, from a URL (HTTP range
// requests) or from a local File. Only the boxes a player needs are read:
// trak, tkhd, mdhd, hdlr, stsd, stts, stsc, stsz, stco and co64.
"use strict";

// A source of bytes: read(offset, length) resolves to a Uint8Array.
class UrlSource {
  constructor(url) {
    this.url = url;
    this.size = -1;
  }
  async read(offset, length) {
    const end = offset + length - 1;
    const response = await fetch(this.url, { headers: { Range: `bytes=${offset}-${end}` } });
    if (response.status !== 206 && response.status !== 200)
      throw new Error(`${this.url}: HTTP ${response.status}`);
    const named = /filename="([^"]*)"/.exec(response.headers.get("Content-Disposition") || "");
    if (named) this.name = named[1];
    const range = response.headers.get("Content-Range");
    if (range && this.size < 0) {
      const total = /\/(\d+)$/.exec(range);
      if (total) this.size = Number(total[1]);
    }
    let bytes = new Uint8Array(await response.arrayBuffer());
    // A server without ranges sends the whole file.
    if (response.status === 200) {
      if (this.size < 0) this.size = bytes.length;
      bytes = bytes.subarray(offset, offset + length);
    }
    return bytes;
  }
}

class FileSource {
  constructor(file) {
    this.file = file;
    this.size = file.size;
  }
  async read(offset, length) {
    return new Uint8Array(await this.file.slice(offset, offset + length).arrayBuffer());
  }
}

const be32 = (b, i) => ((b[i] << 24) | (b[i + 1] << 16) | (b[i + 2] << 8) | b[i + 3]) >>> 0;
const be16 = (b, i) => (b[i] << 8) | b[i + 1];
const be64 = (b, i) => be32(b, i) * 4294967296 + be32(b, i + 4);
const fourcc = (b, i) => String.fromCharCode(b[i], b[i + 1], b[i + 2], b[i + 3]);

// The boxes inside [start, end) of b: {type, start (of the body), end}.
function boxes(b, start, end) {
  const out = [];
  let at = start;
  while (at + 8 <= end) {
    let size = be32(b, at);
    const type = fourcc(b, at + 4);
    let header = 8;
    if (size === 1) {
      if (at + 16 > end) break;
      size = be64(b, at + 8);
      header = 16;
    } else if (size === 0) {
      size = end - at;
    }
    if (size < header || at + size > end) break;
    out.push({ type, start: at + header, end: at + size });
    at += size;
  }
  return out;
}

const child = (b, box, type) => boxes(b, box.start, box.end).find((x) => x.type === type);

function path(b, box, types) {
  for (const t of types) {
    if (!box) return undefined;
    box = child(b, box, t);
  }
  return box;
}

// One track's sample table: offsets and sizes of every sample, and their
// decode times.
function sampleTable(b, stbl) {
  const stsz = child(b, stbl, "stsz");
  const stco = child(b, stbl, "stco");
  const co64 = child(b, stbl, "co64");
  const stsc = child(b, stbl, "stsc");
  const stts = child(b, stbl, "stts");
  if (!stsz || !(stco || co64) || !stsc) throw new Error("a track without its sample table");
  const constant = be32(b, stsz.start + 4);
  const count = be32(b, stsz.start + 8);
  if (!constant && stsz.start + 12 + 4 * count > stsz.end) throw new Error("a short sample size table");
  const chunks = [];
  if (co64) {
    const n = be32(b, co64.start + 4);
    for (let i = 0; i < n && co64.start + 16 + 8 * i <= co64.end; ++i) chunks.push(be64(b, co64.start + 8 + 8 * i));
  } else {
    const n = be32(b, stco.start + 4);
    for (let i = 0; i < n && stco.start + 12 + 4 * i <= stco.end; ++i) chunks.push(be32(b, stco.start + 8 + 4 * i));
  }
  const runs = [];
  const nRuns = be32(b, stsc.start + 4);
  for (let i = 0; i < nRuns && stsc.start + 20 + 12 * i <= stsc.end; ++i) {
    const at = stsc.start + 8 + 12 * i;
    runs.push({ first: be32(b, at) - 1, perChunk: be32(b, at + 4) });
  }
  // Samples chunk by chunk.
  const offsets = new Float64Array(count);
  const sizes = new Uint32Array(count);
  const chunkOf = new Uint32Array(count);
  let sample = 0;
  for (let r = 0; r < runs.length && sample < count; ++r) {
    const last = r + 1 < runs.length ? runs[r + 1].first : chunks.length;
    for (let c = runs[r].first; c < last && c < chunks.length && sample < count; ++c) {
      let at = chunks[c];
      for (let k = 0; k < runs[r].perChunk && sample < count; ++k, ++sample) {
        const size = constant || be32(b, stsz.start + 12 + 4 * sample);
        offsets[sample] = at;
        sizes[sample] = size;
        chunkOf[sample] = c;
        at += size;
      }
    }
  }
  const times = new Float64Array(count);
  if (stts) {
    const n = be32(b, stts.start + 4);
    let t = 0, s = 0;
    for (let i = 0; i < n && stts.start + 16 + 8 * i <= stts.end; ++i) {
      const k = be32(b, stts.start + 8 + 8 * i), d = be32(b, stts.start + 12 + 8 * i);
      for (let j = 0; j < k && s < count; ++j, ++s, t += d) times[s] = t;
    }
  }
  return { count: sample, constant, offsets, sizes, times, chunkOf };
}

// The sample entry names of Zemo 3 video; the frames say their own type.
const isZemo3Format = (f) => f.startsWith("ZMQ");

// The sound formats the writer makes: little-endian integers and floats
// ('sowt', 'in24', 'in32', 'fl32' and 'lpcm' with their flags), and 'raw '
// (unsigned 8-bit) and 'twos' (big-endian 16-bit) of older files.
function soundFormat(b, entry) {
  const format = fourcc(b, entry.start + 4);
  const body = entry.start + 16; // after the sample entry's reserved bytes and reference index
  const version = be16(b, body);
  let channels = be16(b, body + 8);
  let bits = be16(b, body + 10);
  let rate = be32(b, body + 16) / 65536;
  let float = false, little = true;
  if (version === 2) {
    const view = new DataView(b.buffer, b.byteOffset + body + 20, 16);
    rate = view.getFloat64(4);
    channels = be32(b, body + 32);
    bits = be32(b, body + 40);
    const flags = be32(b, body + 44);
    float = (flags & 1) !== 0;
    little = (flags & 2) === 0;
  }
  // An 'enda' box anywhere in the entry says the byte order of in24/in32/fl32.
  let enda = -1;
  for (let i = entry.start; i + 10 <= entry.end; ++i)
    if (b[i + 4] === 0x65 && b[i + 5] === 0x6e && b[i + 6] === 0x64 && b[i + 7] === 0x61) enda = be16(b, i + 8);
  switch (format) {
    case "sowt": bits = 16; little = true; break;
    case "twos": bits = 16; little = false; break;
    case "raw ": bits = 8; break;
    case "in24": bits = 24; little = enda === 1; break;
    case "in32": bits = 32; little = enda === 1; break;
    case "fl32": bits = 32; float = true; little = enda === 1; break;
    case "fl64": bits = 64; float = true; little = enda === 1; break;
    case "lpcm": break;
    default: return null;
  }
  return { format, channels, rate, bytes: bits / 8, float, little };
}

// Parses a movie's index. Resolves to {width, height, frames, rate, ...}.
async function openMovie(source) {
  // Walk the top-level boxes by their headers to find the index.
  let at = 0, moov = null;
  for (let guard = 0; guard < 100000; ++guard) {
    const head = await source.read(at, 16);
    if (head.length < 8) break;
    let size = be32(head, 0);
    const type = fourcc(head, 4);
    if (size === 1) size = be64(head, 8);
    else if (size === 0) size = source.size - at;
    if (size < 8) break;
    if (type === "moov") {
      moov = await source.read(at, size);
      break;
    }
    at += size;
    if (source.size >= 0 && at >= source.size) break;
  }
  if (!moov) throw new Error("no movie index (moov) found: not a QuickTime movie");
  const b = moov;
  const top = boxes(b, 0, b.length)[0];
  const movie = { source, video: null, sound: null };
  for (const trak of boxes(b, top.start, top.end).filter((x) => x.type === "trak")) {
    const mdia = child(b, trak, "mdia");
    const hdlr = mdia && child(b, mdia, "hdlr");
    const mdhd = mdia && child(b, mdia, "mdhd");
    const stbl = path(b, mdia, ["minf", "stbl"]);
    if (!hdlr || !mdhd || !stbl) continue;
    const kind = fourcc(b, hdlr.start + 8);
    const timescale = b[mdhd.start] === 1 ? be32(b, mdhd.start + 20) : be32(b, mdhd.start + 12);
    const stsd = child(b, stbl, "stsd");
    if (!stsd) continue;
    const entry = boxes(b, stsd.start + 8, stsd.end)[0];
    if (!entry) continue;
    if (kind === "vide" && !movie.video) {
      const table = sampleTable(b, stbl);
      const width = be16(b, entry.start + 24), height = be16(b, entry.start + 26);
      const format = fourcc(b, entry.start - 4);
      let duration = 0;
      if (table.count > 1) duration = (table.times[table.count - 1] - table.times[0]) / (table.count - 1);
      movie.video = { format, width, height, timescale, table, frameDuration: duration };
    } else if (kind === "soun" && !movie.sound) {
      const sf = soundFormat(b, { start: entry.start - 8, end: entry.end });
      if (!sf) continue;
      movie.sound = { ...sf, timescale, table: sampleTable(b, stbl), stbl };
    }
  }
  if (!movie.video) throw new Error("no video track");
  const v = movie.video;
  if (!isZemo3Format(v.format)) throw new Error(`the video is '${v.format}', not a format this player reads`);
  movie.width = v.width;
  movie.height = v.height;
  movie.frames = v.table.count;
  movie.rate = v.frameDuration > 0 ? v.timescale / v.frameDuration : 25;
  if (movie.sound) prepareSound(movie.sound);
  return movie;
}

// Sound as runs of bytes: each chunk holds a whole number of sample frames
// (one sample per channel), whatever the table calls a sample.
function prepareSound(s) {
  const frameBytes = s.channels * s.bytes;
  const t = s.table;
  const chunks = [];
  let frames = 0;
  for (let i = 0; i < t.count; ) {
    const c = t.chunkOf[i];
    const offset = t.offsets[i];
    let bytes = 0;
    while (i < t.count && t.chunkOf[i] === c) bytes += t.sizes[i++];
    // Old-style tables count one-byte samples per sample frame.
    if (t.constant === 1) bytes = (bytes) * frameBytes;
    const n = Math.floor(bytes / frameBytes);
    chunks.push({ offset, first: frames, frames: n });
    frames += n;
  }
  s.chunks = chunks;
  s.frames = frames;
  s.frameBytes = frameBytes;
}

// Sample frames [first, first + count) as one Float32Array per channel.
async function readSound(movie, first, count) {
  const s = movie.sound;
  const out = [];
  for (let c = 0; c < s.channels; ++c) out.push(new Float32Array(count));
  const end = Math.min(first + count, s.frames);
  for (const chunk of s.chunks) {
    const a = Math.max(first, chunk.first), z = Math.min(end, chunk.first + chunk.frames);
    if (a >= z) continue;
    const bytes = await movie.source.read(chunk.offset + (a - chunk.first) * s.frameBytes, (z - a) * s.frameBytes);
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.length);
    const n = Math.floor(bytes.length / s.frameBytes);
    for (let i = 0; i < n; ++i)
      for (let c = 0; c < s.channels; ++c) {
        const at = i * s.frameBytes + c * s.bytes;
        let v;
        if (s.float) v = s.bytes === 8 ? view.getFloat64(at, s.little) : view.getFloat32(at, s.little);
        else if (s.bytes === 1) v = (view.getUint8(at) - 128) / 128;
        else if (s.bytes === 2) v = view.getInt16(at, s.little) / 32768;
        else if (s.bytes === 3) {
          const lo = s.little ? view.getUint8(at) | (view.getUint8(at + 1) << 8) : view.getUint8(at + 2) | (view.getUint8(at + 1) << 8);
          const hi = s.little ? view.getInt8(at + 2) : view.getInt8(at);
          v = (hi * 65536 + lo) / 8388608;
        } else v = view.getInt32(at, s.little) / 2147483648;
        out[c][a - first + i] = v;
      }
  }
  return out;
}

// Frame i's bytes.
function readFrame(movie, i) {
  const t = movie.video.table;
  return movie.source.read(t.offsets[i], t.sizes[i]);
}
