// Viewer timings against a running `vorlin view`: the first picture after
// the page loads (headless Chromium), and the server's answer to camera moves
// with a first sample of 1M points over a scripted flight.
//
// usage: node bench/viewer_bench.mjs URL [POSITIONS]
import { execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '..');
const puppeteer = createRequire(join(root, 'tests/browser/package.json'))('puppeteer-core');
const base = process.argv[2];
const positions = Number(process.argv[3] || 60);

function quantile(values, q) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.ceil(q * sorted.length) - 1)];
}

async function firstPicture(runs) {
  const profile = mkdtempSync(join(tmpdir(), 'vorlin-bench-'));
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium', headless: true,
    args: ['--headless=new', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-sandbox',
      '--disable-gpu-sandbox', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', `--user-data-dir=${profile}`],
  });
  const times = [];
  try {
    for (let i = 0; i < runs; i++) {
      const page = await browser.newPage();
      await page.setViewport({ width: 1280, height: 800 });
      await page.goto(base, { waitUntil: 'load' });
      await page.waitForFunction(() => window.vorlinViewer.state.firstPictureMs > 0, { timeout: 60000, polling: 10 });
      const s = await page.evaluate(() => ({ ...window.vorlinViewer.state }));
      times.push(s.firstPictureMs);
      console.log(`first picture ${s.firstPictureMs.toFixed(0)} ms after navigation start (${s.drawn} points)`);
      await page.close();
    }
  } finally {
    await browser.close();
    rmSync(profile, { recursive: true, force: true });
  }
  return times;
}

async function flight(scene) {
  const c = scene.centre, size = Math.hypot(scene.max[0] - scene.min[0], scene.max[1] - scene.min[1]);
  const server = [], client = [], wire = [], counts = [];
  for (let i = 0; i < positions; i++) {
    // A descending spiral around the scene, looking at points that wander
    // over it: every stop sees a different part at a different range.
    const a = (i / positions) * 4 * Math.PI;
    const r = size * (0.9 - 0.6 * (i / positions));
    const eye = [c[0] + r * Math.cos(a), c[1] + r * Math.sin(a), c[2] + r * 0.5];
    const target = [c[0] + size * 0.2 * Math.cos(a * 1.7), c[1] + size * 0.2 * Math.sin(a * 1.3), c[2]];
    const body = `session=bench&seq=${i + 1}&eye=${eye.join(',')}&target=${target.join(',')}&up=0,0,1` +
      `&fov=60&aspect=1.6&near=${r * 0.01}&far=${r + size * 2}&budget=5000000&first=1000000`;
    const started = performance.now();
    const response = await fetch(base + 'api/view', { method: 'POST', body });
    const bytes = await response.arrayBuffer();
    client.push(performance.now() - started);
    if (response.status !== 200) throw new Error(`answer ${response.status}`);
    server.push(Number(/dur=([0-9.]+)/.exec(response.headers.get('server-timing'))[1]));
    counts.push(new DataView(bytes).getUint32(8, true));
    // The same camera again from curl (a new sequence number): its total
    // time is the request going in to the last byte coming out, without
    // JavaScript's handling of an 18 MB body.
    const again = body.replace(`seq=${i + 1}&`, `seq=${i + 1 + positions}&`).replace('session=bench', 'session=curl');
    const out = execFileSync('curl', ['-s', '-o', '/dev/null', '-w', '%{http_code} %{time_total}', '--data-binary', again,
      base + 'api/view']).toString().trim().split(' ');
    if (out[0] !== '200') throw new Error(`curl answer ${out[0]}`);
    wire.push(Number(out[1]) * 1000);
  }
  return { server, client, wire, counts };
}

const scene = await (await fetch(base + 'api/scene')).json();
console.log(`scene: ${scene.points.toLocaleString()} points in ${scene.files.length} file(s)`);
const { server, client, wire, counts } = await flight(scene);
const full = counts.filter((n) => n >= 999000).length;
console.log(`flight of ${positions} camera positions, first sample 1M points (${full} answers carried >= 999,000 points; ` +
  `median ${quantile(counts, 0.5)})`);
console.log(`server (request parsed to answer built): median ${quantile(server, 0.5).toFixed(1)} ms, p95 ${quantile(server, 0.95).toFixed(1)} ms`);
console.log(`curl (request sent to last byte received): median ${quantile(wire, 0.5).toFixed(1)} ms, p95 ${quantile(wire, 0.95).toFixed(1)} ms`);
console.log(`node fetch (request sent to body decoded): median ${quantile(client, 0.5).toFixed(1)} ms, p95 ${quantile(client, 0.95).toFixed(1)} ms`);
const pictures = await firstPicture(5);
console.log(`first picture: median ${quantile(pictures, 0.5).toFixed(0)} ms, worst ${Math.max(...pictures).toFixed(0)} ms`);
