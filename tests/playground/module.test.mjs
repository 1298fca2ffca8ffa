// The playground's JavaScript module in Node.js against the native build:
// a run gives the bytes and exit code of `velmorine script.velm` on the
// examples, the guide's and the README's scripts, the golden scripts and
// random programs; the analysis marks errors and surprises where they are;
// stepping goes forward and back.
// Environment: VELM_EXE (native velmorine), VELM_SITE (the built site),
// VELM_PROGRAMS (a folder of generated programs).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { documentedScripts } from './scripts.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const site = process.env.VELM_SITE || path.join(root, 'build/playground/site');
const exe = process.env.VELM_EXE;
const { loadVelmorine } = await import(pathToFileURL(path.join(root, 'playground/velmorine.mjs')));
const velmorine = await loadVelmorine({
  driver: pathToFileURL(path.join(site, 'velmorine.wasm')),
  playground: pathToFileURL(path.join(site, 'velmorine-playground.wasm')),
});

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'velm-playground-'));
function native(bytes) {
  fs.writeFileSync(path.join(scratch, 'script.velm'), bytes);
  const run = spawnSync(exe, ['script.velm'], { cwd: scratch });
  return { stdout: run.stdout, stderr: run.stderr, exitCode: run.status };
}

async function same(bytes, what) {
  const want = native(bytes);
  const got = await velmorine.run(bytes);
  assert.equal(got.exitCode, want.exitCode, `${what}: exit code`);
  assert.deepEqual(Buffer.from(got.stdout), want.stdout, `${what}: standard output`);
  assert.deepEqual(Buffer.from(got.stderr), want.stderr, `${what}: standard error`);
}

test('runs give the native bytes and exit codes', async () => {
  assert.ok(exe, 'VELM_EXE names the native velmorine');
  const scripts = documentedScripts(root);
  // Bad input: a NUL byte inside, bytes that are not UTF-8, no final line feed.
  scripts.push(['NUL', Buffer.from('display 1\n\0display 2\n')]);
  scripts.push(['not UTF-8', Buffer.from([0x64, 0x69, 0x73, 0x70, 0x6c, 0x61, 0x79, 0x20, 0x22, 0xff, 0xc3, 0x22, 0x0a])]);
  scripts.push(['syntax error', Buffer.from('store = 5')]);
  assert.ok(scripts.length > 40, `${scripts.length} scripts`);
  for (const [name, bytes] of scripts) await same(bytes, name);

  const programs = process.env.VELM_PROGRAMS;
  assert.ok(programs, 'VELM_PROGRAMS names the generated programs');
  const files = fs.readdirSync(programs).filter((n) => n.endsWith('.velm'));
  assert.ok(files.length >= 100, `${files.length} generated programs`);
  for (const file of files) await same(fs.readFileSync(path.join(programs, file)), file);
  console.log(`same bytes on ${scripts.length} scripts and ${files.length} random programs`);
});

test('the analysis marks syntax errors and surprises at their places', () => {
  const findings = velmorine.analyse('display "é"\ncount i from 1 to 3\n    display i\nstop\ndisplay total\nstore = 5\n');
  const at = (code) => findings.find((f) => f.code === code);
  assert.deepEqual(
    [at('count-runs-once')?.line, at('count-runs-once')?.column, at('count-runs-once')?.severity],
    [2, 1, 'info']);
  // Offsets are in UTF-16 units, as the page's editor counts them: "é" is one.
  assert.equal(at('reads-zero')?.from, 'display "é"\ncount i from 1 to 3\n    display i\nstop\ndisplay '.length);
  assert.equal(at('syntax-error')?.severity, 'error');
  assert.equal(at('syntax-error')?.line, 6);
  assert.deepEqual(velmorine.analyse('display 1\n'), []);
  assert.ok(velmorine.keywords().some((k) => k.word === 'count' && /once/.test(k.meaning)));
});

test('stepping goes forward and back with the names as they were', () => {
  const session = velmorine.debug('store x = 1\ndisplay x\nstore x = "two"\ndisplay x\n');
  assert.equal(session.state.line, 1);
  session.step();
  session.step();
  session.step();
  assert.equal(session.state.line, 4);
  assert.deepEqual(session.state.names, [{ name: 'x', value: '"two"', type: 'text' }]);
  session.back();
  assert.equal(session.state.line, 3);
  assert.deepEqual(session.state.names, [{ name: 'x', value: '1', type: 'number' }]);
  session.continue();
  assert.equal(session.state.ended, true);
  assert.equal(session.output, '1\ntwo\n', 'each display once, going back and forward again');
  assert.match(velmorine.debug('store = 5\n').error, /^Syntax Error: /);
});
