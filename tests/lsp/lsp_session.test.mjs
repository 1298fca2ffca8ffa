// Drives `velmorine lsp` with vscode-jsonrpc, the JSON-RPC library editors'
// language clients are built on: a whole session as an editor runs it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import rpc from 'vscode-jsonrpc/node';

const exe = process.env.VELM_EXE;
const emulator = process.env.VELM_EMULATOR || '';
const windows = process.env.VELM_LANE === 'windows';

const STARTUP = '[VLLSP] Pure C Language Server v3.0 Started over stdio.\n';
const KEYWORDS = [
  ['display', 'Print to console'],
  ['store', 'Declare variable'],
  ['check', 'If condition'],
  ['count', 'Count loop'],
  ['start', 'Program entry'],
  ['stop', 'Program exit'],
];

function startServer() {
  assert.ok(exe, 'VELM_EXE names the executable under test');
  const [cmd, args] = emulator ? [emulator, [exe, 'lsp']] : [exe, ['lsp']];
  const child = spawn(cmd, args, { stdio: ['pipe', 'pipe', 'pipe'] });
  let stderr = '';
  child.stderr.setEncoding('latin1');
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  const exited = new Promise((resolve, reject) => {
    child.on('error', reject);
    child.on('close', (code, signal) => resolve({ code, signal }));
  });

  const logged = [];
  const logger = {
    error: (m) => logged.push(`error: ${m}`),
    warn: (m) => logged.push(`warn: ${m}`),
    info: () => {},
    log: () => {},
  };
  const connection = rpc.createMessageConnection(
    new rpc.StreamMessageReader(child.stdout),
    new rpc.StreamMessageWriter(child.stdin),
    logger,
  );
  connection.onError(([error]) => logged.push(`connection error: ${error?.message ?? error}`));
  // Diagnostics are the only notifications the server sends.
  const published = [];
  let wake = () => {};
  connection.onNotification('textDocument/publishDiagnostics', (params) => { published.push(params); wake(); });
  connection.onUnhandledNotification((n) => logged.push(`unexpected notification: ${n.method}`));
  const nextDiagnostics = () => (published.length
    ? Promise.resolve(published.shift())
    : new Promise((resolve) => { wake = () => { wake = () => {}; resolve(published.shift()); }; }));
  // An answer that matches no pending request (one to a notification, or a
  // second one) is only traced by the library, so watch the trace for it.
  connection.trace(rpc.Trace.Messages, {
    log: (m) => { if (/without active response promise/.test(m)) logged.push(m); },
  });
  connection.listen();
  return { connection, exited, logged, nextDiagnostics, stderr: () => stderr };
}

test('an editor session from initialize to exit', { timeout: 180_000 }, async () => {
  const server = startServer();
  const { connection } = server;
  const uri = 'file:///tmp/hello.velm';

  // The library numbers its requests from 0; an answer with any other id
  // would leave this promise pending until the timeout.
  const init = await connection.sendRequest('initialize', {
    processId: process.pid, rootUri: null, capabilities: { textDocument: { publishDiagnostics: {} } },
  });
  assert.deepEqual(init, {
    capabilities: {
      textDocumentSync: 1,
      completionProvider: { resolveProvider: true },
      hoverProvider: true,
      definitionProvider: true,
    },
  });

  await connection.sendNotification('initialized', {});
  await connection.sendNotification('textDocument/didOpen', {
    textDocument: { uri, languageId: 'velmorine', version: 1, text: 'start\ndisplay "hi"\nstop\n' },
  });
  assert.deepEqual(await server.nextDiagnostics(), { uri, version: 1, diagnostics: [] });

  const position = { textDocument: { uri }, position: { line: 1, character: 3 } };
  const items = await connection.sendRequest('textDocument/completion', position);
  assert.deepEqual(items.map((i) => [i.label, i.detail]), KEYWORDS);
  assert.ok(items.every((i) => i.kind === 14), 'every item is a keyword');

  const item = { label: 'display', kind: 14, detail: 'Print to console', data: { n: 1, s: 'é' } };
  assert.deepEqual(await connection.sendRequest('completionItem/resolve', item), item);

  // Requests in flight together must each get their own answer.
  const [hover, definition, again] = await Promise.all([
    connection.sendRequest('textDocument/hover', position),
    connection.sendRequest('textDocument/definition', position),
    connection.sendRequest('textDocument/completion', position),
  ]);
  assert.match(hover.contents.value, /^\*\*display\*\* — /);
  assert.equal(hover.contents.kind, 'markdown');
  assert.equal(definition, null);
  assert.equal(again.length, 6);

  // A broken line gets its diagnostic; the fix clears it.
  const broken = 'store total = 2 plus\ncount i from 1 to 3\ndisplay total\nstop\n';
  await connection.sendNotification('textDocument/didChange', {
    textDocument: { uri, version: 2 }, contentChanges: [{ text: broken }],
  });
  assert.deepEqual(await server.nextDiagnostics(), {
    uri, version: 2, diagnostics: [{
      range: { start: { line: 0, character: 20 }, end: { line: 0, character: 20 } },
      severity: 1, source: 'velmorine', message: 'Unexpected token in expression: EOF at line 1',
    }],
  });
  const on = (line, character) => ({ textDocument: { uri }, position: { line, character } });
  const [countHover, totalHover, totalDefinition] = await Promise.all([
    connection.sendRequest('textDocument/hover', on(1, 2)),
    connection.sendRequest('textDocument/hover', on(2, 10)),
    connection.sendRequest('textDocument/definition', on(2, 10)),
  ]);
  assert.match(countHover.contents.value, /runs its body \*\*once\*\*/);
  assert.equal(totalHover.contents.value, '**total** is first stored on line 1.');
  assert.deepEqual(totalDefinition, {
    uri, range: { start: { line: 0, character: 6 }, end: { line: 0, character: 11 } },
  });
  await connection.sendNotification('textDocument/didChange', {
    textDocument: { uri, version: 3 }, contentChanges: [{ text: broken.replace('plus', 'plus 1') }],
  });
  assert.deepEqual(await server.nextDiagnostics(), { uri, version: 3, diagnostics: [] });

  await assert.rejects(connection.sendRequest('velmorine/unknown', {}), (error) => {
    assert.ok(error instanceof rpc.ResponseError);
    assert.equal(error.code, rpc.ErrorCodes.MethodNotFound);
    return true;
  });

  assert.equal(await connection.sendRequest('shutdown'), null);
  await connection.sendNotification('exit');
  const { code, signal } = await server.exited;
  connection.dispose();
  assert.equal(signal, null);
  assert.equal(code, 0);
  assert.deepEqual(server.logged, []);
  // Standard error stays in text mode on Windows, so its line feed arrives as CR LF.
  assert.equal(server.stderr(), windows ? STARTUP.replace('\n', '\r\n') : STARTUP);
});
