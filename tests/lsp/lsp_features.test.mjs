// The language server's full feature set ("initializationOptions":
// {"features": "all"}) driven as an editor drives it.  Every surprise the
// server reports is held against a real run of the script, and formatting
// against `velmorine fmt` on every script the golden cases hold.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import rpc from 'vscode-jsonrpc/node';

const exe = process.env.VELM_EXE;
const emulator = process.env.VELM_EMULATOR || '';
const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const WAIT = emulator ? 60_000 : 15_000;  // for one notification

function startServer(initializationOptions, capabilities = {}) {
  assert.ok(exe, 'VELM_EXE names the executable under test');
  const [cmd, args] = emulator ? [emulator, [exe, 'lsp']] : [exe, ['lsp']];
  const child = spawn(cmd, args, { stdio: ['pipe', 'pipe', 'pipe'] });
  child.stderr.resume();
  let raw = Buffer.alloc(0);
  child.stdout.on('data', (chunk) => { if (raw.length < 4096) raw = Buffer.concat([raw, chunk]); });
  const exited = new Promise((resolve, reject) => {
    child.on('error', reject);
    child.on('close', (code, signal) => resolve({ code, signal }));
  });
  const logged = [];
  const logger = { error: (m) => logged.push(`error: ${m}`), warn: (m) => logged.push(`warn: ${m}`), info() {}, log() {} };
  const connection = rpc.createMessageConnection(
    new rpc.StreamMessageReader(child.stdout), new rpc.StreamMessageWriter(child.stdin), logger);
  connection.onError(([error]) => logged.push(`connection error: ${error?.message ?? error}`));
  // Publications per document, each taken once, in order.
  const published = new Map();
  const waiting = new Map();
  connection.onNotification('textDocument/publishDiagnostics', (params) => {
    const wake = waiting.get(params.uri);
    if (wake) { waiting.delete(params.uri); wake(params); return; }
    if (!published.has(params.uri)) published.set(params.uri, []);
    published.get(params.uri).push(params);
  });
  const messages = [];
  connection.onNotification('window/showMessage', (params) => messages.push(params));
  connection.onUnhandledNotification((n) => logged.push(`unexpected notification: ${n.method}`));
  connection.listen();
  const diagnostics = (uri) => {
    const queued = published.get(uri);
    if (queued?.length) return Promise.resolve(queued.shift());
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`no diagnostics for ${uri}`)), WAIT);
      waiting.set(uri, (p) => { clearTimeout(timer); resolve(p); });
    });
  };
  let version = 0;
  const server = {
    connection, logged, messages, diagnostics, raw: () => raw,
    request: (method, params) => connection.sendRequest(method, params),
    initialize: () => connection.sendRequest('initialize', {
      processId: process.pid, rootUri: null, capabilities, ...(initializationOptions && { initializationOptions }),
    }),
    // Opens the text and resolves with its diagnostics.
    async open(uri, text) {
      await connection.sendNotification('textDocument/didOpen',
        { textDocument: { uri, languageId: 'velmorine', version: ++version, text } });
      return (await diagnostics(uri)).diagnostics;
    },
    async change(uri, contentChanges) {
      await connection.sendNotification('textDocument/didChange', { textDocument: { uri, version: ++version }, contentChanges });
      return (await diagnostics(uri)).diagnostics;
    },
    async close(uri) {
      await connection.sendNotification('textDocument/didClose', { textDocument: { uri } });
      await diagnostics(uri);
    },
    async stop() {
      assert.equal(await connection.sendRequest('shutdown'), null);
      await connection.sendNotification('exit');
      const { code, signal } = await exited;
      connection.dispose();
      assert.deepEqual([code, signal], [0, null]);
      assert.deepEqual(logged, []);
    },
  };
  return server;
}

// ---- the texts, and what an editor does with edits --------------------------

// Offset in a JS string (UTF-16, as LSP counts) of a position; lines end at
// LF, CR LF or CR, and a position past a line's end or the text's end stops there.
function offsetOf(text, { line, character }) {
  let at = 0;
  for (let n = 0; n < line; n++) {
    const lf = text.slice(at).search(/\r\n|\r|\n/);
    if (lf < 0) return text.length;
    at += lf + (text.startsWith('\r\n', at + lf) ? 2 : 1);
  }
  const rest = text.slice(at).search(/\r|\n/);
  return at + Math.min(character, rest < 0 ? text.length - at : rest);
}

function applyEdits(text, edits) {
  const spans = edits.map((e) => [offsetOf(text, e.range.start), offsetOf(text, e.range.end), e.newText]);
  spans.sort((a, b) => b[0] - a[0]);
  for (const [from, to, newText] of spans) {
    assert.ok(from <= to, 'an edit ends before it starts');
    text = text.slice(0, from) + newText + text.slice(to);
  }
  return text;
}

const range = (l1, c1, l2, c2) => ({ start: { line: l1, character: c1 }, end: { line: l2, character: c2 } });
const at = (uri, line, character) => ({ textDocument: { uri }, position: { line, character } });
const pos = (r) => [r.start.line, r.start.character, r.end.line, r.end.character];

// The guide's section anchors, as a Markdown renderer makes them.
const ANCHORS = new Set(fs.readFileSync(path.join(ROOT, 'docs', 'language.md'), 'utf8').split('\n')
  .filter((l) => /^#+ /.test(l))
  .map((l) => l.replace(/^#+ /, '').toLowerCase().replace(/[^a-z0-9 _-]/g, '').replace(/ /g, '-')));

// The diagnostic without its link to the guide, once the link is checked.
function plain(d) {
  const { codeDescription, data, ...rest } = d;
  if (codeDescription) {
    const match = /^file:\/\/.*\/language\.md#([a-z0-9_-]+)$/.exec(codeDescription.href);
    assert.ok(match && ANCHORS.has(match[1]), `${d.code} links to a section of the guide: ${codeDescription.href}`);
  }
  return rest;
}
const sorted = (ds) => ds.map(plain).sort((a, b) => a.range.start.line - b.range.start.line
  || a.range.start.character - b.range.start.character || a.code.localeCompare(b.code));
const diag = (code, severity, r, message, tags) =>
  ({ range: r, severity, source: 'velmorine', code, message, ...(tags && { tags }) });
const readsZero = (name) => `'${name}' has no value here: nothing stores it before this point, so it reads 0`;
const CHECK_LINE = "is not a condition: this line is skipped, and the lines after it always run";

// Runs the executable in a scratch directory (as the golden cases do, so
// that wine sees a relative name); a run that wine itself fails, with no
// word from the program, is tried once more.
function velmorine(args, files) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'velm-lsp-'));
  try {
    for (const [name, text] of Object.entries(files)) fs.writeFileSync(path.join(work, name), text);
    const [cmd, argv] = emulator ? [emulator, [exe, ...args]] : [exe, args];
    let done;
    for (let attempt = 0; attempt < 2; attempt++) {
      done = spawnSync(cmd, argv, { cwd: work, encoding: 'utf8', timeout: 120_000 });
      const wine = /^(wine client error|wine: |wineserver: |Application could not be started)/m;
      if (!emulator || !(wine.test(done.stderr) || (done.status === 1 && !done.stdout && !done.stderr))) break;
    }
    const out = Object.fromEntries(Object.keys(files).map((n) => [n, fs.readFileSync(path.join(work, n), 'utf8')]));
    // The Windows console writes a line feed as CR LF.
    return { status: done.status, stdout: done.stdout.replace(/\r\n/g, '\n'), files: out };
  } finally {
    fs.rmSync(work, { recursive: true, force: true });
  }
}
const run = (script) => velmorine(['s.velm'], { 's.velm': script });

const EXAMPLE = [
  'start',
  'store total = total plus price',
  'count i from 1 to 10',
  '    display "line " plus i',
  'stop',
  'check total same 0',
  '    display "nothing to pay"',
  'display 2 plus 3 into 4',
  'stop',
  ''].join('\n');

const KEYWORDS = [...fs.readFileSync(path.join(ROOT, 'include', 'vl_keywords.h'), 'utf8')
  .matchAll(/VL_KEYWORD\(TOKEN_\w+,\s*"([^"]*)",\s*"([^"]*)",\s*"([^"]*)"\)/g)]
  .map(([, spelling, detail, meaning]) => ({ spelling, detail, meaning }));

const CAPABILITIES = {
  textDocumentSync: { openClose: true, change: 2 },
  completionProvider: { resolveProvider: true }, hoverProvider: true, definitionProvider: true,
  referencesProvider: true, documentHighlightProvider: true, documentSymbolProvider: true,
  documentFormattingProvider: true, renameProvider: { prepareProvider: true }, foldingRangeProvider: true,
  semanticTokensProvider: {
    legend: { tokenTypes: ['keyword', 'variable', 'number', 'string', 'comment', 'operator'], tokenModifiers: ['declaration'] },
    full: true,
  },
  codeActionProvider: { codeActionKinds: ['quickfix'] }, inlayHintProvider: true,
};

test('the full feature set, request by request', { timeout: 600_000 }, async (t) => {
  // No publishDiagnostics capability: with the option they come anyway.
  const server = startServer({ features: 'all' },
    { textDocument: { documentSymbol: { hierarchicalDocumentSymbolSupport: true } } });
  assert.deepEqual(await server.initialize(), { capabilities: CAPABILITIES });
  await server.connection.sendNotification('initialized', {});
  const ex = 'file:///tmp/example.velm';
  const exampleDiagnostics = await server.open(ex, EXAMPLE);

  await t.test('the example script: its diagnostics, and what its run shows', () => {
    assert.deepEqual(sorted(exampleDiagnostics), [
      diag('reads-zero', 2, range(1, 14, 1, 19), readsZero('total')),
      diag('reads-zero', 2, range(1, 25, 1, 30), readsZero('price')),
      diag('count-runs-once', 3, range(2, 0, 2, 5),
        "count runs its body once, with 'i' holding the start value; the end value is not used"),
      diag('check-skipped', 2, range(5, 0, 5, 18), `'check' ${CHECK_LINE}`, [1]),
    ]);
    assert.deepEqual(run(EXAMPLE), { status: 0, stdout: 'line 1\nnothing to pay\n20\n', files: { 's.velm': EXAMPLE } });
  });

  await t.test('each surprise, held against a run of its script', async () => {
    const left = "works on numbers only: the text on its left counts as 0";
    const rows = [
      // [script, the surprise, the codes of every diagnostic, what the run prints]
      ['count i from 1 to 3\n    display "body"\nstop\n',
        diag('count-runs-once', 3, range(0, 0, 0, 5),
          "count runs its body once, with 'i' holding the start value; the end value is not used"),
        ['count-runs-once'], 'body\n'],
      ['check 1 big 2\n    display "after"\n', diag('check-skipped', 2, range(0, 0, 0, 13), `'check' ${CHECK_LINE}`, [1]),
        ['check-skipped'], 'after\n'],
      ['check display 7\n', diag('check-skipped', 2, range(0, 0, 0, 5),
        "'check' is not a condition: it is skipped, and what follows it always runs", [1]), ['check-skipped'], '7\n'],
      ['otherwise 5\ndisplay "runs"\n', diag('otherwise-skipped', 2, range(0, 0, 0, 11), `'otherwise' ${CHECK_LINE}`, [1]),
        ['otherwise-skipped'], 'runs\n'],
      ['display 2 same 3\n', diag('adds-like-plus', 3, range(0, 10, 0, 14), "'same' adds, like 'plus': it does not compare"),
        ['adds-like-plus'], '5\n'],
      ['display 5 big 1\n', diag('adds-like-plus', 3, range(0, 10, 0, 13), "'big' adds, like 'plus': it does not compare"),
        ['adds-like-plus'], '6\n'],
      ['display never\n', diag('reads-zero', 2, range(0, 8, 0, 13), readsZero('never')), ['reads-zero'], '0\n'],
      ['x = 5\ndisplay x\n', diag('skipped-word', 2, range(0, 0, 0, 5),
        "'x' begins no statement: it is skipped with what follows it up to the next statement, and does nothing", [1]),
        ['skipped-word', 'reads-zero'], '0\n'],
      ['Display "hello"\ndisplay 1\n', diag('skipped-word', 2, range(0, 0, 0, 15),
        "'Display' begins no statement: it is skipped with what follows it up to the next statement, and does nothing", [1]),
        ['skipped-word'], '1\n'],
      ['display 1\nstop\ndisplay 2 plus 3\n', diag('after-stop', 4, range(2, 0, 2, 16),
        "nothing after the program's closing 'stop' on line 2 is read", [1]), ['after-stop'], '1\n'],
      ['store x = 1\n', diag('never-read', 4, range(0, 6, 0, 7), "'x' is stored here and never read", [1]), ['never-read'], ''],
      ['display "a" minus 1\n', diag('text-counts-as-zero', 2, range(0, 12, 0, 17), `'minus' ${left}`),
        ['text-counts-as-zero'], '-1\n'],
      ['display 2 into "b"\n', diag('text-counts-as-zero', 2, range(0, 10, 0, 14),
        `'into' ${left.replace('on its left', 'on its right')}`), ['text-counts-as-zero'], '0\n'],
      ['display "a" divided by "b"\n', diag('text-counts-as-zero', 2, range(0, 12, 0, 22),
        `'divided by' ${left.replace('on its left', 'on both sides')}`), ['text-counts-as-zero'], '0\n'],
      // Clean scripts, and a loop body whose earlier line stores the name
      // (the body runs once, so a read above the store in it reads 0).
      ['start\n// Prices in a shop.\nstore price = 4\nstore items = 3\ndisplay "Total: " plus (price into items)\n'
        + 'display price divided by 8\nstop\n', null, [], 'Total: 12\n0.5\n'],
      ['count i from 1 to 3\n    store n = i\n    display n plus 1\nstop\n', null, ['count-runs-once'], '2\n'],
      ['count i from 1 to 3\n    display n\n    store n = i\nstop\ndisplay n\n',
        diag('reads-zero', 2, range(1, 12, 1, 13), readsZero('n')), ['count-runs-once', 'reads-zero'], '0\n1\n'],
    ];
    const problems = [];
    for (const [n, [script, surprise, codes, output]] of rows.entries()) {
      const got = sorted(await server.open(`file:///tmp/row${n}.velm`, script));
      try {
        if (surprise) assert.deepEqual(got.filter((d) => d.code === surprise.code), [surprise]);
        assert.deepEqual(got.map((d) => d.code).sort(), [...codes].sort());
        assert.deepEqual([run(script).stdout], [output], 'what the run prints');
      } catch (error) {
        problems.push(`${JSON.stringify(script)}: ${error.message}\n  got ${JSON.stringify(got)}`);
      }
    }
    assert.deepEqual(problems, []);
  });

  await t.test('limits: 1,000 diagnostics at most, the syntax error kept; syntax errors carry their code', async () => {
    const got = await server.open('file:///tmp/many.velm', 'display never\n'.repeat(1500) + 'display 1 plus\n');
    assert.equal(got.length, 1000);
    assert.deepEqual(got.filter((d) => d.severity === 1).map(plain), [
      diag('syntax-error', 1, range(1500, 14, 1500, 14), 'Unexpected token in expression: EOF at line 1501')]);
  });

  await t.test('code actions: each fix applied, and the store fix clears the reads-zero', async () => {
    const fixes = async (uri, text, line, character) => {
      const ds = await server.open(uri, text);
      const d = ds.find((x) => x.range.start.line === line && x.range.start.character === character);
      assert.ok(d, `a diagnostic at ${line}:${character} of ${JSON.stringify(text)}`);
      const actions = await server.request('textDocument/codeAction',
        { textDocument: { uri }, range: d.range, context: { diagnostics: [d] } });
      for (const a of actions) {
        assert.equal(a.kind, 'quickfix');
        assert.deepEqual(Object.keys(a.edit.changes), [uri]);
        assert.ok(a.diagnostics.some((x) => x.code === d.code && pos(x.range).join() === pos(d.range).join()));
      }
      return Object.fromEntries(actions.map((a) => [a.title, [applyEdits(text, a.edit.changes[uri]), a.isPreferred === true]]));
    };
    assert.deepEqual(await fixes('file:///tmp/same.velm', 'display 2 same 3\n', 0, 10),
      { "Replace 'same' with 'plus'": ['display 2 plus 3\n', true] });
    assert.deepEqual(await fixes('file:///tmp/check.velm', 'start\n    check 1 big 2\n        display "x"\n', 1, 4),
      { 'Turn the skipped line into a comment': ['start\n    // check 1 big 2\n        display "x"\n', false] });
    // Something on the line runs, so it is no comment.
    assert.deepEqual(await fixes('file:///tmp/check2.velm', 'check display 7\n', 0, 0), {});

    const uri = 'file:///tmp/store.velm';
    const text = 'start\ncount i from 1 to 2\n    display total plus i\nstop\ndisplay total\n';
    const fixed = 'start\ncount i from 1 to 2\n    store total = 0\n    display total plus i\nstop\ndisplay total\n';
    assert.deepEqual(await fixes(uri, text, 2, 12), { "Store 0 in 'total' before its first read": [fixed, false] });
    assert.deepEqual(await fixes(uri, text, 4, 8), {}, 'only the first read gets the fix');
    assert.deepEqual((await server.change(uri, [{ text: fixed }])).map((d) => d.code), ['count-runs-once']);
    // A statement that does not begin its line gets the store before it on the line.
    const inline = 'display 1 display price\n';
    const [stored] = Object.values(await fixes('file:///tmp/inline.velm', inline, 0, 18));
    assert.deepEqual(stored[0], 'display 1 store price = 0 display price\n');
    assert.deepEqual(await server.change('file:///tmp/inline.velm', [{ text: stored[0] }]), []);
  });

  await t.test('inlay hints show the left-to-right grouping', async () => {
    const hints = async (uri, r) => (await server.request('textDocument/inlayHint', { textDocument: { uri }, range: r }))
      .map((h) => [h.position.line, h.position.character, h.label]);
    assert.deepEqual(await hints(ex, range(0, 0, 9, 0)), [[7, 8, '('], [7, 16, ')']]);
    assert.deepEqual(await hints(ex, range(0, 0, 6, 0)), []);
    const uri = 'file:///tmp/hints.velm';
    await server.open(uri, 'display 1 plus 2 plus 3 plus 4\ndisplay 2 plus (3 into 4)\ndisplay (1 minus 2 into 3)\n');
    assert.deepEqual(await hints(uri, range(0, 0, 3, 0)),
      [[0, 8, '(('], [0, 16, ')'], [0, 23, ')'], [2, 9, '('], [2, 18, ')']]);
  });

  await t.test('formatting is what `velmorine fmt` writes, on every script of the golden cases and examples/', async () => {
    const extract = spawnSync('/usr/bin/python3', ['-c', `
import glob, json, sys, tomllib
scripts = {}
for name in sorted(glob.glob(sys.argv[1] + "/*.toml")):
    with open(name, "rb") as f:
        for case in tomllib.load(f)["case"]:
            for file, text in case.get("files", {}).items():
                if file.endswith(".velm") and "\\0" not in text:
                    scripts.setdefault(text, name + ": " + case["name"])
print(json.dumps({where: text for text, where in scripts.items()}))
`, path.join(ROOT, 'tests', 'golden')], { encoding: 'utf8' });
    assert.equal(extract.status, 0, extract.stderr);
    const scripts = Object.entries(JSON.parse(extract.stdout));
    for (const name of fs.readdirSync(path.join(ROOT, 'examples')).filter((n) => n.endsWith('.velm')))
      scripts.push([name, fs.readFileSync(path.join(ROOT, 'examples', name), 'utf8')]);
    scripts.push(['the example script', EXAMPLE]);
    assert.ok(scripts.length > 20);
    const problems = [];
    for (const [n, [where, text]] of scripts.entries()) {
      const uri = `file:///tmp/fmt${n}.velm`;
      await server.open(uri, text);
      const edits = await server.request('textDocument/formatting',
        { textDocument: { uri }, options: { tabSize: 4, insertSpaces: true } });
      const want = velmorine(['fmt', 'f.velm'], { 'f.velm': text }).files['f.velm'];
      const ok = want === text ? edits.length === 0
        : edits.length === 1 && pos(edits[0].range).slice(0, 2).join() === '0,0' && applyEdits(text, edits) === want;
      if (!ok) problems.push(`${where}: ${JSON.stringify(text)}\n  fmt: ${JSON.stringify(want)}\n  got ${JSON.stringify(edits)}`);
      await server.close(uri);
    }
    assert.deepEqual(problems, []);
    // A text that fmt refuses: no edit, and the editor is told why.
    const zero = 'file:///tmp/zero.velm';
    await server.open(zero, 'start\n  display 1\u0000\n  display 2\nstop\n');
    assert.deepEqual(await server.request('textDocument/formatting', { textDocument: { uri: zero }, options: {} }), []);
    await server.request('textDocument/hover', at(zero, 0, 0));  // the notice went out before this answer
    assert.equal(server.messages.length, 1);
    assert.equal(server.messages[0].type, 1);
    assert.match(server.messages[0].message, /NUL/);
  });

  // Every mention: a store, a read, a check line, a count's name and start,
  // and a read after the closing stop; never the comment or the string.
  const refs = 'file:///tmp/refs.velm';
  const REFS = 'start\nstore total = 1 // total\ndisplay "total" plus total\ncheck total big 1\n'
    + 'count total from total to 2\nstop\nstop\ndisplay total\n';
  const MENTIONS = [[1, 6, 3], [2, 21, 2], [3, 6, 1], [4, 6, 3], [4, 17, 2], [7, 8, 1]];
  const byPlace = (a, b) => a[0] - b[0] || a[1] - b[1];

  await t.test('references and highlights', async () => {
    await server.open(refs, REFS);
    const places = (locations) => locations.map((l) => {
      assert.equal(l.uri, refs);
      assert.equal(l.range.end.character - l.range.start.character, 5);
      return [l.range.start.line, l.range.start.character];
    }).sort(byPlace);
    for (const [line, character] of [[2, 23], [4, 17], [7, 12]]) {
      const all = await server.request('textDocument/references', { ...at(refs, line, character), context: { includeDeclaration: true } });
      assert.deepEqual(places(all), MENTIONS.map(([l, c]) => [l, c]));
    }
    const uses = await server.request('textDocument/references', { ...at(refs, 7, 8), context: { includeDeclaration: false } });
    assert.deepEqual(places(uses), MENTIONS.slice(1).map(([l, c]) => [l, c]));
    for (const [line, character] of [[1, 20], [2, 10], [2, 2]])  // comment, string, keyword
      assert.equal(await server.request('textDocument/references', { ...at(refs, line, character), context: { includeDeclaration: true } }), null);
    const highlights = await server.request('textDocument/documentHighlight', at(refs, 3, 8));
    assert.deepEqual(highlights.map((h) => [h.range.start.line, h.range.start.character, h.kind]).sort(byPlace), MENTIONS);
    const none = await server.request('textDocument/documentHighlight', at(refs, 2, 10));
    assert.ok(none === null || none.length === 0, 'no highlight in a string');
    assert.deepEqual(await server.request('textDocument/definition', at(refs, 7, 8)), { uri: refs, range: range(1, 6, 1, 11) });
  });

  await t.test('rename, and the renames it refuses with the document unchanged', async () => {
    assert.deepEqual(await server.request('textDocument/prepareRename', at(refs, 3, 7)), { range: range(3, 6, 3, 11), placeholder: 'total' });
    for (const [line, character] of [[0, 2], [2, 10], [1, 22]])
      assert.equal(await server.request('textDocument/prepareRename', at(refs, line, character)), null);
    const edit = await server.request('textDocument/rename', { ...at(refs, 2, 21), newName: 'sum' });
    assert.deepEqual(Object.keys(edit.changes), [refs]);
    assert.equal(applyEdits(REFS, edit.changes[refs]), 'start\nstore sum = 1 // total\ndisplay "total" plus sum\n'
      + 'check sum big 1\ncount sum from sum to 2\nstop\nstop\ndisplay sum\n');

    const before = await server.request('textDocument/references', { ...at(ex, 1, 6), context: { includeDeclaration: true } });
    const refusals = [
      [at(ex, 1, 6), 'count', "'count' is a keyword and cannot be a name"],
      [at(ex, 1, 6), '1x', /^'1x' is not a name: ./],
      [at(ex, 1, 6), 'i', "'i' is already a name in this script"],
      [at(ex, 0, 1), 'sum', /./],   // on the keyword start
      [at(ex, 3, 15), 'sum', /./],  // in a string
    ];
    for (const [where, newName, message] of refusals) {
      await assert.rejects(server.request('textDocument/rename', { ...where, newName }), (error) => {
        assert.ok(error instanceof rpc.ResponseError, String(error));
        assert.equal(error.code, -32803);
        if (typeof message === 'string') assert.equal(error.message, message); else assert.match(error.message, message);
        return true;
      }, `rename to ${newName}`);
    }
    assert.deepEqual(await server.request('textDocument/references', { ...at(ex, 1, 6), context: { includeDeclaration: true } }), before);
    assert.equal(before.length, 3);
  });

  await t.test('symbols', async () => {
    const uri = 'file:///tmp/symbols.velm';
    await server.open(uri, 'store a = 1\ncount i from 1 to 2\n    store b = a\n    store a = b\nstop\nstore c = a plus b plus i\n');
    // A loop's own selection range is left to the server; a name's is the name.
    const tree = (symbols) => symbols.map((s) => {
      for (const child of s.children ?? []) assert.ok(s.range.start.line <= child.range.start.line && child.range.end.line <= s.range.end.line);
      return s.kind === 3 ? [s.name, s.kind, tree(s.children)] : [s.name, s.kind, ...pos(s.selectionRange), ...(s.children?.length ? [tree(s.children)] : [])];
    });
    const symbols = await server.request('textDocument/documentSymbol', { textDocument: { uri } });
    assert.deepEqual(tree(symbols), [
      ['a', 13, 0, 6, 0, 7],
      ['count i', 3, [['i', 13, 1, 6, 1, 7], ['b', 13, 2, 10, 2, 11]]],
      ['c', 13, 5, 6, 5, 7],
    ]);
    assert.deepEqual([symbols[1].range.start.line, symbols[1].range.end.line >= 3], [1, true]);
  });

  await t.test('folding', async () => {
    const uri = 'file:///tmp/fold.velm';
    await server.open(uri, 'start\n// one\n// two\ncount i from 1 to 2\n    display i\n    // alone\nstop\nstop\n');
    const folds = await server.request('textDocument/foldingRange', { textDocument: { uri } });
    assert.deepEqual(folds.map((f) => [f.startLine, f.endLine, f.kind ?? null]).sort(byPlace),
      [[0, 6, null], [1, 2, 'comment'], [3, 5, null]]);
  });

  await t.test('semantic tokens', async () => {
    const TYPES = CAPABILITIES.semanticTokensProvider.legend.tokenTypes;
    const decode = async (uri) => {
      const { data } = await server.request('textDocument/semanticTokens/full', { textDocument: { uri } });
      assert.equal(data.length % 5, 0);
      const tokens = [];
      for (let n = 0, line = 0, start = 0; n < data.length; n += 5) {
        if (data[n] > 0) start = 0;
        line += data[n];
        start += data[n + 1];
        tokens.push([line, start, data[n + 2], TYPES[data[n + 3]], data[n + 4]]);
      }
      return tokens;
    };
    const example = await decode(ex);
    assert.deepEqual(example.filter(([line]) => [0, 1, 2, 3, 7].includes(line)), [
      [0, 0, 5, 'keyword', 0],
      [1, 0, 5, 'keyword', 0], [1, 6, 5, 'variable', 1], [1, 12, 1, 'operator', 0], [1, 14, 5, 'variable', 0],
      [1, 20, 4, 'operator', 0], [1, 25, 5, 'variable', 0],
      [2, 0, 5, 'keyword', 0], [2, 6, 1, 'variable', 1], [2, 8, 4, 'keyword', 0], [2, 13, 1, 'number', 0],
      [2, 15, 2, 'keyword', 0], [2, 18, 2, 'number', 0],
      [3, 4, 7, 'keyword', 0], [3, 12, 7, 'string', 0], [3, 20, 4, 'operator', 0], [3, 25, 1, 'variable', 0],
      [7, 0, 7, 'keyword', 0], [7, 8, 1, 'number', 0], [7, 10, 4, 'operator', 0], [7, 15, 1, 'number', 0],
      [7, 17, 4, 'operator', 0], [7, 22, 1, 'number', 0],
    ]);
    const uri = 'file:///tmp/tokens.velm';
    await server.open(uri, 'store x = 6 divided by 4 // c\ndisplay x * 2\n');
    assert.deepEqual(await decode(uri), [
      [0, 0, 5, 'keyword', 0], [0, 6, 1, 'variable', 1], [0, 8, 1, 'operator', 0], [0, 10, 1, 'number', 0],
      [0, 12, 10, 'operator', 0], [0, 23, 1, 'number', 0], [0, 25, 4, 'comment', 0],
      [1, 0, 7, 'keyword', 0], [1, 8, 1, 'variable', 0], [1, 10, 1, 'operator', 0], [1, 12, 1, 'number', 0],
    ]);
  });

  await t.test('completion: the names stored before the cursor, then every keyword', async () => {
    const items = await server.request('textDocument/completion', at(ex, 7, 0));
    assert.deepEqual(items.map((i) => [i.label, i.kind, i.detail, i.documentation]), [
      ['total', 6, 'stored on line 2', undefined],
      ['i', 6, 'count variable, line 3', undefined],
      ...KEYWORDS.map((k) => [k.spelling, 14, k.detail || 'keyword',
        { kind: 'markdown', value: k.meaning.replace('%', k.spelling) }]),
    ]);
    assert.equal(KEYWORDS.length, 28);
    const early = await server.request('textDocument/completion', at(ex, 2, 0));
    assert.deepEqual(early.filter((i) => i.kind === 6).map((i) => i.label), ['total']);
  });

  await t.test('bad input gets an error or an empty answer, and the server goes on', async () => {
    const symbolsOf = () => server.request('textDocument/documentSymbol', { textDocument: { uri: ex } });
    const symbols = await symbolsOf();
    const problems = [];
    const empty = async (method, params) => {
      try {
        const result = await server.request(method, params);
        if (!(result === null || (Array.isArray(result) && result.length === 0)
          || (Array.isArray(result?.data) && result.data.length === 0)))
          problems.push(`${method} ${JSON.stringify(params)}: ${JSON.stringify(result).slice(0, 200)}`);
      } catch (error) {
        if (!(error instanceof rpc.ResponseError)) problems.push(`${method}: ${error}`);
      }
    };
    const requests = (uri, line, character, r) => [
      ['textDocument/completion', at(uri, line, character)],
      ['textDocument/hover', at(uri, line, character)],
      ['textDocument/definition', at(uri, line, character)],
      ['textDocument/references', { ...at(uri, line, character), context: { includeDeclaration: true } }],
      ['textDocument/documentHighlight', at(uri, line, character)],
      ['textDocument/prepareRename', at(uri, line, character)],
      ['textDocument/rename', { ...at(uri, line, character), newName: 'fresh' }],
      ['textDocument/codeAction', { textDocument: { uri }, range: r, context: { diagnostics: [] } }],
      ['textDocument/inlayHint', { textDocument: { uri }, range: r }],
    ];
    const nowhere = 'file:///tmp/never-opened.velm';
    for (const [method, params] of [...requests(nowhere, 1, 6, range(0, 0, 9, 0)),
      ['textDocument/documentSymbol', { textDocument: { uri: nowhere } }],
      ['textDocument/formatting', { textDocument: { uri: nowhere }, options: {} }],
      ['textDocument/foldingRange', { textDocument: { uri: nowhere } }],
      ['textDocument/semanticTokens/full', { textDocument: { uri: nowhere } }]])
      await empty(method, params);
    for (const [method, params] of requests(ex, 900, 3, range(900, 0, 901, 0))) await empty(method, params);
    for (const [method, params] of requests(ex, 1, 6, range(7, 20, 7, 2)).slice(-2))
      assert.deepEqual(await server.request(method, params), [], `${method} on a backward range`);
    assert.deepEqual(problems, []);
    // The document is as it was.
    assert.deepEqual(await symbolsOf(), symbols);
    assert.equal(symbols.length, 2);
  });

  await t.test('incremental changes give the diagnostics of the whole text', async () => {
    const uri = 'file:///tmp/incremental.velm';
    const start = `// café 😀 note\r\n${EXAMPLE}`;
    await server.open(uri, start);
    const changes = [
      { range: range(6, 12, 6, 16), text: 'big' },                     // check total big 0
      { range: range(0, 10, 0, 15), text: 'no' },                      // after the astral character
      { range: range(2, 14, 2, 31), text: 'price\ndisplay "x" minus 1\nY' },
      { range: range(11, 0, 11, 4), text: '' },                        // the closing stop
      { range: range(11, 0, 11, 0), text: 'stop\ndisplay 9\n' },
    ];
    let text = start;
    for (const change of changes) text = applyEdits(text, [{ range: change.range, newText: change.text }]);
    const incremental = await server.change(uri, changes);
    const whole = await server.open('file:///tmp/whole.velm', text);
    assert.deepEqual(sorted(incremental), sorted(whole));
    assert.deepEqual(sorted(await server.change(uri, [{ text }])), sorted(whole));
    assert.ok(['text-counts-as-zero', 'after-stop', 'skipped-word'].every((c) => whole.some((d) => d.code === c)),
      JSON.stringify(whole.map((d) => d.code)));
  });

  await server.stop();
});

test('a client of the full set without hierarchical symbols gets SymbolInformation', { timeout: 180_000 }, async () => {
  const server = startServer({ features: 'all' }, { textDocument: { publishDiagnostics: {} } });
  await server.initialize();
  const uri = 'file:///tmp/flat.velm';
  await server.open(uri, 'store a = 1\ncount i from 1 to 2\n    store b = a\nstop\nstore c = b plus i\n');
  const symbols = await server.request('textDocument/documentSymbol', { textDocument: { uri } });
  assert.deepEqual(symbols.map((s) => [s.name, s.kind, s.location.uri, s.location.range.start.line, s.containerName ?? null])
    .sort((x, y) => x[3] - y[3] || x[0].localeCompare(y[0])), [
    ['a', 13, uri, 0, null], ['count i', 3, uri, 1, null], ['i', 13, uri, 1, 'count i'], ['b', 13, uri, 2, 'count i'],
    ['c', 13, uri, 4, null]]);
  await server.stop();
});

test('any other client gets the old server, byte for byte', { timeout: 180_000 }, async () => {
  const server = startServer({ features: 'some' }, { textDocument: { publishDiagnostics: {} } });
  await server.initialize();
  const body = '{"jsonrpc":"2.0","id":0,"result":{"capabilities":{"textDocumentSync":1,"completionProvider":'
    + '{"resolveProvider":true},"hoverProvider":true,"definitionProvider":true}}}';
  assert.equal(Buffer.byteLength(body), 166);
  const raw = server.raw().toString('latin1');
  assert.equal(raw.slice(raw.indexOf('\r\n\r\n') + 4, raw.indexOf('\r\n\r\n') + 4 + 166), body);
  assert.equal(raw.slice(0, raw.indexOf('\r\n')), 'Content-Length: 166');
  const uri = 'file:///tmp/old.velm';
  assert.deepEqual(await server.open(uri, EXAMPLE), []);  // surprises are not syntax errors
  const broken = await server.open('file:///tmp/old-broken.velm', 'display 1 plus\n');
  assert.deepEqual(broken.map((d) => Object.keys(d).sort()), [['message', 'range', 'severity', 'source']]);
  const items = await server.request('textDocument/completion', at(uri, 7, 0));
  assert.deepEqual(items.map((i) => i.label), ['display', 'store', 'check', 'count', 'start', 'stop']);
  await server.stop();
});
