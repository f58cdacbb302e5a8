// Base64 decoding straight into a byte array, without the intermediate binary string of atob():
// the polygon pool of a large scene is hundreds of megabytes of base64 text.

const ALPHABET = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
const VALUES = new Uint8Array(256).fill(255);
for (let i = 0; i < ALPHABET.length; i += 1) VALUES[ALPHABET.charCodeAt(i)] = i;

// The number of bytes that the standard, padded base64 `text` encodes.
export function base64Length(text) {
  const length = text.length;
  if (length % 4 !== 0) throw new Error(`base64 text of ${length} characters is not padded`);
  let padding = 0;
  if (length > 0 && text.charCodeAt(length - 1) === 61) padding += 1;
  if (length > 1 && text.charCodeAt(length - 2) === 61) padding += 1;
  return (length / 4) * 3 - padding;
}

// Decodes the standard, padded base64 `text` into `bytes` from `offset` on; returns the number of
// bytes written. Throws on a character outside the alphabet.
export function decodeBase64Into(text, bytes, offset = 0) {
  const total = base64Length(text);
  if (offset + total > bytes.length) throw new Error('base64 text does not fit its target');
  const full = Math.floor(total / 3) * 4;
  let out = offset;
  let i = 0;
  for (; i < full; i += 4) {
    const a = VALUES[text.charCodeAt(i)];
    const b = VALUES[text.charCodeAt(i + 1)];
    const c = VALUES[text.charCodeAt(i + 2)];
    const d = VALUES[text.charCodeAt(i + 3)];
    if ((a | b | c | d) > 63) throw new Error(`invalid base64 character near position ${i}`);
    bytes[out] = (a << 2) | (b >> 4);
    bytes[out + 1] = ((b & 15) << 4) | (c >> 2);
    bytes[out + 2] = ((c & 3) << 6) | d;
    out += 3;
  }
  const rest = total - (out - offset);
  if (rest > 0) {
    const a = VALUES[text.charCodeAt(i)];
    const b = VALUES[text.charCodeAt(i + 1)];
    const c = rest === 2 ? VALUES[text.charCodeAt(i + 2)] : 0;
    if ((a | b | c) > 63) throw new Error(`invalid base64 character near position ${i}`);
    bytes[out] = (a << 2) | (b >> 4);
    if (rest === 2) bytes[out + 1] = ((b & 15) << 4) | (c >> 2);
    out += rest;
  }
  return out - offset;
}
