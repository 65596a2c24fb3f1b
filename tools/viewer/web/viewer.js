// The Vorlin point viewer: WebGL2 points streamed from `vorlin view`.
// Positions arrive as float32 offsets from the scene centre; the camera is
// sent back in file coordinates and the server builds the frustum.

const $ = (id) => document.getElementById(id);
const canvas = $('view');
const statusLine = $('status');
const gl = canvas.getContext('webgl2', { antialias: false, preserveDrawingBuffer: true });

const FIRST_SAMPLE = 1000000;
const REFINE_BATCH = 500000;
const MIN_BUDGET = 100000;
const MAX_BUDGET = 20000000;

const state = {
  session: Math.random().toString(36).slice(2, 12) + Date.now().toString(36),
  seq: 0,
  budget: 2000000,
  drawn: 0,
  capacity: 0,
  visibleCells: 0,
  visiblePoints: 0,
  target: 0,
  complete: false,
  requests: 0,
  answers: 0,
  lastFetchMs: 0,
  frames: 0,
  firstPictureMs: 0,  // since navigation start
  error: '',
};
// What the browser test and curious users can read.
window.vorlinViewer = { state, camera: null, pick: (x, y) => pickAt(x, y) };

let scene = null;
let chunks = [];  // what is drawn, kept for picking
let controller = null;
let viewProj = new Float32Array(16);

function fail(message) {
  state.error = message;
  statusLine.textContent = message;
  statusLine.classList.add('error');
  console.error(message);
}

// ---- matrices (column-major, as WebGL wants them) ----
function sub(a, b) { return [a[0] - b[0], a[1] - b[1], a[2] - b[2]]; }
function cross(a, b) { return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]; }
function dot(a, b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
function normalize(a) { const l = Math.hypot(a[0], a[1], a[2]) || 1; return [a[0] / l, a[1] / l, a[2] / l]; }

function lookAt(eye, target, up) {
  const f = normalize(sub(target, eye));
  const s = normalize(cross(f, up));
  const u = cross(s, f);
  return [s[0], u[0], -f[0], 0, s[1], u[1], -f[1], 0, s[2], u[2], -f[2], 0,
    -dot(s, eye), -dot(u, eye), dot(f, eye), 1];
}

function perspective(fovDeg, aspect, near, far) {
  const f = 1 / Math.tan((fovDeg * Math.PI) / 360);
  return [f / aspect, 0, 0, 0, 0, f, 0, 0, 0, 0, (far + near) / (near - far), -1,
    0, 0, (2 * far * near) / (near - far), 0];
}

function multiply(a, b) {
  const out = new Float32Array(16);
  for (let c = 0; c < 4; c++) {
    for (let r = 0; r < 4; r++) {
      let sum = 0;
      for (let k = 0; k < 4; k++) sum += a[k * 4 + r] * b[c * 4 + k];
      out[c * 4 + r] = sum;
    }
  }
  return out;
}

// ---- camera: orbit about a target, or fly with the eye fixed ----
const camera = { target: [0, 0, 0], yaw: -0.9, pitch: 0.5, distance: 100, fov: 60 };
window.vorlinViewer.camera = camera;
let sceneSize = 100;

function direction() {
  const cp = Math.cos(camera.pitch);
  return [cp * Math.cos(camera.yaw), cp * Math.sin(camera.yaw), Math.sin(camera.pitch)];
}
function eyeOf() {
  const d = direction();
  return [camera.target[0] + d[0] * camera.distance, camera.target[1] + d[1] * camera.distance,
    camera.target[2] + d[2] * camera.distance];
}
function planes() {
  const near = Math.max(camera.distance * 0.01, sceneSize * 1e-5);
  return { near, far: camera.distance + sceneSize * 2 };
}

function resetCamera() {
  camera.target = [0, 0, 0];
  camera.yaw = -0.9;
  camera.pitch = 0.55;
  camera.distance = sceneSize * 0.85;
  cameraChanged();
}

// ---- GL program and buffers ----
const vertexSource = `#version 300 es
layout(location = 0) in vec3 position;
layout(location = 1) in vec4 colour;
layout(location = 2) in float custom;
uniform mat4 viewProj;
uniform float pointSize;
uniform int mode;
uniform vec2 zRange;
out vec3 vColour;
vec3 ramp(float t) {
  t = clamp(t, 0.0, 1.0);
  return clamp(vec3(1.5 - abs(4.0 * t - 3.0), 1.5 - abs(4.0 * t - 2.0), 1.5 - abs(4.0 * t - 1.0)), 0.0, 1.0);
}
vec3 classColour(float c) {
  if (c == 2.0) return vec3(0.65, 0.5, 0.3);
  if (c == 3.0) return vec3(0.5, 0.8, 0.4);
  if (c == 4.0) return vec3(0.3, 0.7, 0.3);
  if (c == 5.0) return vec3(0.1, 0.5, 0.15);
  if (c == 6.0) return vec3(0.85, 0.35, 0.3);
  if (c == 9.0) return vec3(0.25, 0.45, 0.9);
  return fract(sin(vec3(c * 12.9898, c * 78.233, c * 37.719)) * 43758.5453) * 0.7 + 0.3;
}
void main() {
  gl_Position = viewProj * vec4(position, 1.0);
  gl_PointSize = pointSize;
  if (mode == 0) vColour = colour.zyx;
  else if (mode == 1) vColour = vec3(colour.w);
  else if (mode == 2) vColour = ramp((position.z - zRange.x) / max(zRange.y - zRange.x, 1e-6));
  else vColour = classColour(custom);
}`;
const fragmentSource = `#version 300 es
precision mediump float;
in vec3 vColour;
out vec4 outColour;
void main() { outColour = vec4(vColour, 1.0); }`;

let program = null;
let uniforms = {};
let vao = null;
const buffers = {};

function compile(type, source) {
  const shader = gl.createShader(type);
  gl.shaderSource(shader, source);
  gl.compileShader(shader);
  if (!gl.getShaderParameter(shader, gl.COMPILE_STATUS)) throw new Error(gl.getShaderInfoLog(shader));
  return shader;
}

function setupGl() {
  program = gl.createProgram();
  gl.attachShader(program, compile(gl.VERTEX_SHADER, vertexSource));
  gl.attachShader(program, compile(gl.FRAGMENT_SHADER, fragmentSource));
  gl.linkProgram(program);
  if (!gl.getProgramParameter(program, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(program));
  for (const name of ['viewProj', 'pointSize', 'mode', 'zRange']) uniforms[name] = gl.getUniformLocation(program, name);
  vao = gl.createVertexArray();
  gl.bindVertexArray(vao);
  buffers.position = gl.createBuffer();
  gl.bindBuffer(gl.ARRAY_BUFFER, buffers.position);
  gl.enableVertexAttribArray(0);
  gl.vertexAttribPointer(0, 3, gl.FLOAT, false, 0, 0);
  buffers.colour = gl.createBuffer();
  gl.bindBuffer(gl.ARRAY_BUFFER, buffers.colour);
  gl.enableVertexAttribArray(1);
  gl.vertexAttribPointer(1, 4, gl.UNSIGNED_BYTE, true, 0, 0);
  buffers.custom = gl.createBuffer();
  gl.bindBuffer(gl.ARRAY_BUFFER, buffers.custom);
  gl.enableVertexAttribArray(2);
  gl.vertexAttribPointer(2, 1, gl.UNSIGNED_BYTE, false, 0, 0);
  gl.bindVertexArray(null);
  gl.enable(gl.DEPTH_TEST);
  gl.clearColor(0.063, 0.078, 0.094, 1);
}

function reserve(capacity) {
  state.capacity = capacity;
  for (const [name, size] of [['position', 12], ['colour', 4], ['custom', 1]]) {
    gl.bindBuffer(gl.ARRAY_BUFFER, buffers[name]);
    gl.bufferData(gl.ARRAY_BUFFER, Math.max(1, capacity) * size, gl.DYNAMIC_DRAW);
  }
}

function upload(chunk) {
  const n = Math.min(chunk.count, state.capacity - state.drawn);
  if (n <= 0) return;
  const at = state.drawn;
  gl.bindBuffer(gl.ARRAY_BUFFER, buffers.position);
  gl.bufferSubData(gl.ARRAY_BUFFER, at * 12, chunk.positions, 0, n * 3);
  gl.bindBuffer(gl.ARRAY_BUFFER, buffers.colour);
  gl.bufferSubData(gl.ARRAY_BUFFER, at * 4, chunk.colours, 0, n * 4);
  gl.bindBuffer(gl.ARRAY_BUFFER, buffers.custom);
  gl.bufferSubData(gl.ARRAY_BUFFER, at, chunk.custom, 0, n);
  state.drawn += n;
  chunks.push(chunk);
}

let drawQueued = false;
function draw() {
  if (drawQueued || !scene) return;
  drawQueued = true;
  requestAnimationFrame(() => {
    drawQueued = false;
    resize();
    const eye = eyeOf();
    const { near, far } = planes();
    const aspect = canvas.width / Math.max(1, canvas.height);
    viewProj = multiply(perspective(camera.fov, aspect, near, far), lookAt(eye, camera.target, [0, 0, 1]));
    gl.viewport(0, 0, canvas.width, canvas.height);
    gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
    gl.useProgram(program);
    gl.uniformMatrix4fv(uniforms.viewProj, false, viewProj);
    gl.uniform1f(uniforms.pointSize, Number($('size').value) * (window.devicePixelRatio || 1));
    gl.uniform1i(uniforms.mode, Number($('colour').value));
    gl.uniform2f(uniforms.zRange, scene.min[2] - scene.centre[2], scene.max[2] - scene.centre[2]);
    gl.bindVertexArray(vao);
    if (state.drawn > 0) gl.drawArrays(gl.POINTS, 0, state.drawn);
    gl.bindVertexArray(null);
    state.frames++;
    if (state.drawn > 0 && !state.firstPictureMs) state.firstPictureMs = performance.now();
    showStatus();
  });
}

function resize() {
  const ratio = window.devicePixelRatio || 1;
  const w = Math.round(canvas.clientWidth * ratio), h = Math.round(canvas.clientHeight * ratio);
  if (canvas.width !== w || canvas.height !== h) {
    canvas.width = w;
    canvas.height = h;
  }
}

function showStatus() {
  if (state.error) return;
  statusLine.textContent = `${state.drawn.toLocaleString()} points shown of ${state.visiblePoints.toLocaleString()} visible` +
    ` · ${state.visibleCells.toLocaleString()} visible cells · last fetch ${state.lastFetchMs.toFixed(0)} ms` +
    ` · budget ${state.budget.toLocaleString()}${state.complete ? '' : ' · refining…'}`;
}

// ---- streaming ----
function parseAnswer(buffer) {
  const view = new DataView(buffer);
  if (buffer.byteLength < 48 || view.getUint32(0, true) !== 0x31505a56) throw new Error('not a point answer');
  const count = view.getUint32(8, true);
  if (buffer.byteLength < 48 + count * 18) throw new Error('point answer cut short');
  const u64 = (at) => view.getUint32(at, true) + view.getUint32(at + 4, true) * 4294967296;
  return {
    seq: view.getUint32(4, true), count, complete: (view.getUint32(12, true) & 1) !== 0,
    visiblePoints: u64(16), target: u64(24), delivered: u64(32), visibleCells: view.getUint32(40, true),
    positions: new Float32Array(buffer, 48, count * 3),
    colours: new Uint8Array(buffer, 48 + count * 12, count * 4),
    custom: new Uint8Array(buffer, 48 + count * 16, count),
    tiles: new Uint8Array(buffer, 48 + count * 17, count),
  };
}

function cameraBody(seq) {
  const c = scene.centre;
  const eye = eyeOf();
  const { near, far } = planes();
  const abs = (p) => `${p[0] + c[0]},${p[1] + c[1]},${p[2] + c[2]}`;
  return `session=${state.session}&seq=${seq}&eye=${abs(eye)}&target=${abs(camera.target)}&up=0,0,1` +
    `&fov=${camera.fov}&aspect=${canvas.clientWidth / Math.max(1, canvas.clientHeight)}` +
    `&near=${near}&far=${far}&budget=${state.budget}&first=${Math.min(FIRST_SAMPLE, state.budget)}`;
}

async function post(path, body, signal) {
  state.requests++;
  const started = performance.now();
  const response = await fetch(path, { method: 'POST', body, signal, headers: { 'Content-Type': 'text/plain' } });
  if (response.status === 409) return null;  // a newer camera took over
  if (!response.ok) throw new Error(`${path}: ${response.status} ${(await response.text()).trim()}`);
  const answer = parseAnswer(await response.arrayBuffer());
  state.lastFetchMs = performance.now() - started;
  state.answers++;
  return answer;
}

function take(answer, fresh) {
  if (fresh) {
    chunks = [];
    state.drawn = 0;
    reserve(Math.max(answer.target, answer.count));
  }
  state.visibleCells = answer.visibleCells;
  state.visiblePoints = answer.visiblePoints;
  state.target = answer.target;
  state.complete = answer.complete;
  upload(answer);
  draw();
}

async function requestView() {
  if (controller) controller.abort();
  controller = new AbortController();
  const signal = controller.signal;
  const seq = ++state.seq;
  try {
    const first = await post('/api/view', cameraBody(seq), signal);
    if (!first || seq !== state.seq) return;
    take(first, true);
    while (!state.complete && seq === state.seq && state.drawn < state.capacity) {
      const count = Math.min(REFINE_BATCH, Math.max(1, state.target - state.drawn));
      const more = await post('/api/refine', `session=${state.session}&seq=${seq}&count=${count}`, signal);
      if (!more || seq !== state.seq) return;
      take(more, false);
      if (more.count === 0 && !more.complete) break;
    }
  } catch (error) {
    if (error.name !== 'AbortError') fail(`Fetching points failed: ${error.message}`);
  }
}

let viewTimer = 0;
function cameraChanged() {
  if (!scene) return;
  draw();
  clearTimeout(viewTimer);
  viewTimer = setTimeout(requestView, 60);
}

// ---- picking: the nearest drawn point within a few pixels of the click ----
function pickAt(clientX, clientY) {
  const rect = canvas.getBoundingClientRect();
  const px = ((clientX - rect.left) / rect.width) * 2 - 1;
  const py = 1 - ((clientY - rect.top) / rect.height) * 2;
  const tolX = (6 / rect.width) * 2, tolY = (6 / rect.height) * 2;
  const m = viewProj;
  let best = null, bestDepth = Infinity;
  for (const chunk of chunks) {
    const p = chunk.positions;
    for (let i = 0; i < chunk.count; i++) {
      const x = p[i * 3], y = p[i * 3 + 1], z = p[i * 3 + 2];
      const w = m[3] * x + m[7] * y + m[11] * z + m[15];
      if (w <= 0) continue;
      const sx = (m[0] * x + m[4] * y + m[8] * z + m[12]) / w;
      if (Math.abs(sx - px) > tolX) continue;
      const sy = (m[1] * x + m[5] * y + m[9] * z + m[13]) / w;
      if (Math.abs(sy - py) > tolY || w >= bestDepth) continue;
      bestDepth = w;
      best = { chunk, i };
    }
  }
  if (!best) {
    $('pick').textContent = 'No point there.';
    return null;
  }
  const { chunk, i } = best;
  const c = scene.centre, p = chunk.positions;
  const info = {
    x: c[0] + p[i * 3], y: c[1] + p[i * 3 + 1], z: c[2] + p[i * 3 + 2],
    red: chunk.colours[i * 4 + 2], green: chunk.colours[i * 4 + 1], blue: chunk.colours[i * 4],
    intensity: chunk.colours[i * 4 + 3], custom: chunk.custom[i], file: scene.files[chunk.tiles[i]].name,
  };
  $('pick').textContent = `x ${info.x.toFixed(3)}\ny ${info.y.toFixed(3)}\nz ${info.z.toFixed(3)}\n` +
    `RGB ${info.red} ${info.green} ${info.blue}\nintensity ${info.intensity}\ncustom ${info.custom}\n${info.file}`;
  return info;
}

// ---- input ----
let drag = null;
const keys = new Set();

canvas.addEventListener('contextmenu', (e) => e.preventDefault());
canvas.addEventListener('pointerdown', (e) => {
  drag = { x: e.clientX, y: e.clientY, startX: e.clientX, startY: e.clientY, pan: e.button === 2 || e.shiftKey };
  canvas.setPointerCapture(e.pointerId);
});
canvas.addEventListener('pointermove', (e) => {
  if (!drag) return;
  const dx = e.clientX - drag.x, dy = e.clientY - drag.y;
  drag.x = e.clientX;
  drag.y = e.clientY;
  if (drag.pan) {
    const d = direction();
    const right = normalize(cross([0, 0, 1], d));
    const up = cross(d, right);
    const scale = (camera.distance * 2 * Math.tan((camera.fov * Math.PI) / 360)) / canvas.clientHeight;
    for (let a = 0; a < 3; a++) camera.target[a] += (right[a] * dx + up[a] * dy) * scale;
  } else if ($('fly').checked) {
    const eye = eyeOf();
    camera.yaw += dx * 0.005;
    camera.pitch = Math.max(-1.5, Math.min(1.5, camera.pitch - dy * 0.005));
    const d = direction();
    camera.target = [eye[0] - d[0] * camera.distance, eye[1] - d[1] * camera.distance, eye[2] - d[2] * camera.distance];
  } else {
    camera.yaw -= dx * 0.006;
    camera.pitch = Math.max(-1.5, Math.min(1.5, camera.pitch + dy * 0.006));
  }
  cameraChanged();
});
canvas.addEventListener('pointerup', (e) => {
  if (drag && !drag.pan && e.button === 0 && Math.hypot(e.clientX - drag.startX, e.clientY - drag.startY) < 3) {
    pickAt(e.clientX, e.clientY);
  }
  drag = null;
});
canvas.addEventListener('wheel', (e) => {
  e.preventDefault();
  const factor = Math.exp(Math.sign(e.deltaY) * 0.12);
  if ($('fly').checked) {
    const d = direction();
    const step = camera.distance * (factor - 1);
    for (let a = 0; a < 3; a++) camera.target[a] += d[a] * step;
  } else {
    camera.distance = Math.max(sceneSize * 1e-4, Math.min(sceneSize * 20, camera.distance * factor));
  }
  cameraChanged();
}, { passive: false });

window.addEventListener('keydown', (e) => {
  if (!$('fly').checked || e.target.tagName === 'INPUT' || e.target.tagName === 'SELECT') return;
  const key = e.key.toLowerCase();
  if ('wasdqe'.includes(key) && key.length === 1) {
    keys.add(key);
    if (keys.size === 1) requestAnimationFrame(flyStep);
  }
});
window.addEventListener('keyup', (e) => keys.delete(e.key.toLowerCase()));

let lastFly = 0;
function flyStep(time) {
  if (keys.size === 0) {
    lastFly = 0;
    return;
  }
  const dt = lastFly ? Math.min(0.1, (time - lastFly) / 1000) : 0.016;
  lastFly = time;
  const d = direction();
  const forward = [-d[0], -d[1], -d[2]];
  const right = normalize(cross(forward, [0, 0, 1]));
  const speed = sceneSize * 0.25 * dt;
  const move = [0, 0, 0];
  const add = (v, s) => { for (let a = 0; a < 3; a++) move[a] += v[a] * s; };
  if (keys.has('w')) add(forward, speed);
  if (keys.has('s')) add(forward, -speed);
  if (keys.has('d')) add(right, speed);
  if (keys.has('a')) add(right, -speed);
  if (keys.has('e')) add([0, 0, 1], speed);
  if (keys.has('q')) add([0, 0, 1], -speed);
  for (let a = 0; a < 3; a++) camera.target[a] += move[a];
  cameraChanged();
  requestAnimationFrame(flyStep);
}

function budgetFromSlider(v) {
  return Math.round(MIN_BUDGET * Math.pow(MAX_BUDGET / MIN_BUDGET, v / 1000) / 1000) * 1000;
}
function sliderFromBudget(b) {
  return Math.round((1000 * Math.log(b / MIN_BUDGET)) / Math.log(MAX_BUDGET / MIN_BUDGET));
}

$('budget').addEventListener('input', () => {
  state.budget = budgetFromSlider(Number($('budget').value));
  $('budget-text').textContent = state.budget.toLocaleString();
  cameraChanged();
});
$('size').addEventListener('input', draw);
$('colour').addEventListener('change', draw);
$('reset').addEventListener('click', resetCamera);
new ResizeObserver(cameraChanged).observe(canvas);

async function start() {
  if (!gl) {
    fail('This browser has no WebGL2.');
    return;
  }
  try {
    setupGl();
    const response = await fetch('/api/scene');
    if (!response.ok) throw new Error(`scene: ${response.status}`);
    scene = await response.json();
  } catch (error) {
    fail(`The viewer could not start: ${error.message}`);
    return;
  }
  window.vorlinViewer.scene = scene;
  state.budget = Math.min(MAX_BUDGET, Math.max(MIN_BUDGET, scene.budget));
  $('budget').value = sliderFromBudget(state.budget);
  $('budget-text').textContent = state.budget.toLocaleString();
  if (!scene.files.every((f) => f.rgb)) $('colour').value = '2';
  sceneSize = Math.max(1e-3, Math.hypot(scene.max[0] - scene.min[0], scene.max[1] - scene.min[1], scene.max[2] - scene.min[2]));
  document.title = `Vorlin viewer: ${scene.files.map((f) => f.name).join(', ')}`;
  resetCamera();
  clearTimeout(viewTimer);
  requestView();
}

start();
