// Drives `vorlin view` in headless Chromium: the page must draw a streamed
// scene without console errors, redraw after a camera move from a new
// request, and the server must refuse bad requests.
//
// usage: node view_test.mjs VORLIN_PROGRAM ARTEFACT_DIR
// Exit 77 (skipped) only when no Chromium is installed.

import { spawn, execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const [program, artefacts] = process.argv.slice(2);
const chromium = ['/usr/bin/chromium', '/usr/bin/chromium-browser'].find((p) => existsSync(p));
if (!chromium) {
  console.log('SKIP: no Chromium at /usr/bin/chromium (scripts/setup.sh installs the chromium package)');
  process.exit(77);
}
let puppeteer;
try {
  puppeteer = (await import('puppeteer-core')).default;
} catch (error) {
  console.error('puppeteer-core is missing: run scripts/setup.sh (npm ci in tests/browser)');
  process.exit(1);
}

const failures = [];
function check(condition, message) {
  console.log(`${condition ? 'ok  ' : 'FAIL'} ${message}`);
  if (!condition) failures.push(message);
}

const work = mkdtempSync(join(tmpdir(), 'vorlin-view-test-'));
mkdirSync(artefacts, { recursive: true });
let server = null;
let browser = null;

// Two overlapping tiles, so the budget is split over two engines.
function makeScene() {
  const files = [];
  for (const [name, points, seed] of [['west', 150000, 1], ['east', 100000, 2]]) {
    const las = join(work, `${name}.las`), qzv = join(work, `${name}.qzv`);
    execFileSync(program, ['generate', las, '--points', String(points), '--seed', String(seed)], { stdio: 'ignore' });
    execFileSync(program, ['import', '--quiet', qzv, las], { stdio: 'ignore' });
    files.push(qzv);
  }
  return files;
}

function startServer(files) {
  return new Promise((resolve, reject) => {
    server = spawn(program, ['view', ...files, '--port', '0', '--budget', '400000'], { stdio: ['ignore', 'pipe', 'inherit'] });
    let out = '';
    const timer = setTimeout(() => reject(new Error('vorlin view printed no address')), 30000);
    server.stdout.on('data', (data) => {
      out += data;
      const match = out.match(/http:\/\/[0-9.]+:\d+\//);
      if (match) {
        clearTimeout(timer);
        resolve(match[0]);
      }
    });
    server.on('exit', (code) => reject(new Error(`vorlin view exited with ${code}`)));
  });
}

async function status(url, init) {
  const response = await fetch(url, init);
  return { code: response.status, text: await response.text() };
}

// Which requests are malformed is the request parser's test; here, that the
// server answers them, and what only the server and the service decide.
async function checkRefusals(base) {
  const post = (path, body) => status(base + path, { method: 'POST', body });
  let r = await post('api/view', 'nonsense');
  check(r.code === 400 && r.text.length > 0, `malformed camera answered 400 with a reason (${r.code} ${r.text.trim()})`);
  // Well formed, but no camera: the service must refuse it before querying.
  r = await post('api/view', 'session=t&seq=1&eye=0,0,0&target=0,0,0&up=0,0,1&fov=60&aspect=1&near=1&far=10&budget=100000&first=1000');
  check(r.code === 400, `eye equal to target answered 400 (${r.text.trim()})`);
  r = await post('api/view', 'x'.repeat(100000));
  check(r.code === 413 || r.code === 400, `oversized body refused (${r.code})`);
  r = await status(base + '..%2f..%2fetc%2fpasswd');
  check(r.code === 404, `path outside the page's table answered 404 (${r.code})`);
  r = await status(base + 'api/scene');
  check(r.code === 200 && JSON.parse(r.text).files.length === 2, 'scene lists the two files and nothing else');
}

// A small grey-level thumbnail of what the canvas shows.
function thumbnail(page) {
  return page.evaluate(() => {
    const source = document.getElementById('view');
    const c = document.createElement('canvas');
    c.width = 96;
    c.height = 64;
    const ctx = c.getContext('2d');
    ctx.drawImage(source, 0, 0, c.width, c.height);
    const data = ctx.getImageData(0, 0, c.width, c.height).data;
    const grey = [];
    for (let i = 0; i < data.length; i += 4) grey.push((data[i] + data[i + 1] + data[i + 2]) / 3);
    return grey;
  });
}

function spread(pixels) {
  const mean = pixels.reduce((a, b) => a + b, 0) / pixels.length;
  return Math.sqrt(pixels.reduce((a, b) => a + (b - mean) ** 2, 0) / pixels.length);
}

async function settled(page, previousAnswers) {
  const deadline = setTimeout(async () => {
    console.log('still waiting; page state:', JSON.stringify(await page.evaluate(() => window.vorlinViewer.state).catch((e) => String(e))));
  }, 20000);
  await page.waitForFunction(
    (n) => { const s = window.vorlinViewer.state; return s.answers > n && s.complete && s.drawn > 0; },
    { timeout: 60000, polling: 100 }, previousAnswers).finally(() => clearTimeout(deadline));
  // Two frames, so the last upload is on the canvas.
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
  return page.evaluate(() => ({ ...window.vorlinViewer.state }));
}

try {
  const base = await startServer(makeScene());
  console.log(`server at ${base}`);
  await checkRefusals(base);

  const profile = join(work, 'profile');
  browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    args: ['--headless=new', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-sandbox',
      '--disable-gpu-sandbox', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`],
  });
  const page = await browser.newPage();
  await page.setViewport({ width: 1024, height: 700 });
  const consoleErrors = [];
  page.on('console', (m) => { if (m.type() === 'error') consoleErrors.push(m.text()); });
  page.on('pageerror', (e) => consoleErrors.push(String(e)));
  const viewRequests = [];
  page.on('request', (r) => { if (r.url().endsWith('/api/view')) viewRequests.push(r.postData()); });

  await page.goto(base, { waitUntil: 'load' });
  const first = await settled(page, 0);
  check(first.drawn > 10000, `page reports ${first.drawn} points drawn of ${first.visiblePoints} visible in ${first.visibleCells} cells`);
  check(first.error === '', `page shows no error (${first.error})`);
  await page.screenshot({ path: join(artefacts, 'viewer.png') });
  const before = await thumbnail(page);
  check(spread(before) > 5, `picture is not blank (grey-level spread ${spread(before).toFixed(1)})`);
  const statusText = await page.$eval('#status', (e) => e.textContent);
  check(/points shown/.test(statusText) && /visible cells/.test(statusText) && /last fetch/.test(statusText),
    `status line: ${statusText}`);

  let picked = null;
  for (let y = 250; y <= 550 && !picked; y += 25) {
    for (let x = 300; x <= 800 && !picked; x += 25) picked = await page.evaluate((px, py) => window.vorlinViewer.pick(px, py), x, y);
  }
  check(picked && /\.qzv$/.test(picked.file) && Number.isFinite(picked.z), `picking a point shows its attributes (${JSON.stringify(picked)})`);

  // An orbit drag: the page must ask again and draw something else.
  const requestsBefore = viewRequests.length;
  await page.mouse.move(512, 350);
  await page.mouse.down();
  for (let i = 1; i <= 10; i++) await page.mouse.move(512 + i * 25, 350 - i * 8);
  await page.mouse.up();
  await page.mouse.move(900, 650);
  await page.mouse.click(900, 650, { button: 'right' });
  await page.mouse.move(900, 650);
  await page.mouse.down();
  await page.mouse.move(900, 600);
  await page.mouse.up();
  const moved = await settled(page, first.answers);
  check(viewRequests.length > requestsBefore, `the camera move sent ${viewRequests.length - requestsBefore} new camera request(s)`);
  check(moved.seq > first.seq, `a newer camera was answered (seq ${first.seq} -> ${moved.seq})`);
  const after = await thumbnail(page);
  const changed = after.filter((v, i) => Math.abs(v - before[i]) > 8).length / after.length;
  check(changed > 0.05, `the new answer changed the picture (${(changed * 100).toFixed(1)}% of pixels)`);
  await page.screenshot({ path: join(artefacts, 'viewer-moved.png') });
  check(consoleErrors.length === 0, `no console errors${consoleErrors.length ? ': ' + consoleErrors.join(' | ') : ''}`);
} catch (error) {
  check(false, `the run stopped: ${error.stack || error}`);
} finally {
  if (browser) await browser.close().catch(() => {});
  if (server && server.exitCode === null) {
    server.removeAllListeners('exit');
    server.kill('SIGINT');
    const code = await new Promise((r) => server.on('exit', (c) => r(c)));
    check(code === 0, `vorlin view stopped cleanly on Ctrl-C (exit ${code})`);
  }
  rmSync(work, { recursive: true, force: true });
}
console.log(`screenshots kept in ${artefacts}`);
console.log(`${failures.length === 0 ? 'all checks passed' : failures.length + ' check(s) failed'}`);
process.exit(failures.length === 0 ? 0 : 1);
