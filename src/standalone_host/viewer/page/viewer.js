// korvo view: look around in a cube panorama, either eye or both.
import * as THREE from './three.module.js';
import { FACE, FRAMES, LEFT, RIGHT, layoutOfSize, unknownLayoutMessage } from './layouts.js';

const DEFAULT_FOV = 75;
const MODES = ['left', 'right', 'anaglyph', 'side-by-side'];
// The layer each eye's cube lives on; WebXR's eye cameras see layers 1 and 2 respectively.
const EYE_LAYER = [1, 2];

const container = document.getElementById('view');
const modeSelect = document.getElementById('mode');
const view = { yaw: 0, pitch: 0, fov: DEFAULT_FOV, mode: 'left' };

function showMessage(text) {
  document.getElementById('message').textContent = text;
  document.body.dataset.status = 'error';
  console.error(text);
}

// Panorama frame (+X right, +Y forward, +Z up) to three.js (+X right, +Y up, -Z forward).
const toWorld = ([x, y, z]) => new THREE.Vector3(x, z, -y);

function faceTexture(image, cell) {
  const canvas = document.createElement('canvas');
  canvas.width = canvas.height = FACE;
  const context = canvas.getContext('2d');
  if (cell.mirrored) context.setTransform(-1, 0, 0, 1, FACE, 0);
  context.drawImage(image, cell.x, cell.y, FACE, FACE, 0, 0, FACE, FACE);
  const texture = new THREE.CanvasTexture(canvas);
  texture.colorSpace = THREE.SRGBColorSpace;
  texture.anisotropy = 4;
  return texture;
}

// Each eye's cube: six squares two units wide around the eye, facing inwards, each showing its
// face's picture with the picture's right and up along the face's right and up.
function addCube(scene, image, layout, eye) {
  FRAMES.forEach((frame, face) => {
    const material = new THREE.MeshBasicMaterial({ map: faceTexture(image, layout.cell(eye, face)) });
    const mesh = new THREE.Mesh(new THREE.PlaneGeometry(2, 2), material);
    const forward = toWorld(frame.forward);
    mesh.matrix.makeBasis(toWorld(frame.right), toWorld(frame.up), forward.clone().negate());
    mesh.matrix.setPosition(forward);
    mesh.matrixAutoUpdate = false;
    mesh.layers.set(EYE_LAYER[eye]);
    scene.add(mesh);
  });
}

function loadImage(url) {
  return new Promise((resolve, reject) => {
    const image = new Image();
    image.onload = () => resolve(image);
    image.onerror = () => reject(new Error('not readable'));
    image.src = url;
  });
}

async function start() {
  const info = await fetch('panorama.json').then((r) => r.json()).catch(() => ({}));
  const name = info.name ?? 'panorama';
  document.title = `${name} · korvo view`;
  document.getElementById('name').textContent = name;

  let image;
  try {
    image = await loadImage('panorama.jpg');
  } catch {
    showMessage(`${name} cannot be read as a picture, so it is no panorama korvo knows.`);
    return;
  }
  const layout = layoutOfSize(image.naturalWidth, image.naturalHeight);
  if (!layout) {
    showMessage(`${name}: ${unknownLayoutMessage(image.naturalWidth, image.naturalHeight)}`);
    return;
  }

  const renderer = new THREE.WebGLRenderer({ antialias: false, preserveDrawingBuffer: true });
  renderer.setPixelRatio(window.devicePixelRatio);
  renderer.setSize(container.clientWidth, container.clientHeight);
  renderer.xr.enabled = true;
  container.appendChild(renderer.domElement);

  const scene = new THREE.Scene();
  addCube(scene, image, layout, LEFT);
  addCube(scene, image, layout, RIGHT);
  const camera = new THREE.PerspectiveCamera(DEFAULT_FOV, 1, 0.01, 10);
  camera.rotation.order = 'YXZ';

  function aim(aspect) {
    camera.rotation.set(THREE.MathUtils.degToRad(view.pitch), -THREE.MathUtils.degToRad(view.yaw), 0);
    camera.fov = view.fov;
    camera.aspect = aspect;
    camera.updateProjectionMatrix();
  }

  function drawEye(eye, x, width, height) {
    renderer.setViewport(x, 0, width, height);
    renderer.setScissor(x, 0, width, height);
    aim(width / height);
    camera.layers.set(EYE_LAYER[eye]);
    renderer.render(scene, camera);
  }

  function draw() {
    if (renderer.xr.isPresenting) {
      // The headset's eye cameras add layer 1 (left) or 2 (right) to this camera's layers.
      renderer.setScissorTest(false);
      renderer.autoClear = true;
      camera.layers.set(0);
      renderer.render(scene, camera);
      return;
    }
    const width = container.clientWidth;
    const height = container.clientHeight;
    const gl = renderer.getContext();
    renderer.setScissorTest(true);
    renderer.autoClear = false;
    renderer.setViewport(0, 0, width, height);
    renderer.setScissor(0, 0, width, height);
    renderer.clear();
    if (view.mode === 'left' || view.mode === 'right') {
      drawEye(view.mode === 'left' ? LEFT : RIGHT, 0, width, height);
    } else if (view.mode === 'side-by-side') {
      const half = Math.floor(width / 2);
      drawEye(LEFT, 0, half, height);
      drawEye(RIGHT, half, width - half, height);
    } else {
      // Red from the left eye, green and blue from the right one. three.js caches the colour
      // mask it sets itself and leaves one set here alone.
      gl.colorMask(true, false, false, true);
      drawEye(LEFT, 0, width, height);
      renderer.clearDepth();
      gl.colorMask(false, true, true, true);
      drawEye(RIGHT, 0, width, height);
      gl.colorMask(true, true, true, true);
    }
  }

  function look(yaw, pitch) {
    view.yaw = ((((yaw + 180) % 360) + 360) % 360) - 180;
    view.pitch = Math.max(-90, Math.min(90, pitch));
  }
  function setFov(fov) {
    view.fov = Math.max(20, Math.min(110, fov));
  }
  function setMode(mode) {
    if (!MODES.includes(mode)) throw new Error(`no such mode: ${mode}`);
    view.mode = mode;
    modeSelect.value = mode;
  }
  function reset() {
    look(0, 0);
    setFov(DEFAULT_FOV);
  }

  // Dragging pulls the picture along under the pointer.
  let drag = null;
  container.addEventListener('pointerdown', (e) => {
    drag = { x: e.clientX, y: e.clientY, yaw: view.yaw, pitch: view.pitch };
    container.setPointerCapture(e.pointerId);
  });
  container.addEventListener('pointermove', (e) => {
    if (!drag) return;
    const degreesPerPixel = view.fov / container.clientHeight;
    look(drag.yaw - (e.clientX - drag.x) * degreesPerPixel,
         drag.pitch + (e.clientY - drag.y) * degreesPerPixel);
  });
  container.addEventListener('pointerup', () => { drag = null; });
  container.addEventListener('wheel', (e) => {
    e.preventDefault();
    setFov(view.fov + e.deltaY * 0.05);
  }, { passive: false });
  window.addEventListener('keydown', (e) => {
    if (e.target instanceof HTMLSelectElement) return;
    const step = 5;
    const keys = {
      ArrowLeft: () => look(view.yaw - step, view.pitch),
      ArrowRight: () => look(view.yaw + step, view.pitch),
      ArrowUp: () => look(view.yaw, view.pitch + step),
      ArrowDown: () => look(view.yaw, view.pitch - step),
      r: reset, R: reset, 0: reset,
      1: () => setMode('left'), 2: () => setMode('right'),
      3: () => setMode('anaglyph'), 4: () => setMode('side-by-side'),
    };
    if (keys[e.key]) {
      keys[e.key]();
      e.preventDefault();
    }
  });
  modeSelect.addEventListener('change', () => setMode(modeSelect.value));
  document.getElementById('reset').addEventListener('click', reset);
  window.addEventListener('resize', () => renderer.setSize(container.clientWidth, container.clientHeight));

  setUpVr(renderer);
  renderer.setAnimationLoop(draw);
  // For scripts driving the page (the page's tests): angles in degrees, yaw turning right.
  window.korvoView = { look, setFov, setMode, reset, view, layout: layout.name,
                       frame: () => new Promise((r) => requestAnimationFrame(() => r())) };
  document.body.dataset.status = 'ready';
}

// "Enter VR" only where the browser has a headset to show it on; each eye sees its own cube.
async function setUpVr(renderer) {
  if (!navigator.xr || !(await navigator.xr.isSessionSupported('immersive-vr').catch(() => false))) return;
  const button = document.getElementById('vr');
  button.hidden = false;
  let session = null;
  button.addEventListener('click', async () => {
    if (session) {
      session.end();
      return;
    }
    try {
      session = await navigator.xr.requestSession('immersive-vr', { optionalFeatures: ['local-floor'] });
    } catch (error) {
      showMessage(`The headset could not be started: ${error.message}`);
      return;
    }
    session.addEventListener('end', () => {
      session = null;
      button.textContent = 'Enter VR';
    });
    await renderer.xr.setSession(session);
    button.textContent = 'Exit VR';
  });
}

start().catch((error) => showMessage(`The viewer stopped: ${error.message}`));
