// The viewer configuration that a depthview message carries ("config"), reduced to what this page
// does with it. Keys the page has no use for are listed in viewer/README.md.

const bool = (value, fallback) => (typeof value === 'boolean' ? value : fallback);
const positive = (value) => (Number.isFinite(value) && value > 0 ? Math.min(value, 100) : 1);

export function readConfig(config = {}) {
  const opacity = Number(config.default_opacity);
  const grid = Array.isArray(config.grid) ? config.grid : [];
  const up = String(config.up ?? 'Z').toUpperCase();
  return {
    // Orthographic projection unless the message asks for perspective.
    ortho: bool(config.ortho, true),
    // Layers are see-through only when the message asks for transparency.
    opacity:
      config.transparent === true && Number.isFinite(opacity) ? Math.min(1, Math.max(0.05, opacity)) : 1,
    edges: bool(config.render_edges, true),
    edgeColor:
      config.black_edges === true
        ? '#000000'
        : typeof config.default_edgecolor === 'string'
          ? config.default_edgecolor
          : '#707070',
    // Speeds of the mouse controls (1 is the usual speed).
    rotateSpeed: positive(config.rotate_speed),
    zoomSpeed: positive(config.zoom_speed),
    panSpeed: positive(config.pan_speed),
    defaultColor: typeof config.default_color === 'string' ? config.default_color : '#e8b024',
    axes: bool(config.axes, false),
    // Axes at the origin of the layout rather than at the centre of the scene.
    axesAtOrigin: bool(config.axes0, true),
    // Grids in the xy, xz and yz planes.
    grid: [0, 1, 2].map((i) => grid[i] === true),
    ticks: Number.isInteger(config.ticks) && config.ticks > 0 ? config.ticks : 10,
    up: up === 'Y' ? 'Y' : 'Z',
    // Depth of the part tree opened at first.
    collapse: Number.isInteger(config.collapse) && config.collapse >= 0 ? config.collapse : 3,
  };
}

// An sRGB colour [r, g, b] in 0-1 from a CSS hex colour (#rgb or #rrggbb) or one of the colour
// names a message may use; null when unknown.
const NAMED = {
  black: '#000000',
  white: '#ffffff',
  gray: '#808080',
  grey: '#808080',
  red: '#ff0000',
  green: '#008000',
  blue: '#0000ff',
  yellow: '#ffff00',
  orange: '#ffa500',
  violet: '#ee82ee',
  mediumorchid: '#ba55d3',
  purple: '#800080',
  cyan: '#00ffff',
  magenta: '#ff00ff',
};

export function parseColor(text) {
  let hex = String(text ?? '').trim().toLowerCase();
  hex = NAMED[hex] || hex;
  let match = /^#([0-9a-f])([0-9a-f])([0-9a-f])$/.exec(hex);
  if (match) return match.slice(1).map((c) => parseInt(c + c, 16) / 255);
  match = /^#([0-9a-f]{2})([0-9a-f]{2})([0-9a-f]{2})(?:[0-9a-f]{2})?$/.exec(hex);
  if (match) return match.slice(1).map((c) => parseInt(c, 16) / 255);
  return null;
}
