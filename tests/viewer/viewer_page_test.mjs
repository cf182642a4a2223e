// The viewer page in headless Chromium, driven by puppeteer-core: what each view shows, read back
// from screenshots of the page.
//
//   node viewer_page_test.mjs CHROMIUM SCREENSHOT.png name=URL ...
//
// URLs by name: walls (a stereo grid of the six-walls room, right eye at half brightness),
// gradient (a mono strip whose colour follows the direction, both eyes alike), small (a JPEG of
// no known size), text (no picture at all). Prints one line per check; exits
// with 1 when any failed.
import puppeteer from 'puppeteer-core';
import { writeFileSync } from 'node:fs';

const [chromium, screenshotPath, ...named] = process.argv.slice(2);
const urls = Object.fromEntries(named.map((a) => [a.slice(0, a.indexOf('=')), a.slice(a.indexOf('=') + 1)]));

const WALLS = { red: [208, 32, 32], green: [32, 176, 32], blue: [32, 64, 208], yellow: [208, 208, 32],
                magenta: [192, 32, 192], cyan: [32, 192, 192] };
const WIDTH = 320, HEIGHT = 240;

let failures = 0;
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures++;
}

function nearestWall([r, g, b]) {
  const sum = r + g + b + 1e-9;
  let best = null, bestDistance = Infinity;
  for (const [name, c] of Object.entries(WALLS)) {
    const cs = c[0] + c[1] + c[2];
    const d = (r / sum - c[0] / cs) ** 2 + (g / sum - c[1] / cs) ** 2 + (b / sum - c[2] / cs) ** 2;
    if (d < bestDistance) [best, bestDistance] = [name, d];
  }
  return best;
}

// The screenshot's pixels, decoded by the browser itself.
async function screenshot(page) {
  const png = await page.screenshot({ encoding: 'base64' });
  const pixels = await page.evaluate(async (data) => {
    const image = new Image();
    image.src = `data:image/png;base64,${data}`;
    await image.decode();
    const canvas = new OffscreenCanvas(image.width, image.height);
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    return Array.from(context.getImageData(0, 0, image.width, image.height).data);
  }, png);
  return { at: (x, y) => pixels.slice((y * WIDTH + x) * 4, (y * WIDTH + x) * 4 + 3), png };
}

const started = Date.now();
async function open(browser, url) {
  const page = await browser.newPage();
  const opened = Date.now();
  await page.setViewport({ width: WIDTH, height: HEIGHT, deviceScaleFactor: 1 });
  page.on('pageerror', (error) => console.log(`page error: ${error.message}`));
  await page.goto(url);
  await page.waitForFunction(() => document.body.dataset.status !== 'loading', { timeout: 60000 });
  console.log(`     ${url} loaded in ${Date.now() - opened} ms (${Date.now() - started} ms in all)`);
  // The toolbar would cover part of each view.
  await page.addStyleTag({ content: '#bar { display: none !important; }' });
  return page;
}

async function look(page, yaw, pitch, mode = 'left', fov = 60) {
  await page.evaluate(async (yaw, pitch, mode, fov) => {
    korvoView.setMode(mode);
    korvoView.setFov(fov);
    korvoView.look(yaw, pitch);
    await korvoView.frame();
    await korvoView.frame();
  }, yaw, pitch, mode, fov);
  return screenshot(page);
}

const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
         '--ignore-gpu-blocklist', `--window-size=${WIDTH},${HEIGHT}`],
});
try {
  // Each wall straight ahead, and at corners the two walls on the sides they belong.
  {
    const page = await open(browser, urls.walls);
    check(await page.evaluate(() => korvoView.layout) === 'grid', 'walls: read as the grid');
    const views = [
      [0, 0, 'blue', 'front'], [90, 0, 'red', 'right'], [180, 0, 'yellow', 'back'],
      [-90, 0, 'green', 'left'], [0, 90, 'magenta', 'up'], [0, -90, 'cyan', 'down'],
    ];
    for (const [yaw, pitch, wall, name] of views) {
      const shot = await look(page, yaw, pitch);
      const seen = [[160, 120], [60, 60], [260, 60], [60, 180], [260, 180]].map(([x, y]) => nearestWall(shot.at(x, y)));
      check(seen.every((w) => w === wall), `walls: looking ${name} shows ${wall} (saw ${seen.join(' ')})`);
    }
    const corners = [
      [40, 0, ['blue', 'red'], [30, 120], [290, 120], 'front-right corner: front left, right wall right'],
      [-130, 0, ['yellow', 'green'], [30, 120], [290, 120], 'back-left corner: back left, left wall right'],
      [0, 40, ['magenta', 'blue'], [160, 20], [160, 220], 'front up: ceiling above, front below'],
      [180, -40, ['yellow', 'cyan'], [160, 20], [160, 220], 'back down: back above, floor below'],
    ];
    for (const [yaw, pitch, [a, b], pa, pb, name] of corners) {
      const shot = await look(page, yaw, pitch, 'left', 90);
      const seen = [nearestWall(shot.at(...pa)), nearestWall(shot.at(...pb))];
      check(seen[0] === a && seen[1] === b, `walls: ${name} (saw ${seen.join(', ')})`);
    }

    // The eyes: the right eye sees the room at half brightness.
    const left = await look(page, 0, 0, 'left');
    const right = await look(page, 0, 0, 'right');
    const sum = (p) => p[0] + p[1] + p[2];
    check(sum(left.at(160, 120)) > 1.6 * sum(right.at(160, 120)),
          `walls: left and right eyes differ (${left.at(160, 120)} against ${right.at(160, 120)})`);
    const anaglyph = await look(page, 0, 0, 'anaglyph');
    const [l, r, a] = [left.at(160, 120), right.at(160, 120), anaglyph.at(160, 120)];
    check(Math.abs(a[0] - l[0]) <= 4 && Math.abs(a[1] - r[1]) <= 4 && Math.abs(a[2] - r[2]) <= 4,
          `walls: anaglyph takes red from the left eye, green and blue from the right (${a}; left ${l}, right ${r})`);
    const sideBySide = await look(page, 0, 0, 'side-by-side');
    check(sum(sideBySide.at(80, 120)) > 1.6 * sum(sideBySide.at(240, 120)),
          `walls: side by side has the left eye on the left (${sideBySide.at(80, 120)} | ${sideBySide.at(240, 120)})`);

    // The picture for the README: a corner of the room, toolbar shown.
    await page.addStyleTag({ content: '#bar { display: flex !important; }' });
    await page.setViewport({ width: 640, height: 360, deviceScaleFactor: 1 });
    const readme = await look(page, 35, 20, 'left', 90);
    writeFileSync(screenshotPath, Buffer.from(readme.png, 'base64'));
    await page.close();
  }

  // Colour by direction: every point of a view shows the colour of its own direction, so a face
  // placed, turned or mirrored wrongly shows. The panorama is mono: both eyes alike.
  {
    const page = await open(browser, urls.gradient);
    check(await page.evaluate(() => korvoView.layout) === 'strip', 'gradient: read as the strip');
    const left = await look(page, 30, 10, 'left');
    const right = await look(page, 30, 10, 'right');
    let differing = 0;
    for (let y = 0; y < HEIGHT; y += 8)
      for (let x = 0; x < WIDTH; x += 8)
        if (left.at(x, y).some((v, k) => Math.abs(v - right.at(x, y)[k]) > 2)) differing++;
    check(differing === 0, `gradient: left and right eyes of a mono panorama alike (${differing} points differ)`);
    const gradient = ([x, y, z]) => {
      const n = Math.hypot(x, y, z);
      return [128 + 100 * x / n, 128 + 100 * y / n, 128 + 90 * z / n];
    };
    let worst = 0, where = '';
    for (const [yaw, pitch] of [[0, 0], [60, 20], [150, -30], [-100, 50], [-30, -70], [200, 80]]) {
      const shot = await look(page, yaw, pitch, 'left', 80);
      const tan = Math.tan((80 / 2) * Math.PI / 180);
      for (const [sx, sy] of [[160, 120], [40, 40], [280, 40], [40, 200], [280, 200], [160, 30]]) {
        // The direction through the pixel's centre, in the panorama's frame (+X right, +Y ahead, +Z up).
        const cx = ((sx + 0.5) / WIDTH * 2 - 1) * tan * WIDTH / HEIGHT;
        const cy = (1 - (sy + 0.5) / HEIGHT * 2) * tan;
        const p = pitch * Math.PI / 180, w = yaw * Math.PI / 180;
        const ahead = [Math.sin(w) * Math.cos(p), Math.cos(w) * Math.cos(p), Math.sin(p)];
        const right = [Math.cos(w), -Math.sin(w), 0];
        const up = [-Math.sin(w) * Math.sin(p), -Math.cos(w) * Math.sin(p), Math.cos(p)];
        const d = [0, 1, 2].map((k) => ahead[k] + cx * right[k] + cy * up[k]);
        const want = gradient(d);
        const got = shot.at(sx, sy);
        const error = Math.max(...got.map((v, k) => Math.abs(v - want[k])));
        if (error > worst) [worst, where] = [error, `yaw ${yaw} pitch ${pitch} at (${sx}, ${sy}): ${got} for ${want.map(Math.round)}`];
      }
    }
    check(worst <= 8, `gradient: every point shows its direction's colour (worst ${worst.toFixed(1)}, ${where})`);
    await page.close();
  }

  // Files of no known layout: a message naming the size found and the sizes known.
  for (const [name, expected] of [['small', ['1000 × 500', '18432 × 1536', '9216 × 3072']], ['text', ['cannot be read']]]) {
    const page = await open(browser, urls[name]);
    const status = await page.evaluate(() => document.body.dataset.status);
    const message = await page.evaluate(() => document.getElementById('message').textContent);
    const visible = await page.evaluate(() => getComputedStyle(document.getElementById('message')).display !== 'none');
    check(status === 'error' && visible && expected.every((e) => message.includes(e)),
          `${name}: the page says "${message}"`);
    await page.close();
  }
} finally {
  await browser.close();
}
process.exit(failures ? 1 : 0);
