// A small helper for building DOM nodes: element('div', {class: 'x', onclick: f}, child, ...).
export function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === 'class') node.className = value;
    else if (key.startsWith('on') && typeof value === 'function') node.addEventListener(key.slice(2), value);
    else node.setAttribute(key, value);
  }
  for (const child of children) node.append(child);
  return node;
}

// A length in micrometres with a sensible number of digits.
export function micrometres(value) {
  const size = Math.abs(value);
  const digits = size >= 1000 ? 1 : size >= 10 ? 3 : 4;
  return `${value.toFixed(digits)}`;
}
