// The tune page: the effect's controls beside the frame, every change
// rendered through the plug-in by the server that served this page.
'use strict';

(() => {
  const token = new URLSearchParams(location.search).get('token') || '';
  // Renders of one client supersede each other on the server; a random name
  // keeps two tabs from dropping each other's pictures.
  const client = Array.from(crypto.getRandomValues(new Uint8Array(8)),
    (b) => b.toString(16).padStart(2, '0')).join('');
  const $ = (id) => document.getElementById(id);

  const ENGLISH = {
    'key': 'Key colour',
    'choke-transparent': 'Choke transparent',
    'choke-opaque': 'Choke opaque',
    'spill-amount': 'Spill amount',
    'spill-size': 'Spill size',
    'view': 'View',
  };
  const VIEW_NAMES = { source: 'source', alpha: 'alpha matte', spill: 'spill matte', final: 'final' };

  let info = null;
  let sliders = [];  // the slider parameters as the plug-in describes them
  const state = { key: '#000000', view: 'final', over: '', overColor: '#808080', frameIndex: 0 };
  const zoom = { mode: 'fit', scale: 1, x: 0, y: 0 };
  let picking = false;

  // What the tests and the benchmark read.
  const exposed = { ready: false, shown: null, lastFull: null, renders: 0, errors: [] };
  window.kestrelumen = exposed;
  // True once every change so far has its picture on screen.
  exposed.idle = () => !inflight && !pending;

  function api(path, params) {
    return '/api/' + path + '?' + new URLSearchParams(Object.assign({ token }, params || {}));
  }

  function status(text, isError) {
    const s = $('status');
    s.textContent = text;
    s.classList.toggle('error', !!isError);
    if (isError) exposed.errors.push(text);
  }

  function frameNumber() { return info.frames[state.frameIndex]; }

  function overValue() {
    if (state.over === 'checker') return 'checker';
    if (state.over === 'color') return state.overColor;
    return '';
  }

  // The controls as query keys, spelled like the tool's flags.
  function controlParams() {
    const p = { key: state.key };
    for (const s of sliders) p[s.flag] = String(state[s.flag]);
    p.view = state.view;
    return p;
  }

  // ---- rendering: one request in flight; a newer change replaces the one
  // waiting, so a picture always shows the latest position reached.
  let inflight = false;
  let pending = null;
  let sent = 0;
  let shownSeq = 0;

  function previewScale() {
    const dpr = window.devicePixelRatio || 1;
    const s = Math.min(1, zoom.scale * dpr);
    return Math.max(0.01, Math.round(s * 1000) / 1000);
  }

  function schedule(full) {
    pending = { full, changedAt: performance.now() };
    pump();
  }

  async function pump() {
    if (inflight || !pending) return;
    const job = pending;
    pending = null;
    inflight = true;
    const seq = ++sent;
    const params = Object.assign(controlParams(), { frame: String(frameNumber()), client });
    const over = overValue();
    if (over) params.over = over;
    const scale = job.full ? 1 : previewScale();
    if (scale < 1) params.scale = String(scale);
    const started = performance.now();
    try {
      const res = await fetch(api('render', params), { cache: 'no-store' });
      if (res.status === 409) {
        // superseded by a newer render of ours: nothing to show
      } else if (!res.ok) {
        status((await res.text()).trim(), true);
      } else {
        const blob = await res.blob();
        if (seq > shownSeq) {
          shownSeq = seq;
          await display(blob, { seq, full: scale === 1, params, changedAt: job.changedAt, started });
        }
      }
    } catch (e) {
      status('render failed: ' + e, true);
    }
    inflight = false;
    pump();
  }

  function display(blob, what) {
    return new Promise((resolve) => {
      const img = $('picture');
      const url = URL.createObjectURL(blob);
      const old = img.src;
      img.onload = () => {
        if (old.startsWith('blob:')) URL.revokeObjectURL(old);
        const now = performance.now();
        const size = img.naturalWidth + '\u00d7' + img.naturalHeight;
        status((what.full ? 'full ' : 'preview ') + size + ' in ' + Math.round(now - what.started) + ' ms');
        exposed.renders += 1;
        exposed.shown = { seq: what.seq, full: what.full, params: what.params, width: img.naturalWidth,
          height: img.naturalHeight, roundTripMs: now - what.changedAt };
        if (what.full) exposed.lastFull = { blob, params: what.params, seq: what.seq };
        img.dataset.seq = String(what.seq);
        img.dataset.full = what.full ? '1' : '0';
        resolve();
      };
      img.onerror = () => { status('the picture could not be shown', true); resolve(); };
      img.src = url;
    });
  }

  // ---- the viewer: fit or 1:1, panned by dragging
  function applyZoom() {
    const stage = $('stage');
    stage.style.transform = 'translate(' + zoom.x + 'px,' + zoom.y + 'px) scale(' + zoom.scale + ')';
    $('zoom-fit').setAttribute('aria-pressed', String(zoom.mode === 'fit'));
    $('zoom-one').setAttribute('aria-pressed', String(zoom.mode === 'one'));
  }

  function setZoom(mode) {
    const v = $('viewer').getBoundingClientRect();
    const old = zoom.scale;
    zoom.mode = mode;
    if (mode === 'fit') {
      zoom.scale = Math.min(v.width / info.width, v.height / info.height);
      zoom.x = (v.width - info.width * zoom.scale) / 2;
      zoom.y = (v.height - info.height * zoom.scale) / 2;
    } else {
      // One frame pixel to one screen pixel, keeping the middle of the view.
      zoom.scale = 1 / (window.devicePixelRatio || 1);
      const cx = (v.width / 2 - zoom.x) / old, cy = (v.height / 2 - zoom.y) / old;
      zoom.x = v.width / 2 - cx * zoom.scale;
      zoom.y = v.height / 2 - cy * zoom.scale;
    }
    applyZoom();
  }

  function framePoint(ev) {
    const v = $('viewer').getBoundingClientRect();
    const x = Math.floor((ev.clientX - v.left - zoom.x) / zoom.scale);
    const y = Math.floor((ev.clientY - v.top - zoom.y) / zoom.scale);
    if (x < 0 || y < 0 || x >= info.width || y >= info.height) return null;
    return { x, y };
  }

  function setupViewer() {
    const viewer = $('viewer');
    let drag = null;
    viewer.addEventListener('mousedown', (ev) => {
      if (ev.button !== 0 || picking) return;
      drag = { x: ev.clientX - zoom.x, y: ev.clientY - zoom.y, moved: false };
      viewer.classList.add('panning');
    });
    window.addEventListener('mousemove', (ev) => {
      if (drag) {
        zoom.x = ev.clientX - drag.x;
        zoom.y = ev.clientY - drag.y;
        drag.moved = true;
        applyZoom();
      }
    });
    window.addEventListener('mouseup', () => {
      drag = null;
      viewer.classList.remove('panning');
    });
    viewer.addEventListener('click', (ev) => {
      if (!picking) return;
      const p = framePoint(ev);
      if (p) pick(p);
    });
    viewer.addEventListener('mousemove', (ev) => {
      const p = framePoint(ev);
      if (p) readout(p);
    });
    $('zoom-fit').addEventListener('click', () => setZoom('fit'));
    $('zoom-one').addEventListener('click', () => setZoom('one'));
    window.addEventListener('resize', () => { if (zoom.mode === 'fit') setZoom('fit'); });
  }

  // ---- the pixel under the cursor, input and output, one request at a time
  let readoutBusy = false;
  let readoutNext = null;

  function cells(rowId, values) {
    const tds = $(rowId).querySelectorAll('td');
    values.forEach((v, i) => {
      tds[i].textContent = typeof v === 'number' && !Number.isInteger(v) ? v.toFixed(4) : String(v);
    });
  }

  async function readout(p) {
    readoutNext = p;
    if (readoutBusy) return;
    readoutBusy = true;
    while (readoutNext) {
      const at = readoutNext;
      readoutNext = null;
      try {
        const res = await fetch(api('pixel', Object.assign(controlParams(),
          { x: String(at.x), y: String(at.y), frame: String(frameNumber()) })));
        if (res.ok) {
          const px = await res.json();
          $('readout-where').textContent = 'x ' + px.x + ', y ' + px.y + ' (' + info.depth + ')';
          cells('readout-in', px.input);
          cells('readout-out', px.output);
        }
      } catch (e) {
        // the readout is a convenience; the next move asks again
      }
    }
    readoutBusy = false;
  }

  // ---- the key colour: field, eyedropper, auto
  function setKey(hex, render) {
    state.key = hex.toLowerCase();
    $('key').value = state.key;
    $('key-text').value = state.key;
    updateCommand();
    if (render) schedule(true);
  }

  function setPicking(on) {
    picking = on;
    $('eyedropper').setAttribute('aria-pressed', String(on));
    $('viewer').classList.toggle('picking', on);
  }

  async function pick(p) {
    setPicking(false);
    const res = await fetch(api('pick', { x: String(p.x), y: String(p.y), frame: String(frameNumber()) }));
    if (!res.ok) { status((await res.text()).trim(), true); return; }
    const got = await res.json();
    setKey(got.key, true);
    status('key ' + got.key + ' from ' + got.count + ' pixels around ' + p.x + ',' + p.y);
  }

  async function autoKey() {
    const res = await fetch(api('auto', { frame: String(frameNumber()) }));
    if (!res.ok) { status((await res.text()).trim(), true); return; }
    const got = await res.json();
    setKey(got.key, true);
    status('key ' + got.key + ' found in the frame');
  }

  // ---- the controls, built from the plug-in's own description
  function buildSlider(p) {
    const row = document.createElement('div');
    row.className = 'row slider';
    const label = document.createElement('label');
    label.htmlFor = 'p-' + p.flag;
    label.textContent = ENGLISH[p.flag] || p.flag;
    label.title = p.label + ' (--' + p.flag + ')';
    const range = document.createElement('input');
    range.type = 'range';
    range.id = 'p-' + p.flag;
    range.min = String(p.min);
    range.max = String(p.max);
    // Finer than the decimals shown, as a host slider moves continuously.
    range.step = String(Math.pow(10, -(p.precision + 2)));
    const number = document.createElement('input');
    number.type = 'number';
    number.id = 'n-' + p.flag;
    number.min = String(p.min);
    number.max = String(p.max);
    number.step = String(Math.pow(10, -p.precision));
    number.setAttribute('aria-label', label.textContent + ' value');
    const set = (v) => {
      state[p.flag] = v;
      range.value = String(v);
      number.value = String(v);
      updateCommand();
    };
    range.addEventListener('input', () => { set(Number(range.value)); schedule(false); });
    range.addEventListener('change', () => { set(Number(range.value)); schedule(true); });
    number.addEventListener('change', () => {
      let v = Number(number.value);
      if (!Number.isFinite(v)) v = p.default;
      set(Math.min(p.max, Math.max(p.min, v)));
      schedule(true);
    });
    row.append(label, range, number);
    p.set = set;
    return row;
  }

  function buildControls() {
    const box = $('sliders');
    for (const p of info.params) {
      if (p.type === 'slider') {
        sliders.push(p);
        box.appendChild(buildSlider(p));
      } else if (p.type === 'popup') {
        const select = $('view');
        p.choices.forEach((name, i) => {
          const o = document.createElement('option');
          o.value = name;
          o.textContent = VIEW_NAMES[name] || name;
          o.title = p.labels[i] || '';
          select.appendChild(o);
        });
        $('view-label').title = p.label + ' (--view)';
      } else if (p.type === 'color') {
        $('key-label').title = p.label + ' (--key)';
      }
    }
    const s = info.settings;
    for (const p of sliders) p.set(s[p.flag] !== undefined ? s[p.flag] : p.default);
    state.view = s.view;
    $('view').value = s.view;
    setKey(s.key, false);
    $('over').value = state.over;
    $('over-color').value = state.overColor;

    $('view').addEventListener('change', () => { state.view = $('view').value; updateCommand(); schedule(true); });
    $('over').addEventListener('change', () => { state.over = $('over').value; updateCommand(); schedule(true); });
    $('over-color').addEventListener('input', () => {
      state.overColor = $('over-color').value;
      if (state.over === 'color') { updateCommand(); schedule(false); }
    });
    $('over-color').addEventListener('change', () => {
      state.overColor = $('over-color').value;
      if (state.over === 'color') { updateCommand(); schedule(true); }
    });
    $('key').addEventListener('input', () => { setKey($('key').value, false); schedule(false); });
    $('key').addEventListener('change', () => setKey($('key').value, true));
    $('key-text').addEventListener('change', () => {
      const t = $('key-text').value.trim();
      if (/^#[0-9a-fA-F]{6}$/.test(t)) setKey(t, true);
      else $('key-text').value = state.key;
    });
    $('eyedropper').addEventListener('click', () => setPicking(!picking));
    $('auto').addEventListener('click', autoKey);

    if (info.frames.length > 1) {
      $('frame-row').hidden = false;
      const f = $('frame');
      f.max = String(info.frames.length - 1);
      f.value = '0';
      $('frame-number').textContent = String(info.frames[0]);
      f.addEventListener('input', () => {
        state.frameIndex = Number(f.value);
        $('frame-number').textContent = String(frameNumber());
        updateCommand();
        schedule(false);
      });
      f.addEventListener('change', () => { state.frameIndex = Number(f.value); schedule(true); });
    }
  }

  // ---- the equivalent command line
  function shellQuote(s) {
    return /^[A-Za-z0-9_.\/,:=+@%-]+$/.test(s) ? s : "'" + s.replace(/'/g, "'\\''") + "'";
  }

  function commandLine() {
    const args = ['kestrelumen', 'render', info.input, '-o', info.output];
    if (info.sequence) args.push('--frames', String(frameNumber()));
    args.push('--key', state.key);
    for (const p of sliders) args.push('--' + p.flag, String(state[p.flag]));
    args.push('--view', state.view);
    const over = overValue();
    if (over) args.push('--over', over);
    if (info.depthFlag) args.push('--depth', info.depthFlag);
    return args.map(shellQuote).join(' ');
  }

  function updateCommand() {
    if (info) $('command').textContent = commandLine();
  }

  async function copyCommand() {
    const text = commandLine();
    try {
      await navigator.clipboard.writeText(text);
      $('save-status').textContent = 'copied';
    } catch (e) {
      const range = document.createRange();
      range.selectNodeContents($('command'));
      const sel = getSelection();
      sel.removeAllRanges();
      sel.addRange(range);
      $('save-status').textContent = document.execCommand('copy') ? 'copied' : 'select and copy by hand';
    }
  }

  async function saveSettings() {
    if (info.settingsFile) {
      const res = await fetch(api('settings', controlParams()), { method: 'POST' });
      const text = await res.text();
      $('save-status').textContent = res.ok ? 'saved to ' + JSON.parse(text).saved : text.trim();
      return;
    }
    // No file was named at start: the browser saves what the server holds,
    // which is what was last rendered.
    const res = await fetch(api('settings'));
    const blob = new Blob([await res.text()], { type: 'application/json' });
    const a = document.createElement('a');
    a.href = URL.createObjectURL(blob);
    a.download = 'kestrelumen-settings.json';
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 1000);
    $('save-status').textContent = 'downloaded kestrelumen-settings.json';
  }

  async function start() {
    const res = await fetch(api('info'));
    if (!res.ok) { status((await res.text()).trim(), true); return; }
    info = await res.json();
    $('input-name').textContent = info.input;
    $('frame-size').textContent = info.width + '\u00d7' + info.height + ', ' + info.depth;
    const img = $('picture');
    img.style.width = info.width + 'px';
    img.style.height = info.height + 'px';
    buildControls();
    setupViewer();
    $('copy').addEventListener('click', copyCommand);
    $('save').addEventListener('click', saveSettings);
    setZoom('fit');
    updateCommand();
    exposed.ready = true;
    schedule(true);
  }

  start().catch((e) => status('the page could not start: ' + e, true));
})();
