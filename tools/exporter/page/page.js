'use strict';
const REFRESH_MS = 2000;
const TIMEOUT_MS = 5000;
const HISTORY_MS = 10 * 60 * 1000;
const W = 320, H = 100;
const SVG_NS = 'http://www.w3.org/2000/svg';
const samples = new Map();  // device id -> [{t, util, temp}], oldest first
let lastUpdate = null;

const $ = id => document.getElementById(id);
const finite = v => typeof v === 'number' && Number.isFinite(v);

// Display texts; null stands for a value the device lacks and is shown as N/A.
function number(v, digits, unit) {
  return finite(v) ? v.toFixed(digits) + unit : null;
}
function bytes(v) {
  if (!finite(v)) return null;
  const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB', 'PiB'];
  let i = 0;
  while (Math.abs(v) >= 1024 && i < units.length - 1) { v /= 1024; ++i; }
  return i === 0 ? v + ' B' : v.toFixed(1) + ' ' + units[i];
}
function text(v) {
  return typeof v === 'string' || finite(v) ? String(v) : null;
}
function memory(d) {
  const used = bytes(d['memory.used']), total = bytes(d['memory.total']);
  return used === null && total === null ? null : (used ?? 'N/A') + ' / ' + (total ?? 'N/A');
}
const deviceId = d => text(d.id) ?? '?';

function addCell(row, field, value, isText) {
  const td = row.insertCell();
  td.dataset.field = field;
  td.textContent = value ?? 'N/A';
  if (isText) td.classList.add('text');
  if (value === null) td.classList.add('na');
}

function deviceRow(d) {
  const tr = document.createElement('tr');
  tr.dataset.device = deviceId(d);
  addCell(tr, 'id', deviceId(d), true);
  addCell(tr, 'family', text(d.family), true);
  addCell(tr, 'node', text(d.node), true);
  addCell(tr, 'temperature', number(d['temperature.chip'], 0, ' \u00b0C'));
  addCell(tr, 'power', number(d['power.draw'], 1, ' W'));
  addCell(tr, 'clock', number(d['clocks.npu'], 0, ' MHz'));
  addCell(tr, 'fan', number(d['fan.duty'], 0, ' %'));
  addCell(tr, 'memory', memory(d));
  addCell(tr, 'utilization', number(d.utilization, 1, ' %'));
  return tr;
}

function processRows(devices) {
  const rows = [];
  for (const d of devices) {
    if (!Array.isArray(d.processes)) continue;
    for (const p of d.processes) {
      if (!p || typeof p !== 'object') continue;
      const tr = document.createElement('tr');
      tr.dataset.device = deviceId(d);
      tr.dataset.pid = text(p.pid) ?? '';
      addCell(tr, 'device', deviceId(d), true);
      addCell(tr, 'pid', text(p.pid));
      addCell(tr, 'busy', number(p.busy_percent, 1, ' %'));
      addCell(tr, 'quantity', number(p.quantity, 0, ''));
      addCell(tr, 'amount', number(p.amount, 0, ''));
      rows.push(tr);
    }
  }
  if (rows.length === 0) {
    const tr = document.createElement('tr');
    tr.className = 'empty';
    const td = tr.insertCell();
    td.colSpan = 5;
    td.textContent = 'No device reports a process.';
    rows.push(tr);
  }
  return rows;
}

// Keeps the last HISTORY_MS of each present device; a device that is gone loses its history.
function record(devices, now) {
  const present = new Set();
  for (const d of devices) {
    const id = deviceId(d);
    present.add(id);
    if (!samples.has(id)) samples.set(id, []);
    const h = samples.get(id);
    const temp = d['temperature.chip'];
    h.push({t: now, util: finite(d.utilization) ? d.utilization : null,
            temp: finite(temp) ? temp : null});
    while (h.length > 0 && h[0].t < now - HISTORY_MS) h.shift();
  }
  for (const id of [...samples.keys()]) if (!present.has(id)) samples.delete(id);
}

function svg(name, attributes) {
  const e = document.createElementNS(SVG_NS, name);
  for (const [k, v] of Object.entries(attributes)) e.setAttribute(k, String(v));
  return e;
}

function chart(d, now) {
  const id = deviceId(d), h = samples.get(id) ?? [];
  // One scale for both series: percent and degrees share 0-100 unless a reading exceeds it.
  const top = Math.max(100, ...h.map(s => Math.max(s.util ?? 0, s.temp ?? 0)));
  const x = t => (W - (now - t) / HISTORY_MS * W).toFixed(1);
  const y = v => (H - 2 - Math.max(0, v) / top * (H - 12)).toFixed(1);
  const figure = document.createElement('figure');
  figure.className = 'chart';
  figure.dataset.device = id;
  const caption = document.createElement('figcaption');
  caption.textContent = id + '  ' + (text(d.node) ?? 'N/A') + '  utilisation ' +
      (number(d.utilization, 1, ' %') ?? 'N/A') + ', temperature ' +
      (number(d['temperature.chip'], 0, ' \u00b0C') ?? 'N/A');
  const picture = svg('svg', {viewBox: `0 0 ${W} ${H}`, role: 'img'});
  for (const v of [0, top / 2, top]) {
    picture.append(svg('line', {class: 'grid', x1: 0, x2: W, y1: y(v), y2: y(v)}));
    const label = svg('text', {x: 2, y: Math.max(9, Number(y(v)) - 2)});
    label.textContent = String(Math.round(v));
    picture.append(label);
  }
  for (const [key, cls] of [['util', 'utilization'], ['temp', 'temperature']]) {
    const points = h.filter(s => s[key] !== null).map(s => x(s.t) + ',' + y(s[key]));
    picture.append(svg('polyline', {class: cls, points: points.join(' ')}));
  }
  figure.append(caption, picture);
  return figure;
}

function showError(message) {
  const line = $('error');
  document.body.classList.toggle('stale', message !== null);
  line.hidden = message === null;
  line.textContent = message === null ? '' :
      'Cannot read /api/v1/devices (' + message + '): the exporter may have stopped. ' +
      'Retrying every ' + REFRESH_MS / 1000 + ' s' +
      (lastUpdate ? '; the values shown are from ' + lastUpdate.toLocaleTimeString() : '') + '.';
}

async function refresh() {
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), TIMEOUT_MS);
  try {
    const response = await fetch('/api/v1/devices', {cache: 'no-store', signal: abort.signal});
    if (!response.ok) throw new Error('HTTP ' + response.status);
    const answer = await response.json();
    if (!Array.isArray(answer)) throw new Error('the answer is not a list of devices');
    const devices = answer.filter(d => d !== null && typeof d === 'object' && !Array.isArray(d));
    const now = Date.now();
    record(devices, now);
    document.querySelector('#devices tbody').replaceChildren(...devices.map(deviceRow));
    document.querySelector('#processes tbody').replaceChildren(...processRows(devices));
    $('charts').replaceChildren(...devices.map(d => chart(d, now)));
    $('summary').textContent = devices.length + (devices.length === 1 ? ' device' : ' devices');
    lastUpdate = new Date(now);
    $('status').textContent = 'Updated ' + lastUpdate.toLocaleTimeString() +
        ', every ' + REFRESH_MS / 1000 + ' s.';
    showError(null);
  } catch (e) {
    showError(e.name === 'AbortError' ? 'no answer within ' + TIMEOUT_MS / 1000 + ' s'
                                      : String(e.message || e));
  } finally {
    clearTimeout(timer);
    setTimeout(refresh, REFRESH_MS);
  }
}
refresh();
