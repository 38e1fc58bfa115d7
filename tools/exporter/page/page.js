'use strict';
const REFRESH_MS = 2000;
const TIMEOUT_MS = 5000;
const HISTORY_MS = 10 * 60 * 1000;
const W = 320, H = 80;
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
      addCell(tr, 'name', text(p.name), true);
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
    td.colSpan = 6;
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

// One quantity of one device, on its own scale from 0: 0-100 unless a reading exceeds it.
function panel(h, key, cls, title, unit, now) {
  const top = Math.max(100, ...h.map(s => s[key] ?? 0));
  const x = t => (W - (now - t) / HISTORY_MS * W).toFixed(1);
  const y = v => (H - 2 - Math.max(0, v) / top * (H - 12)).toFixed(1);
  const heading = document.createElement('div');
  heading.className = 'panel ' + cls;
  heading.textContent = title + ' (' + unit + ')';
  const picture = svg('svg', {viewBox: `0 0 ${W} ${H}`, role: 'img', 'data-scale': top});
  for (const v of [0, top / 2, top]) {
    picture.append(svg('line', {class: 'grid', x1: 0, x2: W, y1: y(v), y2: y(v)}));
    const label = svg('text', {x: 2, y: Math.max(9, Number(y(v)) - 2)});
    label.textContent = Math.round(v) + ' ' + unit;
    picture.append(label);
  }
  const points = h.filter(s => s[key] !== null).map(s => x(s.t) + ',' + y(s[key]));
  picture.append(svg('polyline', {class: cls, points: points.join(' ')}));
  return [heading, picture];
}

function chart(d, now) {
  const id = deviceId(d), h = samples.get(id) ?? [];
  const figure = document.createElement('figure');
  figure.className = 'chart';
  figure.dataset.device = id;
  const caption = document.createElement('figcaption');
  caption.textContent = id + '  ' + (text(d.node) ?? 'N/A') + '  utilisation ' +
      (number(d.utilization, 1, ' %') ?? 'N/A') + ', temperature ' +
      (number(d['temperature.chip'], 0, ' \u00b0C') ?? 'N/A');
  figure.append(caption, ...panel(h, 'util', 'utilization', 'Utilisation', '%', now),
                ...panel(h, 'temp', 'temperature', 'Temperature', '\u00b0C', now));
  return figure;
}

// The exporter keeps the last minutes of every device, so that the charts start drawn. An
// exporter without it (or one that fails to answer) leaves them to fill as the page reads.
async function loadHistory() {
  try {
    const response = await fetch('/api/v1/history', {cache: 'no-store'});
    if (!response.ok) return;
    const answer = await response.json();
    if (!answer || !Array.isArray(answer.devices) || !finite(answer.now)) return;
    // The exporter's clock, moved onto this browser's: the two machines may disagree.
    const shift = Date.now() - answer.now;
    for (const d of answer.devices) {
      if (!d || typeof d.id !== 'string' || !Array.isArray(d.points)) continue;
      samples.set(d.id, d.points
          .filter(p => Array.isArray(p) && finite(p[0]))
          .map(p => ({t: p[0] + shift, util: finite(p[1]) ? p[1] : null, temp: finite(p[2]) ? p[2] : null})));
    }
  } catch (e) {
    // The page's own reads fill the charts instead.
  }
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
loadHistory().then(refresh);
