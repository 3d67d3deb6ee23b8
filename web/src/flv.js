// What a browser needs to know of an FLV stream before playing it: its video
// codec (H.264 plays through Media Source Extensions, Sorenson Spark and VP6
// do not), its sound and its frame size. Read from the start of the file.

const VIDEO_CODECS = { 2: 'spark', 3: 'screen', 4: 'vp6', 5: 'vp6', 6: 'screen', 7: 'avc', 12: 'hevc' };
const AUDIO_CODECS = { 2: 'mp3', 10: 'aac', 14: 'mp3' };

// The properties of an AMF0 "onMetaData" that are numbers; the rest is passed over.
function readMetadata(view, start) {
  const meta = {};
  let p = start;
  const u8 = () => view.getUint8(p++);
  const u16 = () => { const v = view.getUint16(p); p += 2; return v; };
  const u32 = () => { const v = view.getUint32(p); p += 4; return v; };
  const str = (n) => { const s = new TextDecoder().decode(new Uint8Array(view.buffer, view.byteOffset + p, n)); p += n; return s; };
  const value = (depth) => {
    if (depth > 16) throw new RangeError('nested too deep');
    const type = u8();
    switch (type) {
      case 0: { const v = view.getFloat64(p); p += 8; return v; }
      case 1: return u8() !== 0;
      case 2: return str(u16());
      case 12: return str(u32());
      case 3: case 8: {
        if (type === 8) p += 4;
        const out = {};
        for (;;) {
          const n = u16();
          if (n === 0 && view.getUint8(p) === 9) { p++; return out; }
          out[str(n)] = value(depth + 1);
        }
      }
      case 10: { const n = u32(); const out = []; for (let i = 0; i < n; i++) out.push(value(depth + 1)); return out; }
      case 11: p += 10; return null;
      case 5: case 6: return null;
      default: throw new RangeError(`AMF type ${type}`);
    }
  };
  try {
    if (u8() !== 2 || str(u16()) !== 'onMetaData') return meta;
    Object.assign(meta, value(0));
  } catch {
    // Cut short or odd: what was read before stands.
  }
  return meta;
}

// Walks the tags of `bytes` (the start of a file, or of a later piece at
// `offset`); returns where reading must go on, or null when all is known.
export function scanFLV(bytes, info = { hasVideo: false, hasAudio: false }, offset = 0) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  let p = 0;
  if (offset === 0) {
    if (bytes.length < 9 || bytes[0] !== 0x46 || bytes[1] !== 0x4c || bytes[2] !== 0x56) throw new Error('not an FLV file');
    info.hasAudio = (bytes[4] & 4) !== 0;
    info.hasVideo = (bytes[4] & 1) !== 0;
    p = view.getUint32(5) + 4; // header, then the first PreviousTagSize
  }
  while (p + 12 <= bytes.length) {
    const type = bytes[p] & 0x1f;
    const size = (bytes[p + 1] << 16) | (bytes[p + 2] << 8) | bytes[p + 3];
    const data = p + 11;
    if (type === 18 && !info.metadata) {
      info.metadata = readMetadata(view, data);
    } else if (type === 9 && !info.videoCodec) {
      info.videoCodec = VIDEO_CODECS[bytes[data] & 0x0f] ?? 'other';
    } else if (type === 8 && !info.audioCodec) {
      info.audioCodec = AUDIO_CODECS[bytes[data] >> 4] ?? 'other';
    }
    if ((info.videoCodec || !info.hasVideo) && (info.audioCodec || !info.hasAudio)) return null;
    p = data + size + 4;
  }
  return offset + p;
}

async function readRange(url, from, length) {
  const response = await fetch(url, { headers: { Range: `bytes=${from}-${from + length - 1}` } });
  if (!response.ok) throw new Error(`${response.status} ${response.statusText}`.trim());
  if (response.status !== 206 && from > 0) throw new Error('the server does not send parts of files');
  // A server that sends the whole file is read only as far as needed.
  const reader = response.body.getReader();
  const out = new Uint8Array(length);
  let filled = 0;
  while (filled < length) {
    const { done, value } = await reader.read();
    if (done) break;
    const take = Math.min(value.length, length - filled);
    out.set(value.subarray(0, take), filled);
    filled += take;
  }
  reader.cancel().catch(() => {});
  return out.subarray(0, filled);
}

// { videoCodec, audioCodec, hasVideo, hasAudio, width, height }
export async function probeFLV(url) {
  const info = { hasVideo: false, hasAudio: false };
  let next = scanFLV(await readRange(url, 0, 65536), info, 0);
  // Metadata with a long keyframe index can hide the first tags.
  for (let round = 0; next !== null && round < 4; round++) {
    const piece = await readRange(url, next, 4096);
    if (piece.length < 12) break;
    next = scanFLV(piece, info, next);
  }
  const m = info.metadata ?? {};
  if (!info.videoCodec && typeof m.videocodecid === 'number') info.videoCodec = VIDEO_CODECS[m.videocodecid] ?? 'other';
  info.width = typeof m.width === 'number' ? Math.trunc(m.width) : 0;
  info.height = typeof m.height === 'number' ? Math.trunc(m.height) : 0;
  return info;
}
