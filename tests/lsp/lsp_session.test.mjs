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
  // The server sends no notifications of its own.
  connection.onUnhandledNotification((n) => logged.push(`unexpected notification: ${n.method}`));
  // An answer that matches no pending request (one to a notification, or a
  // second one) is only traced by the library, so watch the trace for it.
  connection.trace(rpc.Trace.Messages, {
    log: (m) => { if (/without active response promise/.test(m)) logged.push(m); },
  });
  connection.listen();
  return { connection, exited, logged, stderr: () => stderr };
}

test('an editor session from initialize to shutdown', { timeout: 180_000 }, async () => {
  const server = startServer();
  const { connection } = server;
  const uri = 'file:///tmp/hello.velm';

  // The library numbers its requests from 0; an answer with any other id
  // would leave this promise pending until the timeout.
  const init = await connection.sendRequest('initialize', {
    processId: process.pid, rootUri: null, capabilities: {},
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
  assert.equal(hover, null);
  assert.equal(definition, null);
  assert.equal(again.length, 6);

  await assert.rejects(connection.sendRequest('velmorine/unknown', {}), (error) => {
    assert.ok(error instanceof rpc.ResponseError);
    assert.equal(error.code, rpc.ErrorCodes.MethodNotFound);
    return true;
  });

  assert.equal(await connection.sendRequest('shutdown'), null);
  const { code, signal } = await server.exited;
  connection.dispose();
  assert.equal(signal, null);
  assert.equal(code, 0);
  assert.deepEqual(server.logged, []);
  // Standard error stays in text mode on Windows, so its line feed arrives as CR LF.
  assert.equal(server.stderr(), windows ? STARTUP.replace('\n', '\r\n') : STARTUP);
});
