// Whole runs under velmorine-dap: the golden scripts against plain runs of
// velmorine, a long script paused, disconnected from and terminated, and
// input that is no request at all.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { NAME, Session, WAIT, emulator, frame, plainRun, programPath, scratch, writeScript } from './session.mjs';

const GOLDEN = path.join(path.dirname(fileURLToPath(import.meta.url)), '..', 'golden');
const LONG_WAIT = emulator ? 600_000 : 300_000;  // loading three million statements

async function session(t, dir) {
  const s = new Session(dir);
  t.after(() => s.close());
  await s.open();
  return s;
}

// The golden cases that run one script of their own as `velmorine name`.
function goldenScripts() {
  const read = spawnSync('/usr/bin/python3', ['-c', `
import glob, json, os, sys, tomllib
cases = []
for file in sorted(glob.glob(os.path.join(sys.argv[1], '*.toml'))):
    with open(file, 'rb') as f:
        for case in tomllib.load(f).get('case', []):
            args = case.get('args', [])
            if 'tool' not in case and len(args) == 1 and args[0] in case.get('files', {}) and not case.get('lanes'):
                cases.append({'name': case['name'], 'script': args[0], 'files': case['files']})
json.dump(cases, sys.stdout)
`, GOLDEN], { encoding: 'utf8' });
  assert.equal(read.status, 0, read.stderr);
  return JSON.parse(read.stdout);
}

test('the golden scripts display under the adapter what a plain run displays, and end the same', { timeout: LONG_WAIT * 2 }, async (t) => {
  const cases = goldenScripts();
  assert.ok(cases.length >= 10, `golden scripts found: ${cases.length}`);
  let syntaxErrors = 0;
  for (const c of cases) {
    const dir = scratch();
    try {
      for (const [name, text] of Object.entries(c.files)) {
        fs.mkdirSync(path.dirname(path.join(dir, name)), { recursive: true });
        fs.writeFileSync(path.join(dir, name), text);
      }
      const plain = plainRun(dir, c.script);
      const program = programPath(path.join(dir, c.script));
      const what = `${c.name} (${c.script})`;

      if (plain.status !== 0) {
        // A script that does not build does not run: launch fails with what the run writes on stderr.
        const s = await session(t, dir);
        await assert.rejects(s.dc.launchRequest({ program }),
          { message: plain.stderr.toString().replace(/\n$/, '') }, what);
        if (/^Syntax Error: /.test(plain.stderr.toString())) syntaxErrors++;
        await s.dc.configurationDoneRequest();
        await assert.rejects(s.dc.continueRequest({ threadId: 1 }), /launch/);
        assert.deepEqual(s.events('output').concat(s.events('exited'), s.events('initialized')), [], what);
        await s.close();
        continue;
      }

      const noDebug = await session(t, dir);
      await noDebug.launch(program, { noDebug: true });
      assert.deepEqual((await noDebug.next('exited')).body, { exitCode: plain.status }, what);
      assert.deepEqual(Buffer.from(noDebug.output()), plain.stdout, `${what}: noDebug displays`);
      await noDebug.close();

      // Stopped on the last statement, then to the end.
      const s = await session(t, dir);
      await s.dc.launchRequest({ program });
      await s.next('initialized');
      const lines = (await s.dc.customRequest('breakpointLocations',
        { source: { path: program }, line: 1, endLine: 1 << 30 })).body.breakpoints.map((b) => b.line);
      if (lines.length) {
        const last = lines[lines.length - 1];
        const set = await s.dc.setBreakpointsRequest({ source: { path: program }, breakpoints: [{ line: last }] });
        assert.deepEqual([set.body.breakpoints[0].verified, set.body.breakpoints[0].line], [true, last], what);
        await s.dc.configurationDoneRequest();
        assert.equal((await s.stopped('breakpoint')).line, last, what);
        assert.ok(plain.stdout.toString().startsWith(s.output()), `${what}: what is displayed before the last statement`);
        await s.dc.continueRequest({ threadId: 1 });
      } else {
        await s.dc.configurationDoneRequest();
      }
      assert.deepEqual((await s.next('exited')).body, { exitCode: plain.status }, what);
      assert.deepEqual(Buffer.from(s.output()), plain.stdout, `${what}: displays`);
      assert.equal(s.events('stopped').length, lines.length ? 1 : 0, what);
      await s.close();
    } finally {
      fs.rmSync(dir, { recursive: true, force: true });
    }
  }
  assert.ok(syntaxErrors > 0, 'a golden script with a syntax error was among them');
});

// Three million statements: a run long enough to pause and to leave in
// the middle.  Arithmetic only, so that a stretch of the run between two
// looks at the input stays short.
const STATEMENTS = 3_000_000;
const ADDS = 4;
let longDir;
let longProgram;
before(() => {
  longDir = scratch();
  const fd = fs.openSync(path.join(longDir, NAME), 'w');
  fs.writeSync(fd, 'store n = 0\n');
  const block = `store n = n${' plus 1'.repeat(ADDS)}\n`.repeat(100_000);
  for (let i = 0; i < STATEMENTS / 100_000; i++) fs.writeSync(fd, block);
  fs.writeSync(fd, 'display n\n');
  fs.closeSync(fd);
  longProgram = programPath(path.join(longDir, NAME));
});
after(() => fs.rmSync(longDir, { recursive: true, force: true }));

async function running(t) {
  const s = await session(t, longDir);
  await s.dc.launchRequest({ program: longProgram });
  await s.next('initialized', LONG_WAIT);
  await s.dc.configurationDoneRequest();
  return s;
}

test('pause stops a long run at once, in the middle, and it goes on from there', { timeout: LONG_WAIT * 2 }, async (t) => {
  const s = await running(t);
  const sent = performance.now();
  await s.dc.pauseRequest({ threadId: 1 });
  const answered = performance.now();
  const where = await s.stopped('pause');
  const took = performance.now() - sent;
  t.diagnostic(`pause: answered after ${(answered - sent).toFixed(1)} ms, stopped after ${took.toFixed(1)} ms`);
  if (!emulator) assert.ok(took < 100, `stopped ${took.toFixed(1)} ms after the pause was sent`);
  assert.deepEqual(s.events('exited'), [], 'the run had not ended');
  assert.ok(where.line > 2 && where.line <= STATEMENTS + 1, `stopped on line ${where.line}, in the middle`);
  // Line L is the (L - 1)th addition, not yet run.
  assert.deepEqual(await s.names(), { n: [String(ADDS * (where.line - 2)), 'number'] });
  await s.dc.pauseRequest({ threadId: 1 });  // already standing still: nothing more happens
  await s.dc.continueRequest({ threadId: 1 });
  assert.deepEqual((await s.next('exited', LONG_WAIT)).body, { exitCode: 0 });
  assert.equal(s.events('stopped').length, 1);
  assert.equal(s.output(), `${ADDS * STATEMENTS}\n`);
});

test('a disconnect in the middle of a run ends the adapter; a terminate ends the run', { timeout: LONG_WAIT * 3 }, async (t) => {
  const s = await running(t);
  const sent = performance.now();
  await s.dc.disconnectRequest({});
  const how = await Promise.race([s.exited, new Promise((r) => setTimeout(r, WAIT, 'still running'))]);
  assert.deepEqual(how, { code: 0, signal: null }, 'the adapter exited by itself');
  t.diagnostic(`exited ${(performance.now() - sent).toFixed(1)} ms after the disconnect`);
  assert.deepEqual(s.events('exited'), []);

  const u = await running(t);
  await u.dc.terminateRequest({});
  await u.next('terminated');
  const shown = u.output();
  await assert.rejects(u.dc.continueRequest({ threadId: 1 }), /ended/);
  await new Promise((r) => setTimeout(r, emulator ? 1000 : 200));
  assert.equal(u.output(), shown, 'nothing runs after terminate');
  assert.equal(u.output(), '');
  await u.dc.disconnectRequest({});
  assert.deepEqual(await u.exited, { code: 0, signal: null });
});

test('input that is no request is answered or passed over, and the adapter goes on serving', { timeout: WAIT * 4 }, async (t) => {
  const dir = scratch();
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const s = await session(t, dir);
  const important = () => s.events('output').filter((e) => e.body.category === 'important').length;
  s.raw('garbage with no header at all\r\n\r\n');
  s.raw('Content-Type: text/plain\r\n\r\n');
  s.raw(frame('{"type": "request", "seq": 900, "command": "threads",'));  // cut short
  s.raw(frame('[{"type": "request", "seq": 901, "command": "threads"}]'));
  s.raw(frame('"a string"'));
  s.raw(frame(`${'['.repeat(100)}${']'.repeat(100)}`));
  const notUtf8 = Buffer.from('{"type": "request", "seq": 902, "command": "th\xff"}', 'latin1');
  s.raw(Buffer.concat([Buffer.from(`Content-Length: ${notUtf8.length}\r\n\r\n`), notUtf8]));
  // A length shorter than the content: the rest is passed over up to the next header.
  s.raw('Content-Length: 10\r\n\r\n{"type": "request", "seq": 903, "command": "threads"}');
  s.raw(frame('{"type": "request", "seq": 904}'));
  s.raw(frame('{"type": "request", "seq": "905", "command": "threads"}'));
  s.raw(frame('{"type": "request", "seq": 906, "command": 7}'));
  s.raw(frame('{"type": "request", "seq": 907, "command": "launch", "arguments": {"program": 5}}'));
  s.raw(frame('{"type": "request", "seq": 908, "command": "launch", "arguments": []}'));
  s.raw(frame('{"type": "request", "seq": 909, "command": "setBreakpoints", "arguments": {"source": {"path": "x"}, "breakpoints": [{"line": "one"}]}}'));
  s.raw(frame('{"type": "request", "seq": 910, "command": "breakpointLocations", "arguments": {"line": 1, "endLine": "two"}}'));
  s.raw(frame('{"type": "response", "request_seq": 1, "seq": 911, "success": true, "command": "runInTerminal"}'));
  s.raw(frame('{"type": "event", "seq": 912, "event": "output"}'));

  for (const seq of [904, 906, 907, 908, 909, 910]) {
    const response = await s.responseTo(seq);
    assert.equal(response.success, false, `request ${seq} is refused`);
    assert.equal(typeof response.message, 'string');
    assert.ok(response.message.length > 0);
  }
  // The reply to a seq that is not a number cannot name it.
  assert.equal((await s.responseTo(0)).success, false);
  assert.equal((await s.dc.threadsRequest()).body.threads.length, 1, 'still serving');
  for (const seq of [900, 901, 902, 903, 911, 912])
    assert.equal(s.messages.find((m) => m.request_seq === seq), undefined, `nothing answers ${seq}`);
  assert.equal(important(), 6, 'each message that is not a JSON object is reported');

  // A launch after all of it works as on a fresh adapter.
  const program = writeScript(dir, 'display "still here"\n');
  await s.launch(program);
  assert.equal((await s.next('exited')).body.exitCode, 0);
  assert.equal(s.output(), 'still here\n');
  await s.dc.disconnectRequest({});
  assert.deepEqual(await s.exited, { code: 0, signal: null });
});
