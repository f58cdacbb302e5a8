// Base64 decoding straight into a byte array: the polygon pool of a large scene is hundreds of
// megabytes of base64 text, decoded polygon by polygon into one buffer.

// The number of bytes that the standard, padded base64 `text` encodes.
export function base64Length(text) {
  const length = text.length;
  if (length % 4 !== 0) throw new Error(`base64 text of ${length} characters is not padded`);
  let padding = 0;
  if (length > 0 && text.charCodeAt(length - 1) === 61) padding += 1;
  if (length > 1 && text.charCodeAt(length - 2) === 61) padding += 1;
  return (length / 4) * 3 - padding;
}

// The platform's own decoder into a byte array (Uint8Array.prototype.setFromBase64), where there
// is one: it writes straight into the target with no intermediate string.
const NATIVE = typeof Uint8Array.prototype.setFromBase64 === 'function';

// Decodes the standard, padded base64 `text` into `bytes` from `offset` on; returns the number of
// bytes written. Throws on a character outside the alphabet. (Without the native decoder: the
// platform's decoder into a binary string, then one copy, is faster than decoding character by
// character here.)
export function decodeBase64Into(text, bytes, offset = 0) {
  const total = base64Length(text);
  if (offset + total > bytes.length) throw new Error('base64 text does not fit its target');
  if (NATIVE) {
    let result;
    try {
      result = bytes.subarray(offset, offset + total).setFromBase64(text, { lastChunkHandling: 'strict' });
    } catch {
      throw new Error('invalid base64 character in a buffer');
    }
    if (result.read !== text.length || result.written !== total) throw new Error('invalid base64 text in a buffer');
    return total;
  }
  let binary;
  try {
    binary = atob(text);
  } catch {
    throw new Error('invalid base64 character in a buffer');
  }
  for (let k = 0; k < total; k += 1) bytes[offset + k] = binary.charCodeAt(k);
  return total;
}
