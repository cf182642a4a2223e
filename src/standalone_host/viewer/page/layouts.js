// The panorama layouts korvo writes, and where each eye's cube faces sit in them.
//
// Faces are numbered top 0, bottom 1, left 2, right 3, front 4, back 5. Directions are in the
// panorama camera's frame: +X right, +Y forward (the front face), +Z up.

export const FACE = 1536;
export const LEFT = 0;
export const RIGHT = 1;

// How each face looks at the scene: its view direction and its picture's right and up.
export const FRAMES = [
  { forward: [0, 0, 1], right: [-1, 0, 0], up: [0, 1, 0] },   // top: picture up is forward
  { forward: [0, 0, -1], right: [-1, 0, 0], up: [0, -1, 0] }, // bottom: picture up is backward
  { forward: [-1, 0, 0], right: [0, 1, 0], up: [0, 0, 1] },   // left
  { forward: [1, 0, 0], right: [0, -1, 0], up: [0, 0, 1] },   // right
  { forward: [0, 1, 0], right: [1, 0, 0], up: [0, 0, 1] },    // front
  { forward: [0, -1, 0], right: [-1, 0, 0], up: [0, 0, 1] },  // back
];

// Cell index within an eye's run of six, by face number.
const STRIP_CELLS = [2, 3, 1, 0, 5, 4]; // right, left, top, bottom, back, front
const GRID_CELLS = [5, 4, 2, 0, 3, 1];  // right, back, left, front, bottom, top

export const LAYOUTS = [
  {
    name: 'strip',
    width: 12 * FACE,
    height: FACE,
    describe: 'twelve cube faces in a row, left eye first',
    cell: (eye, face) => ({ x: (eye * 6 + STRIP_CELLS[face]) * FACE, y: 0, mirrored: true }),
  },
  {
    name: 'grid',
    width: 6 * FACE,
    height: 2 * FACE,
    describe: 'two rows of six, right eye above',
    cell: (eye, face) => ({ x: GRID_CELLS[face] * FACE, y: eye === RIGHT ? 0 : FACE, mirrored: false }),
  },
];

export function layoutOfSize(width, height) {
  return LAYOUTS.find((l) => l.width === width && l.height === height) ?? null;
}

export function unknownLayoutMessage(width, height) {
  const known = LAYOUTS.map((l) => `${l.width} × ${l.height} (${l.describe})`).join(' or ');
  return `This image is ${width} × ${height} pixels, which is no known panorama layout. ` +
    `Expected ${known}.`;
}
