// The studio page: the tool's panel as the server reports it, and a viewer of
// the pictures it renders. Every rule of the controls lives in the tool; the
// page sends each edit and redraws the panel from the answer.
'use strict';

const token = new URLSearchParams(location.search).get('token') || '';
const $ = (id) => document.getElementById(id);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function api(path, body) {
  const init = { headers: { 'X-Quorvex-Token': token } };
  if (body !== undefined) {
    init.method = 'POST';
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  const r = await fetch(path, init);
  const j = await r.json();
  if (!r.ok) throw new Error(j.error || ('HTTP ' + r.status));
  return j;
}

async function binary(path) {
  const r = await fetch(path, { headers: { 'X-Quorvex-Token': token } });
  if (r.status === 204) return null;
  if (!r.ok) throw new Error('HTTP ' + r.status);
  return { headers: r.headers, data: new Float32Array(await r.arrayBuffer()) };
}

function setStatus(text, error) {
  const s = $('status');
  s.textContent = text;
  s.style.color = error ? 'var(--error)' : '';
}

// ---------------------------------------------------------------- pictures

// Linear light to 8-bit sRGB, through a table over [0, 1].
const SRGB = (() => {
  const n = 4096, t = new Uint8ClampedArray(n + 1);
  for (let i = 0; i <= n; ++i) {
    const v = i / n;
    const s = v <= 0.0031308 ? 12.92 * v : 1.055 * Math.pow(v, 1 / 2.4) - 0.055;
    t[i] = Math.round(s * 255);
  }
  return t;
})();
const toSrgb = (v) => SRGB[v > 0 ? (v < 1 ? (v * 4096) | 0 : 4096) : 0];

// A picture: its float pixels for the readout and a canvas of it for display.
function makePicture(data, width, height, divisor) {
  const canvas = document.createElement('canvas');
  canvas.width = width;
  canvas.height = height;
  const ctx = canvas.getContext('2d');
  const img = ctx.createImageData(width, height);
  const px = img.data;
  for (let i = 0, n = width * height * 4; i < n; i += 4) {
    px[i] = toSrgb(data[i]);
    px[i + 1] = toSrgb(data[i + 1]);
    px[i + 2] = toSrgb(data[i + 2]);
    px[i + 3] = 255;
  }
  ctx.putImageData(img, 0, 0);
  return { data, width, height, divisor, canvas };
}

const view = {
  zoom: 1, panX: 0, panY: 0, fitted: false,
  wipe: false, wipeX: 0.5,  // the wipe line, as a fraction of the canvas width
  tool: 'pan',
  result: null, source: null, sourceFrame: null,
  have: { gen: 0, stage: 0 },
};

function fullSize() {
  return panel ? { w: panel.width, h: panel.height } : { w: 1, h: 1 };
}

function fit() {
  const c = $('view'), { w, h } = fullSize();
  view.zoom = Math.min(c.width / w, c.height / h) * 0.96;
  view.panX = (c.width - w * view.zoom) / 2;
  view.panY = (c.height - h * view.zoom) / 2;
  view.fitted = true;
  draw();
}

function oneToOne() {
  view.zoom = 1;
  view.panX = 0;
  view.panY = 0;
  view.fitted = false;
  draw();
}

function draw() {
  const c = $('view');
  const ctx = c.getContext('2d');
  ctx.fillStyle = '#111';
  ctx.fillRect(0, 0, c.width, c.height);
  const { w, h } = fullSize();
  const put = (pic) => {
    if (!pic) return;
    // Smooth at fitting sizes and for proxies; single pixels show as squares when zoomed in to look at them.
    ctx.imageSmoothingEnabled = view.zoom < 2 || pic.divisor > 1;
    ctx.drawImage(pic.canvas, view.panX, view.panY, w * view.zoom, h * view.zoom);
  };
  if (view.wipe && view.source) {
    const x = Math.round(view.wipeX * c.width);
    ctx.save();
    ctx.beginPath();
    ctx.rect(0, 0, x, c.height);
    ctx.clip();
    put(view.source);
    ctx.restore();
    ctx.save();
    ctx.beginPath();
    ctx.rect(x, 0, c.width - x, c.height);
    ctx.clip();
    put(view.result);
    ctx.restore();
    ctx.fillStyle = '#e0a040';
    ctx.fillRect(x - 1, 0, 2, c.height);
  } else {
    put(view.result);
  }
}

function resizeCanvas() {
  const c = $('view'), r = c.getBoundingClientRect();
  c.width = Math.max(1, Math.round(r.width));
  c.height = Math.max(1, Math.round(r.height));
  if (view.fitted || !view.result) fit(); else draw();
}

// The full-size pixel under a canvas position.
function imageAt(cx, cy) {
  return { x: Math.floor((cx - view.panX) / view.zoom), y: Math.floor((cy - view.panY) / view.zoom) };
}

function readout(cx, cy) {
  const { x, y } = imageAt(cx, cy);
  const { w, h } = fullSize();
  if (x < 0 || y < 0 || x >= w || y >= h) {
    $('readout').innerHTML = '&nbsp;';
    return;
  }
  const onSource = view.wipe && view.source && cx < view.wipeX * $('view').width;
  const pic = onSource ? view.source : view.result;
  if (!pic) return;
  const px = Math.min(pic.width - 1, Math.floor(x / pic.divisor)), py = Math.min(pic.height - 1, Math.floor(y / pic.divisor));
  const i = 4 * (py * pic.width + px), d = pic.data;
  const f = (v) => v.toFixed(4).padStart(8);
  const what = onSource ? 'source' : (panel.view === 'focus' ? 'focus view' : 'result') +
      (pic.divisor > 1 ? ' (proxy 1/' + pic.divisor + ')' : '');
  $('readout').textContent = `x ${x} y ${y}   R${f(d[i])} G${f(d[i + 1])} B${f(d[i + 2])} A${f(d[i + 3])}   ${what}`;
}

async function pictureLoop() {
  for (;;) {
    try {
      const r = await binary(`/api/picture?gen=${view.have.gen}&stage=${view.have.stage}`);
      if (!r) continue;
      const hd = (k) => r.headers.get(k);
      view.have = { gen: +hd('X-Generation'), stage: +hd('X-Stage') };
      if (hd('X-Failed') === '1') {
        setStatus('the tool reported an error for this frame: see the console', true);
      } else {
        view.result = makePicture(r.data, +hd('X-Width'), +hd('X-Height'), +hd('X-Divisor'));
        const ramp = hd('X-Ramp').split(' ').map(Number);
        const legend = $('legend');
        legend.hidden = hd('X-View') !== 'focus';
        legend.innerHTML = `${ramp[0].toFixed(2)} px<span class="ramp"></span>${ramp[1].toFixed(2)} px`;
        setStatus(view.have.stage === 1 ? 'proxy' : '');
        draw();
      }
      document.body.dataset.shown = view.have.gen + ':' + view.have.stage;
    } catch (e) {
      setStatus('lost the server: ' + e.message, true);
      await sleep(1000);
    }
  }
}

// The source of the panel's frame, for the wipe; one request at a time.
async function loadSource() {
  if (view.sourceLoading) return;
  view.sourceLoading = true;
  try {
    const r = await binary('/api/source');
    view.source = makePicture(r.data, +r.headers.get('X-Width'), +r.headers.get('X-Height'), 1);
    view.sourceFrame = +r.headers.get('X-Frame');
    draw();
  } finally {
    view.sourceLoading = false;
  }
  if (view.sourceFrame !== panel.frame) loadSource();
}

// ---------------------------------------------------------------- panel

let panel = null;
let page = null;
const rows = new Map();  // control id -> {row, update(c)}
let busy = false;
const queued = new Map();  // the latest request per key, sent when the one in flight returns

// Sends a change; while one is in flight, later ones of the same kind replace each other.
function send(key, path, body) {
  queued.delete(key);
  queued.set(key, { path, body });
  pump();
}

async function pump() {
  document.body.dataset.busy = busy || queued.size ? '1' : '0';
  if (busy || queued.size === 0) return;
  const [key, req] = queued.entries().next().value;
  queued.delete(key);
  busy = true;
  try {
    const p = await api(req.path, req.body);
    showPanel(p);
    if (p.focus !== undefined) setStatus('focus: ' + p.focus);
  } catch (e) {
    setStatus(e.message, true);
    showPanel(await api('/api/panel'));
  } finally {
    busy = false;
    pump();
  }
}

const edit = (id, value) => send('edit:' + id, '/api/edit', { id, value });

function formatNumber(v) {
  return Number.isInteger(v) ? String(v) : String(+v.toPrecision(7));
}

function keyButton(c) {
  const b = document.createElement('button');
  b.className = 'key';
  b.textContent = '\u25c6';
  b.title = 'Key at this frame';
  b.addEventListener('click', () => send('key:' + c.id, '/api/key', { id: c.id }));
  return b;
}

function sliderWidget(c, widget) {
  const range = document.createElement('input');
  range.type = 'range';
  range.min = c.slider_min;
  range.max = c.slider_max;
  range.step = (c.slider_max - c.slider_min) / 1000;
  const num = document.createElement('input');
  num.type = 'number';
  num.step = 'any';
  range.addEventListener('input', () => {
    num.value = formatNumber(+range.value);
    edit(c.id, +range.value);
  });
  num.addEventListener('change', () => {
    if (num.value !== '' && isFinite(+num.value)) edit(c.id, +num.value);
  });
  widget.append(range, num);
  return (c2) => {
    if (document.activeElement !== range) range.value = c2.value;
    if (document.activeElement !== num || num.dataset.sync !== formatNumber(c2.value)) num.value = formatNumber(c2.value);
    num.dataset.sync = formatNumber(c2.value);
  };
}

function numberWidget(c, widget) {
  const num = document.createElement('input');
  num.type = 'number';
  num.step = 'any';
  num.addEventListener('change', () => {
    if (num.value !== '' && isFinite(+num.value)) edit(c.id, +num.value);
  });
  widget.append(num);
  if (c.id === 'FocusPosition' && panel.focus_tool) {
    const pick = document.createElement('button');
    pick.textContent = 'Pick';
    pick.title = 'Click on the picture to focus there';
    pick.addEventListener('click', () => setTool('focus'));
    widget.append(pick);
  }
  return (c2) => { num.value = formatNumber(c2.value); };
}

function checkboxWidget(c, widget) {
  if (c.lock) {  // the X/Y scale lock
    const b = document.createElement('button');
    b.className = 'lock';
    b.addEventListener('click', () => edit(c.id, b.classList.contains('on') ? 0 : 1));
    widget.append(b);
    return (c2) => {
      const on = c2.value > 0.5;
      b.classList.toggle('on', on);
      b.textContent = on ? 'Locked' : 'Unlocked';
      b.title = on ? 'X and Y scaled together' : 'X and Y scaled apart';
    };
  }
  const box = document.createElement('input');
  box.type = 'checkbox';
  box.addEventListener('change', () => edit(c.id, box.checked ? 1 : 0));
  widget.append(box);
  return (c2) => { box.checked = c2.value > 0.5; };
}

function buttonsWidget(c, widget) {
  const row = document.createElement('div');
  row.className = 'buttons';
  const buttons = c.buttons.map((label, i) => {
    const b = document.createElement('button');
    b.textContent = label;
    b.addEventListener('click', () => edit(c.id, i));
    row.append(b);
    return b;
  });
  widget.append(row);
  return (c2) => {
    // The tool decodes a button value by the thresholds 0.5, 1.5, ...
    const chosen = Math.max(0, Math.min(buttons.length - 1, Math.floor(c2.value + 0.5)));
    buttons.forEach((b, i) => b.classList.toggle('on', i === chosen));
  };
}

function textWidget(c, widget) {
  const t = document.createElement('input');
  t.type = 'text';
  t.addEventListener('change', () => edit(c.id, t.value));
  widget.append(t);
  return (c2) => { if (document.activeElement !== t) t.value = c2.text; };
}

function buildControl(c) {
  const row = document.createElement('div');
  row.className = 'control';
  row.dataset.id = c.id;
  row.dataset.kind = c.control;
  row.dataset.page = c.page;
  const label = document.createElement('label');
  const widget = document.createElement('div');
  widget.className = 'widget';
  let update;
  if (c.control === 'SliderControl') update = sliderWidget(c, widget);
  else if (c.control === 'CheckboxControl') update = checkboxWidget(c, widget);
  else if (c.control === 'MultiButtonControl') update = buttonsWidget(c, widget);
  else if (c.control === 'TextEditControl') update = textWidget(c, widget);
  else update = numberWidget(c, widget);
  row.append(label, widget);
  const key = c.type === 'Number' ? keyButton(c) : document.createElement('span');
  row.append(key);
  $('controls').append(row);
  return (c2) => {
    label.textContent = c2.name;
    label.title = c2.id;
    row.hidden = !c2.visible || c2.page !== page;
    row.dataset.visible = c2.visible ? '1' : '0';
    update(c2);
    if (c2.type === 'Number') {
      key.classList.toggle('anim', c2.animated);
      key.classList.toggle('here', c2.key_here);
      key.title = c2.key_here ? 'Remove the key at this frame' : c2.animated ? 'Key this frame' : 'Animate: key at this frame';
    }
  };
}

function showTabs() {
  const tabs = $('tabs');
  tabs.innerHTML = '';
  for (const name of panel.pages) {
    const b = document.createElement('button');
    b.textContent = name;
    b.dataset.page = name;
    b.classList.toggle('on', name === page);
    b.addEventListener('click', () => {
      page = name;
      showTabs();
      showPanel(panel);
    });
    tabs.append(b);
  }
}

function showPanel(p) {
  const first = panel === null;
  panel = p;
  if (first) {
    page = p.pages[0];
    showTabs();
    for (const c of p.controls.filter((c) => c.type !== 'Image')) rows.set(c.id, buildControl(c));
    setupFrames(p);
    resizeCanvas();
  }
  for (const c of p.controls) if (rows.has(c.id)) rows.get(c.id)(c);
  showConnections(p);
  $('file').textContent = (p.controls.find((c) => c.id === 'Input') || {}).file + `  ${p.width} x ${p.height}`;
  document.body.dataset.generation = p.generation;
  $('view-result').classList.toggle('on', p.view === 'result');
  $('view-focus').classList.toggle('on', p.view === 'focus');
  $('view-focus').disabled = !p.focus_view;
  $('tool-focus').disabled = !p.focus_tool;
  if (p.frames.length > 1) {
    $('frame').value = p.frames.indexOf(p.frame);
    $('frame-number').textContent = p.frame;
  }
  if (view.sourceFrame !== p.frame) loadSource();
}

// The image inputs and the files connected to them at this frame.
function showConnections(p) {
  const conn = $('connections');
  conn.innerHTML = '';
  for (const c of p.controls.filter((c) => c.type === 'Image')) {
    const d = document.createElement('div');
    d.innerHTML = '<span></span><span></span>';
    d.children[0].textContent = c.name;
    d.children[1].textContent = c.file || 'not connected';
    conn.append(d);
  }
}

function setupFrames(p) {
  if (p.frames.length <= 1) return;
  $('frame-box').hidden = false;
  const slider = $('frame');
  slider.max = p.frames.length - 1;
  slider.addEventListener('input', () => {
    const f = p.frames[+slider.value];
    $('frame-number').textContent = f;
    send('frame', '/api/frame', { frame: f });
  });
  const name = $('render-name');
  if (name.value === 'render.exr') name.value = 'render.####.exr';
}

function setTool(tool) {
  view.tool = tool;
  $('tool-pan').classList.toggle('on', tool === 'pan');
  $('tool-focus').classList.toggle('on', tool === 'focus');
  $('view').classList.toggle('focus-tool', tool === 'focus');
}

// ---------------------------------------------------------------- console, outputs

let consoleSeq = 0;
async function consoleLoop() {
  for (;;) {
    try {
      const { lines } = await api('/api/console?after=' + consoleSeq);
      const box = $('console');
      const atEnd = box.scrollTop + box.clientHeight >= box.scrollHeight - 4;
      for (const l of lines) {
        const d = document.createElement('div');
        d.textContent = l.text;
        if (l.kind >= 60) d.className = 'error';
        box.append(d);
        consoleSeq = l.seq;
      }
      while (box.childElementCount > 300) box.firstChild.remove();
      if (atEnd && lines.length) box.scrollTop = box.scrollHeight;
    } catch (e) { /* the picture loop reports a lost server */ }
    await sleep(700);
  }
}

async function saveComp() {
  try {
    const r = await api('/api/save-comp', { name: $('comp-name').value });
    $('out-message').textContent = 'saved ' + r.saved;
  } catch (e) {
    $('out-message').textContent = e.message;
  }
}

async function renderFrames() {
  const bar = $('render-progress'), msg = $('out-message');
  try {
    let s = await api('/api/render', { name: $('render-name').value });
    $('render').disabled = true;
    bar.hidden = false;
    for (;;) {
      bar.max = Math.max(1, s.total);
      bar.value = s.done;
      msg.textContent = `rendering ${s.done}/${s.total} \u2192 ${s.output}`;
      if (!s.running) break;
      await sleep(400);
      s = await api('/api/render');
    }
    msg.textContent = s.exit === 0 ? `rendered ${s.total} frame(s) to ${s.output}` : (s.message || 'render failed: exit ' + s.exit);
    document.body.dataset.render = s.exit === 0 ? 'done' : 'failed';
  } catch (e) {
    msg.textContent = e.message;
  } finally {
    $('render').disabled = false;
  }
}

// ---------------------------------------------------------------- viewer input

function setupViewer() {
  const c = $('view');
  let drag = null;
  const pos = (e) => {
    const r = c.getBoundingClientRect();
    return { x: e.clientX - r.left, y: e.clientY - r.top };
  };
  c.addEventListener('wheel', (e) => {
    e.preventDefault();
    const p = pos(e), k = Math.exp(-e.deltaY * 0.0015);
    view.panX = p.x - (p.x - view.panX) * k;
    view.panY = p.y - (p.y - view.panY) * k;
    view.zoom *= k;
    view.fitted = false;
    draw();
  }, { passive: false });
  c.addEventListener('mousedown', (e) => {
    const p = pos(e);
    if (view.wipe && Math.abs(p.x - view.wipeX * c.width) < 8) drag = { wipe: true };
    else if (view.tool === 'focus' && e.button === 0) {
      const { x, y } = imageAt(p.x, p.y);
      document.body.dataset.focusPixel = x + ',' + y;
      send('focus', '/api/focus', { x, y });
    } else drag = { x: p.x, y: p.y, panX: view.panX, panY: view.panY };
  });
  window.addEventListener('mouseup', () => { drag = null; });
  c.addEventListener('mousemove', (e) => {
    const p = pos(e);
    if (drag && drag.wipe) {
      view.wipeX = Math.max(0, Math.min(1, p.x / c.width));
      draw();
    } else if (drag) {
      view.panX = drag.panX + p.x - drag.x;
      view.panY = drag.panY + p.y - drag.y;
      view.fitted = false;
      draw();
    }
    readout(p.x, p.y);
  });
  new ResizeObserver(resizeCanvas).observe($('viewer'));
  $('fit').addEventListener('click', fit);
  $('one').addEventListener('click', oneToOne);
  $('wipe').addEventListener('change', (e) => { view.wipe = e.target.checked; draw(); });
  $('tool-pan').addEventListener('click', () => setTool('pan'));
  $('tool-focus').addEventListener('click', () => setTool('focus'));
  $('view-result').addEventListener('click', () => send('view', '/api/view', { view: 'result' }));
  $('view-focus').addEventListener('click', () => send('view', '/api/view', { view: 'focus' }));
  $('save-comp').addEventListener('click', saveComp);
  $('render').addEventListener('click', renderFrames);
}

(async function start() {
  setupViewer();
  try {
    showPanel(await api('/api/panel'));
  } catch (e) {
    setStatus(e.message, true);
    return;
  }
  pictureLoop();
  consoleLoop();
})();
