// GLSL sources of the renderer. Geometry is pulled from textures by vertex number: caps by the
// entry index in the caps index buffer, walls, outlines and dots by their position in a draw range.
// A draw's placements come from the instance list: sub-draw gl_DrawID of a call starts at
// drawBase[uDrawOffset + gl_DrawID] in the list, and GPU instance gl_InstanceID is the
// placement taken from there.

const VERSION = `#version 300 es
`;

const PRECISION = `precision highp float;
precision highp int;
precision highp sampler2D;
precision highp usampler2D;
uniform int uShift;
ivec2 texel(int i) { return ivec2(i & ((1 << uShift) - 1), i >> uShift); }
`;

// Extension directives must follow the version line directly.
const HEADER = VERSION + PRECISION;
const MULTI_HEADER = `${VERSION}#extension GL_ANGLE_multi_draw : require
${PRECISION}`;

const PLACEMENT = `
uniform sampler2D uInstances;
uniform sampler2D uEntries;
uniform usampler2D uList;
uniform usampler2D uDrawBase;
uniform int uDrawOffset;
uniform mat4 uViewProj;
vec4 m0;
vec4 m1;
void loadPlacement() {
  int base = int(texelFetch(uDrawBase, texel(uDrawOffset + gl_DrawID), 0).r);
  int slot = int(texelFetch(uList, texel(base + gl_InstanceID), 0).r);
  m0 = texelFetch(uInstances, texel(4 * slot), 0);
  m1 = texelFetch(uInstances, texel(4 * slot + 1), 0);
}
vec2 place(vec2 p) { return vec2(m0.x * p.x + m0.y * p.y + m0.z, m0.w * p.x + m1.x * p.y + m1.y); }
vec2 entry(int i) { return texelFetch(uEntries, texel(i), 0).xy; }
bool isSentinel(vec2 p) { return p.x > 1.0e37; }
// Pushes a clip position away from the viewer by uDepthShift in normalised depth: faces of
// lower-ranked layers lose against coincident faces of higher-ranked ones, and all faces against
// the outlines (which are not shifted).
uniform float uDepthShift;
vec4 shifted(vec4 position) { return vec4(position.xy, position.z + uDepthShift * position.w, position.w); }
const vec4 OUTSIDE = vec4(2.0, 2.0, 2.0, 1.0);
`;

// sRGB colour times a shade, the shade applied in linear light.
const SHADE = `
vec3 toLinear(vec3 c) { return mix(c / 12.92, pow((c + 0.055) / 1.055, vec3(2.4)), step(0.04045, c)); }
vec3 toSrgb(vec3 c) { return mix(c * 12.92, 1.055 * pow(c, vec3(1.0 / 2.4)) - 0.055, step(0.0031308, c)); }
vec3 shaded(vec3 srgb, float shade) { return shade == 1.0 ? srgb : toSrgb(toLinear(srgb) * shade); }
`;

const FLAT_FRAGMENT = `${HEADER}
uniform vec4 uColor;
out vec4 colour;
void main() { colour = uColor; }
`;

// The colour each vertex computed, unchanged.
const VERTEX_COLOUR_FRAGMENT = `${HEADER}
in vec4 vColor;
out vec4 colour;
void main() { colour = vColor; }
`;

export const CAPS = {
  vertex: `${MULTI_HEADER}${PLACEMENT}
uniform float uZ;
void main() {
  loadPlacement();
  gl_Position = shifted(uViewProj * vec4(place(entry(gl_VertexID)), uZ, 1.0));
}
`,
  fragment: FLAT_FRAGMENT,
};

// Corner c of a wall quad (two triangles 0-1-2 and 0-2-3 over the corners below):
// corner 0: start, bottom; 1: end, bottom; 2: end, top; 3: start, bottom; 4: end, top; 5: start, top.
export const WALLS = {
  vertex: `${MULTI_HEADER}${PLACEMENT}${SHADE}
uniform float uZ0;
uniform float uZ1;
uniform vec2 uLight;
uniform vec2 uWallShade;
uniform vec4 uColor;
out vec4 vColor;
void main() {
  loadPlacement();
  int edge = gl_VertexID / 6;
  int corner = gl_VertexID - 6 * edge;
  vec2 p0 = entry(edge);
  vec2 p1 = entry(edge + 1);
  if (isSentinel(p0) || isSentinel(p1)) { gl_Position = OUTSIDE; vColor = vec4(0.0); return; }
  bool atEnd = corner == 1 || corner == 2 || corner == 4;
  bool atTop = corner == 2 || corner == 4 || corner == 5;
  gl_Position = shifted(uViewProj * vec4(place(atEnd ? p1 : p0), atTop ? uZ1 : uZ0, 1.0));
  // Rings run counter-clockwise, so the outward normal of an edge is its direction turned right.
  // Normals follow the inverse transpose of the placement, which keeps them outward under mirrors
  // and magnification.
  vec2 n = vec2(p1.y - p0.y, p0.x - p1.x);
  float determinant = m0.x * m1.x - m0.y * m0.w;
  vec2 world = sign(determinant) * vec2(m1.x * n.x - m0.w * n.y, -m0.y * n.x + m0.x * n.y);
  float facing = length(world) > 0.0 ? dot(normalize(world), uLight) : 0.0;
  vColor = vec4(shaded(uColor.rgb, uWallShade.x + uWallShade.y * facing), uColor.a);
}
`,
  fragment: VERTEX_COLOUR_FRAGMENT,
};

export const DOTS = {
  vertex: `${MULTI_HEADER}${PLACEMENT}
uniform sampler2D uPolygons;
uniform float uZ;
void main() {
  loadPlacement();
  vec2 centre = texelFetch(uPolygons, texel(gl_VertexID), 0).xy;
  gl_Position = shifted(uViewProj * vec4(place(centre), uZ, 1.0));
  gl_PointSize = 1.0;
}
`,
  fragment: FLAT_FRAGMENT,
};

export const EDGES = {
  vertex: `${MULTI_HEADER}${PLACEMENT}
uniform float uZ;
void main() {
  loadPlacement();
  int edge = gl_VertexID >> 1;
  vec2 p0 = entry(edge);
  vec2 p1 = entry(edge + 1);
  if (isSentinel(p0) || isSentinel(p1)) { gl_Position = OUTSIDE; return; }
  gl_Position = shifted(uViewProj * vec4(place((gl_VertexID & 1) == 1 ? p1 : p0), uZ, 1.0));
}
`,
  fragment: FLAT_FRAGMENT,
};

// One dot per instance for every instance too small on screen for detail (see planner.js, whose
// test this repeats) and for every instance whose caps are not triangulated yet, in the colour of
// its layer, as large as the share of its box that its polygons cover.
export const PROXIES = {
  vertex: `${HEADER}
uniform sampler2D uInstances;
uniform sampler2D uLayers;
uniform sampler2D uVisible;
uniform sampler2D uReady;
uniform mat4 uViewProj;
uniform vec3 uEye;
uniform vec3 uDir;
uniform vec2 uPixel;
uniform float uZScale;
uniform float uDetailRadius;
uniform float uOpacity;
uniform float uRanks;
uniform float uDepthStep;
uniform usampler2D uProxies;
out vec4 vColor;
void main() {
  int slot = int(texelFetch(uProxies, texel(gl_VertexID), 0).r);
  vec4 t1 = texelFetch(uInstances, texel(4 * slot + 1), 0);
  vec4 t2 = texelFetch(uInstances, texel(4 * slot + 2), 0);
  vec4 t3 = texelFetch(uInstances, texel(4 * slot + 3), 0);
  int layer = int(t3.x);
  vec4 heights = texelFetch(uLayers, ivec2(0, layer), 0);
  vec4 colour = texelFetch(uLayers, ivec2(1, layer), 0);
  bool shown = texelFetch(uVisible, texel(int(t1.w)), 0).r > 0.5 && heights.w > 0.5;
  bool ready = texelFetch(uReady, texel(int(t1.z)), 0).r > 0.5;
  float zLow = heights.x * uZScale;
  float zHigh = (heights.x + heights.y) * uZScale;
  vec3 centre = vec3(t2.xy, 0.5 * (zLow + zHigh));
  float reach = length(vec2(t2.z, 0.5 * (zHigh - zLow)));
  float pixel = uPixel.x * max(dot(centre - uEye, uDir) - reach, 0.0) + uPixel.y;
  float radius = t2.z / pixel;
  if (!shown || (ready && radius >= uDetailRadius)) {
    gl_Position = vec4(2.0, 2.0, 2.0, 1.0);
    gl_PointSize = 1.0;
    vColor = vec4(0.0);
    return;
  }
  float z = uDir.z > 0.0 ? zLow : zHigh;
  gl_Position = uViewProj * vec4(t2.xy, z, 1.0);
  gl_Position.z += (2.0 + uRanks) * uDepthStep * gl_Position.w;
  gl_PointSize = clamp(2.0 * radius * sqrt(t2.w), 1.0, 2.0 * uDetailRadius);
  vColor = vec4(colour.rgb, uOpacity);
}
`,
  fragment: VERTEX_COLOUR_FRAGMENT,
};

// Plain coloured lines with their own vertices: axes, grid, the picked outline, measurements.
export const LINES = {
  vertex: `${HEADER}
in vec3 position;
in vec4 color;
uniform mat4 uViewProj;
out vec4 vColor;
void main() {
  gl_Position = uViewProj * vec4(position, 1.0);
  vColor = color;
  gl_PointSize = 7.0;
}
`,
  fragment: VERTEX_COLOUR_FRAGMENT,
};

// One dot per node of the culling tree that is a few pixels on screen (see planner.js), in the
// colour of the topmost layer below it.
export const AGGREGATES = {
  vertex: `${HEADER}
uniform sampler2D uNodes;
uniform usampler2D uAggregates;
uniform sampler2D uLayers;
uniform mat4 uViewProj;
uniform vec3 uEye;
uniform vec3 uDir;
uniform vec2 uPixel;
uniform float uZScale;
uniform float uOpacity;
uniform float uRanks;
uniform float uDepthStep;
uniform float uLargest;
out vec4 vColor;
void main() {
  int node = int(texelFetch(uAggregates, texel(gl_VertexID), 0).r);
  vec4 record = texelFetch(uNodes, texel(2 * node), 0);
  float covered = texelFetch(uNodes, texel(2 * node + 1), 0).x;
  int layer = int(record.z);
  vec4 heights = texelFetch(uLayers, ivec2(0, layer), 0);
  vec4 colour = texelFetch(uLayers, ivec2(1, layer), 0);
  float z = (uDir.z > 0.0 ? heights.x : heights.x + heights.y) * uZScale;
  vec3 centre = vec3(record.xy, z);
  float pixel = uPixel.x * max(dot(centre - uEye, uDir), 0.0) + uPixel.y;
  gl_Position = uViewProj * vec4(centre, 1.0);
  gl_Position.z += (2.0 + uRanks) * uDepthStep * gl_Position.w;
  // As wide as the node's box on screen, as opaque as its polygons cover it.
  gl_PointSize = clamp(0.7 * record.w / pixel, 1.0, uLargest);
  vColor = vec4(colour.rgb, uOpacity * clamp(2.0 * covered, 0.25, 1.0));
}
`,
  fragment: VERTEX_COLOUR_FRAGMENT,
};
