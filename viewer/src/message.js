// Reads a depthview message from its JSON text without turning the polygon pool into objects.
//
// The pool ("instances" of the scene root) is most of a large message: a million records
// {"shape": [n], "dtype": "float32", "buffer": "<base64>", "codec": "b64"}. Parsing them as JSON
// makes a million objects and strings only to decode them once. Here the pool is scanned in the
// text, each buffer decoded straight into one float array, and only the rest of the message (the
// part tree and the configuration) goes through JSON.parse. A message whose pool is written in
// any other way (other dtypes, plain arrays, other keys) is parsed whole, as before.
const POOL_KEY = '"instances"';
// One pool record in any spacing; sticky, so it matches at lastIndex only.
const RECORD =
  /\s*\{\s*"shape"\s*:\s*\[\s*(\d+)\s*\]\s*,\s*"dtype"\s*:\s*"float32"\s*,\s*"buffer"\s*:\s*"([A-Za-z0-9+/=]*)"\s*,\s*"codec"\s*:\s*"b64"\s*\}/dy;
const OPENING = /\s*:\s*\[\s*(\]?)/y;
// Stands in for the pool in the text that is parsed: a string no message holds.
const PLACEHOLDER = '\u0000tarnwick pool';

const noProgress = () => {};

// The message of `text` and its pool decoded ({values, starts}: polygon i is
// values[starts[i] .. starts[i + 1])), or the parsed message and null when the pool is not in the
// form read here (prepare.js then decodes it from the parsed records).
export function readMessageText(text, progress = noProgress) {
  const scanned = scanPool(text);
  if (scanned) {
    const message = JSON.parse(`${text.slice(0, scanned.from)}:${JSON.stringify(PLACEHOLDER)}${text.slice(scanned.to)}`);
    const root = message && message.type === 'data' ? message.data : message;
    if (root && root.instances === PLACEHOLDER) {
      root.instances = [];
      const pool = decodeScanned(text, scanned, progress);
      if (pool) return { message, pool };
    }
  }
  // Another form, or a buffer with something else than plain base64 in it (a JSON escape, a
  // character outside the alphabet): prepare.js reads the records and reports what is wrong.
  return { message: JSON.parse(text), pool: null };
}

// A record as the scene writers print it, compact or with the spacing of Python's json module;
// others are matched by RECORD.
const FORMS = [
  ['{"shape":[', '],"dtype":"float32","buffer":"', '","codec":"b64"}'],
  ['{"shape": [', '], "dtype": "float32", "buffer": "', '", "codec": "b64"}'],
];

// The pool's records in the text: the range [from, to) of the key's colon and array after the
// last "instances" key, with each record's value count and the place of its buffer text; null
// when a record has another form.
function scanPool(text) {
  const key = text.lastIndexOf(POOL_KEY);
  if (key < 0) return null;
  const from = key + POOL_KEY.length;
  OPENING.lastIndex = from;
  const opening = OPENING.exec(text);
  if (!opening) return null;
  let count = 0;
  let shapes = new Int32Array(1024);
  let places = new Int32Array(2048); // start and end of each buffer's text
  let p = OPENING.lastIndex;
  let form = 0;
  if (opening[1]) return { from, to: p, count, shapes, places };
  for (;;) {
    if (count === shapes.length) {
      shapes = grow(shapes);
      places = grow(places);
    }
    let shape = -1;
    let start = -1;
    let end = -1;
    let next = -1;
    const [head, middle, tail] = FORMS[form];
    if (text.startsWith(head, p)) {
      // The writers' own form: digits, the middle, base64, the tail.
      let q = p + head.length;
      shape = 0;
      for (let c = text.charCodeAt(q); c >= 48 && c <= 57; c = text.charCodeAt(++q)) shape = 10 * shape + c - 48;
      if (q > p + head.length && text.startsWith(middle, q)) {
        start = q + middle.length;
        end = text.indexOf('"', start);
        if (end > 0 && text.startsWith(tail, end)) next = end + tail.length;
      }
    }
    if (next < 0 && count === 0 && form === 0) {
      form = 1; // the first record tells which form the writer used
      continue;
    }
    if (next < 0) {
      RECORD.lastIndex = p;
      const record = RECORD.exec(text);
      if (!record) return null;
      shape = Number(record[1]);
      [start, end] = record.indices[2];
      next = RECORD.lastIndex;
    }
    shapes[count] = shape;
    places[2 * count] = start;
    places[2 * count + 1] = end;
    count += 1;
    // The separator: a comma or the closing bracket, after optional white space.
    let c = text.charCodeAt(next);
    while (c === 32 || c === 10 || c === 13 || c === 9) c = text.charCodeAt(++next);
    if (c === 93) return { from, to: next + 1, count, shapes, places };
    if (c !== 44) return null;
    p = next + 1;
    c = text.charCodeAt(p);
    while (c === 32 || c === 10 || c === 13 || c === 9) c = text.charCodeAt(++p);
  }
}

function grow(array) {
  const grown = new Int32Array(2 * array.length);
  grown.set(array);
  return grown;
}

// Base64 characters to their six bits; 64 marks '=', 255 anything else.
const SEXTETS = new Uint8Array(128).fill(255);
'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/'.split('').forEach((c, i) => {
  SEXTETS[c.charCodeAt(0)] = i;
});
SEXTETS[61] = 64;

function decodeScanned(text, { count, shapes, places }, progress) {
  progress('decoding polygons', 0, count);
  const starts = new Int32Array(count + 1);
  let total = 0;
  for (let i = 0; i < count; i += 1) {
    const characters = places[2 * i + 1] - places[2 * i];
    const last = places[2 * i + 1] - 1;
    const padding = characters > 0 ? (text.charCodeAt(last) === 61) + (text.charCodeAt(last - 1) === 61) : 0;
    const length = characters % 4 ? -1 : ((characters / 4) * 3 - padding) / 4;
    if (length !== shapes[i]) return null;
    starts[i] = total;
    total += length;
  }
  starts[count] = total;
  const values = new Float32Array(total);
  const bytes = new Uint8Array(values.buffer);
  for (let i = 0; i < count; i += 1) {
    if (!decodeRange(text, places[2 * i], places[2 * i + 1], bytes, 4 * starts[i])) return null;
    if ((i & 65535) === 65535) progress('decoding polygons', i + 1, count);
  }
  progress('decoding polygons', count, count);
  return { values, starts };
}

// Decodes the base64 text[start .. end) (whole, padded quadruples) into bytes from `offset` on;
// false when the text is not plain base64.
function decodeRange(text, start, end, bytes, offset) {
  let o = offset;
  for (let k = start; k < end; k += 4) {
    const ca = text.charCodeAt(k);
    const cb = text.charCodeAt(k + 1);
    const cc = text.charCodeAt(k + 2);
    const cd = text.charCodeAt(k + 3);
    if ((ca | cb | cc | cd) > 127) return false;
    const a = SEXTETS[ca];
    const b = SEXTETS[cb];
    const c = SEXTETS[cc];
    const d = SEXTETS[cd];
    if ((a | b) > 63 || c > 64 || d > 64) return false;
    bytes[o++] = (a << 2) | (b >> 4);
    if ((c | d) < 64) {
      bytes[o++] = ((b & 15) << 4) | (c >> 2);
      bytes[o++] = ((c & 3) << 6) | d;
    } else {
      // Padding: only in the last quadruple, and "x=" only after a character.
      if (k + 4 !== end || (c === 64 && d !== 64)) return false;
      if (c < 64) bytes[o++] = ((b & 15) << 4) | (c >> 2);
    }
  }
  return true;
}
