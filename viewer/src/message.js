// Reads a depthview message from its JSON text without turning the polygon pool into objects.
//
// The pool ("instances" of the scene root) is most of a large message: a million records
// {"shape": [n], "dtype": "float32", "buffer": "<base64>", "codec": "b64"}. Parsing them as JSON
// makes a million objects and strings only to decode them once. Here the pool is scanned in the
// text, each buffer decoded straight into one float array, and only the rest of the message (the
// part tree and the configuration) goes through JSON.parse. A message whose pool is written in
// any other way (other dtypes, plain arrays, other keys) is parsed whole, as before.
import { base64Length, decodeBase64Into } from './base64.js';

const POOL_KEY = '"instances"';
// One pool record, then the comma or bracket after it; sticky, so it matches at lastIndex only.
const RECORD =
  /\s*\{\s*"shape"\s*:\s*\[\s*(\d+)\s*\]\s*,\s*"dtype"\s*:\s*"float32"\s*,\s*"buffer"\s*:\s*"([A-Za-z0-9+/=]*)"\s*,\s*"codec"\s*:\s*"b64"\s*\}\s*([,\]])/y;
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
      return { message, pool: decodeScanned(scanned.buffers, scanned.shapes, progress) };
    }
  }
  return { message: JSON.parse(text), pool: null };
}

// The pool's records in the text: the range [from, to) of the key's colon and array after the
// last "instances" key, with each record's buffer text and value count; null when a record has
// another form.
function scanPool(text) {
  const key = text.lastIndexOf(POOL_KEY);
  if (key < 0) return null;
  const from = key + POOL_KEY.length;
  OPENING.lastIndex = from;
  const opening = OPENING.exec(text);
  if (!opening) return null;
  const buffers = [];
  let shapes = new Int32Array(1024);
  let to = OPENING.lastIndex;
  if (!opening[1]) {
    RECORD.lastIndex = to;
    for (;;) {
      const record = RECORD.exec(text);
      if (!record) return null;
      if (buffers.length === shapes.length) {
        const grown = new Int32Array(2 * shapes.length);
        grown.set(shapes);
        shapes = grown;
      }
      shapes[buffers.length] = Number(record[1]);
      buffers.push(record[2]);
      if (record[3] === ']') break;
    }
    to = RECORD.lastIndex;
    RECORD.lastIndex = 0;
  }
  return { from, to, buffers, shapes };
}

function decodeScanned(buffers, shapes, progress) {
  const count = buffers.length;
  progress('decoding polygons', 0, count);
  const starts = new Int32Array(count + 1);
  let total = 0;
  for (let i = 0; i < count; i += 1) {
    const length = base64Length(buffers[i]) / 4;
    if (length !== shapes[i]) throw new Error(`polygon ${i}: buffer holds ${length} values, shape says ${shapes[i]}`);
    starts[i] = total;
    total += length;
  }
  starts[count] = total;
  const values = new Float32Array(total);
  const bytes = new Uint8Array(values.buffer);
  for (let i = 0; i < count; i += 1) {
    decodeBase64Into(buffers[i], bytes, 4 * starts[i]);
    buffers[i] = null;
    if ((i & 65535) === 65535) progress('decoding polygons', i + 1, count);
  }
  progress('decoding polygons', count, count);
  return { values, starts };
}
