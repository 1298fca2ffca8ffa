// The playground page: an editor with the language's words and surprises,
// runs in a worker, stepping with the debugger's engine, examples and share
// links.  Everything it loads comes from its own folder.
import { EditorView, basicSetup } from 'codemirror';
import { Decoration, hoverTooltip, keymap } from '@codemirror/view';
import { Prec, StateEffect, StateField } from '@codemirror/state';
import { StreamLanguage } from '@codemirror/language';
import { linter, lintGutter } from '@codemirror/lint';
import { loadVelmorine } from '../velmorine.mjs';

const MAX_BYTES = 16 << 20;  // larger texts are refused with a message, not run
const ANALYSED_LENGTH = 2 << 20;
const $ = (id) => document.getElementById(id);
const encoder = new TextEncoder();

// #code= followed by the script's UTF-8 bytes in base64url.
export function encodeShare(text) {
  let binary = '';
  for (const byte of encoder.encode(text)) binary += String.fromCharCode(byte);
  return btoa(binary).replaceAll('+', '-').replaceAll('/', '_').replace(/=+$/, '');
}

export function decodeShare(code) {
  if (!/^[A-Za-z0-9_-]*$/.test(code)) throw new Error('The link does not hold a script: it is not base64url.');
  const binary = atob(code.replaceAll('-', '+').replaceAll('_', '/') + '='.repeat((4 - (code.length % 4)) % 4));
  const bytes = Uint8Array.from(binary, (c) => c.charCodeAt(0));
  return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
}

function say(text) {
  $('message').textContent = text;
  $('message').hidden = !text;
}

// The editor's script as UTF-8 bytes, line by line: encoding the joined text
// of a paste of megabytes took twice as long, and ASCII lines need no encoder.
// Null for a script that cannot be more than 16 MiB (each UTF-16 unit is at
// least one byte), which is refused without encoding it.
function scriptBytes(doc) {
  if (doc.length > MAX_BYTES) return null;
  const out = new Uint8Array(doc.length * 3);
  let at = 0;
  let first = true;
  for (const line of doc.iterLines()) {
    if (!first) out[at++] = 10;
    first = false;
    let i = 0;
    for (; i < line.length; i++) {
      const c = line.charCodeAt(i);
      if (c > 127) break;
      out[at + i] = c;
    }
    at += i < line.length ? encoder.encodeInto(line, out.subarray(at)).written : line.length;
  }
  return out.subarray(0, at);
}

// Why a script (its bytes, from scriptBytes) cannot be worked on, or null.
function refusal(bytes) {
  if (!bytes || bytes.length > MAX_BYTES) return 'The script is larger than 16 MiB, more than the playground runs.';
  if (bytes.indexOf(0) >= 0) return 'The script holds a NUL byte; a run reads it only up to there. Remove it to go on.';
  return null;
}

const velmorine = await loadVelmorine({ driver: './velmorine.wasm', playground: './velmorine-playground.wasm' });
const keywords = velmorine.keywords();
const meanings = new Map(keywords.map((k) => [k.word, k.meaning]));

const language = StreamLanguage.define({
  token(stream) {
    if (stream.eatSpace()) return null;
    if (stream.match('//')) {
      stream.skipToEnd();
      return 'comment';
    }
    if (stream.match(/^"[^"\n]*"?/)) return 'string';
    if (stream.match(/^\d+(\.\d+)?/)) return 'number';
    const word = stream.match(/^[A-Za-z_][A-Za-z0-9_]*/);
    if (word) return meanings.has(word[0]) || word[0] === 'divided' ? 'keyword' : 'variableName';
    stream.next();
    return 'operator';
  },
});

const hover = hoverTooltip((view, pos) => {
  const line = view.state.doc.lineAt(pos);
  let from = pos - line.from, to = from;
  while (from > 0 && /\w/.test(line.text[from - 1])) from--;
  while (to < line.text.length && /\w/.test(line.text[to])) to++;
  const meaning = meanings.get(line.text.slice(from, to));
  if (!meaning) return null;
  return {
    pos: line.from + from,
    end: line.from + to,
    create() {
      const dom = document.createElement('div');
      dom.className = 'cm-meaning';
      dom.textContent = meaning.replaceAll('`', '').replaceAll('**', '');
      return { dom };
    },
  };
});

const SEVERITY = { error: 'error', warning: 'warning', info: 'info', hint: 'info' };
const surprises = linter((view) => {
  const text = view.state.doc.toString();
  // A paste of megabytes is run, not analysed as it is typed.
  if (text.length > ANALYSED_LENGTH || text.includes('\0')) return [];
  const length = view.state.doc.length;
  return velmorine.analyse(text).map((f) => ({
    from: Math.min(f.from, length),
    to: Math.min(Math.max(f.to, f.from), length),
    severity: SEVERITY[f.severity] || 'info',
    source: f.code,
    message: f.message,
  }));
}, { delay: 250 });

// The current line while stepping.
const setHere = StateEffect.define();
const here = StateField.define({
  create: () => Decoration.none,
  update(value, tr) {
    for (const e of tr.effects) if (e.is(setHere)) value = e.value;
    return tr.docChanged ? Decoration.none : value;
  },
  provide: (f) => EditorView.decorations.from(f),
});

let initial = 'display "Hello from velmorine"\n';
const examples = await (await fetch('./examples.json')).json();
if (examples.length) initial = examples[0].source;
if (location.hash.startsWith('#code=')) {
  try {
    initial = decodeShare(location.hash.slice(6));
  } catch (error) {
    say(error instanceof TypeError ? 'The link\'s script is not UTF-8 text.' : error.message);
  }
}

const view = new EditorView({
  parent: $('editor'),
  doc: initial,
  extensions: [
    basicSetup,
    language,
    hover,
    surprises,
    lintGutter(),
    here,
    Prec.highest(keymap.of([{ key: 'Mod-Enter', run: () => (run(), true) }])),
    EditorView.updateListener.of((u) => {
      if (u.docChanged) stopStepping();
    }),
  ],
});

for (const [i, example] of examples.entries()) {
  const option = document.createElement('option');
  option.value = String(i);
  option.textContent = example.name;
  $('examples').append(option);
}
$('examples').onchange = () => {
  const example = examples[Number($('examples').value)];
  view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: example.source } });
};

// ---- running ----
let worker = null;
let workerReady = null;
const driverBytes = await (await fetch('./velmorine.wasm')).arrayBuffer();

function startWorker() {
  worker = new Worker('./worker.js', { type: 'module' });
  workerReady = new Promise((resolve) => {
    worker.onmessage = ({ data }) => data.type === 'ready' && resolve();
  });
  worker.postMessage({ type: 'load', bytes: driverBytes });
}
startWorker();

const output = $('output');
// Output goes into the pane a piece of whole lines at a time, each piece a
// block that the browser lays out only when it is in view: one growing text
// of 100,000 lines would be laid out again, whole, for every piece.
let carried = { kind: null, text: '' };
function appendPiece(kind, text) {
  const piece = document.createElement('div');
  piece.dataset.kind = kind;
  if (kind === 'stderr') piece.className = 'stderr';
  piece.textContent = text;
  output.append(piece);
}
function append(kind, text) {
  if (carried.text && carried.kind !== kind) flushCarried();
  text = carried.text + text;
  const cut = text.lastIndexOf('\n') + 1;
  if (cut) appendPiece(kind, text.slice(0, cut));
  carried = { kind, text: text.slice(cut) };
}
function flushCarried() {
  if (carried.text) appendPiece(carried.kind, carried.text);
  carried = { kind: null, text: '' };
}

function finished(exitCode) {
  flushCarried();
  if (exitCode !== null) output.dataset.exitCode = String(exitCode);
  $('status').textContent = exitCode === null ? 'stopped' : `exit code ${exitCode}`;
  $('run').disabled = false;
  $('stop').disabled = true;
}

async function run() {
  stopStepping();
  const bytes = scriptBytes(view.state.doc);
  const why = refusal(bytes);
  say(why || '');
  if (why) return;
  output.textContent = '';
  carried = { kind: null, text: '' };
  delete output.dataset.exitCode;
  $('status').textContent = 'running';
  $('run').disabled = true;
  $('stop').disabled = false;
  await workerReady;
  const decoders = { stdout: new TextDecoder(), stderr: new TextDecoder() };
  worker.onmessage = ({ data }) => {
    if (data.type === 'output') {
      // One append a batch and kind: each append copies the text so far.
      let kind = null, text = '';
      for (const c of data.chunks) {
        if (c.kind !== kind && text) {
          append(kind, text);
          text = '';
        }
        kind = c.kind;
        text += decoders[c.kind].decode(c.bytes, { stream: true });
      }
      if (text) append(kind, text);
    } else if (data.type === 'exit') {
      finished(data.exitCode);
    }
  };
  worker.postMessage({ type: 'run', bytes }, [bytes.buffer]);
}

$('run').onclick = run;
$('stop').onclick = () => {
  worker.terminate();
  finished(null);
  startWorker();
};

// ---- stepping ----
let session = null;

function showState() {
  const s = session.state;
  const rows = $('name-rows');
  rows.textContent = '';
  for (const n of s.names || []) {
    const tr = document.createElement('tr');
    for (const cell of [n.name, n.value, n.type]) {
      const td = document.createElement('td');
      td.textContent = cell;
      tr.append(td);
    }
    rows.append(tr);
  }
  output.textContent = session.output;
  $('where').textContent = s.ended ? 'The script has ended.' : `Line ${s.line}` + (s.refusal ? ` (${s.refusal})` : '');
  $('back').disabled = !s.history;
  const effects = [];
  if (!s.ended && s.line) {
    const line = view.state.doc.line(Math.min(s.line, view.state.doc.lines));
    effects.push(setHere.of(Decoration.set([Decoration.line({ class: 'cm-here' }).range(line.from)])));
  } else {
    effects.push(setHere.of(Decoration.none));
  }
  view.dispatch({ effects });
}

function stopStepping() {
  if (!session) return;
  session = null;
  if ($('status').textContent === 'stepping') $('status').textContent = '';
  $('names').hidden = true;
  $('back').disabled = true;
  view.dispatch({ effects: setHere.of(Decoration.none) });
}

$('step').onclick = () => {
  if (!session) {
    const bytes = scriptBytes(view.state.doc);
    const why = refusal(bytes);
    say(why || '');
    if (why) return;
    session = velmorine.debug(bytes);
    if (session.error) {
      say(session.error);
      session = null;
      return;
    }
    $('names').hidden = false;
    // The pane shows the steps' output now, not the last run's.
    delete output.dataset.exitCode;
    $('status').textContent = 'stepping';
  } else {
    session.step();
  }
  showState();
};
$('back').onclick = () => {
  if (!session) return;
  session.back();
  showState();
};

// For pages that embed the playground, and its tests.
window.velmorinePlayground = {
  getScript: () => view.state.doc.toString(),
  setScript: (text) => view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: text } }),
};

// ---- sharing ----
$('share').onclick = async () => {
  const link = `${location.origin}${location.pathname}#code=${encodeShare(view.state.doc.toString())}`;
  history.replaceState(null, '', link);
  try {
    await navigator.clipboard.writeText(link);
    say('The link is in the address bar and on the clipboard.');
  } catch {
    say('The link is in the address bar.');
  }
};

document.body.dataset.ready = 'true';
