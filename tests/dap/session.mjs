// What the adapter's tests share: a DebugClient on velmorine-dap (natively
// through env, which execs it, so that the process the client watches is the
// adapter itself; in the Windows lane through the emulator), every message it
// receives kept in order, and plain runs of velmorine to compare with.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { DebugClient } from '@vscode/debugadapter-testsupport';

export const adapter = process.env.VELM_DAP;
export const exe = process.env.VELM_EXE;
export const emulator = process.env.VELM_EMULATOR || '';
export const windows = process.env.VELM_LANE === 'windows';
export const WAIT = emulator ? 90_000 : 15_000;  // for one event; wine starts slowly
export const NAME = 'prüfung-δ.velm';  // a script name that is not ASCII, in both lanes

const WINE_SAID = /^(wine client error|wine: |wineserver: |Application could not be started)/m;

export function scratch() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'velm-dap-'));
}

// A script path as an editor on the adapter's system sends it: wine maps
// the Linux root to drive Z.
export function programPath(file) {
  return windows ? `Z:${file.replaceAll('/', '\\')}` : file;
}

export function writeScript(dir, text, name = NAME) {
  const file = path.join(dir, name);
  fs.writeFileSync(file, text);
  return programPath(file);
}

// `velmorine name` in `dir`, as a user runs it; stdout as raw bytes, line
// feeds as the program wrote them (the Windows console adds a CR to each).
export function plainRun(dir, name) {
  const [cmd, argv] = emulator ? [emulator, [exe, name]] : [exe, [name]];
  let done;
  for (let attempt = 0; attempt < 2; attempt++) {
    done = spawnSync(cmd, argv, { cwd: dir, timeout: 300_000, maxBuffer: 1 << 30 });
    const stderr = done.stderr.toString('latin1');
    if (!emulator || !(WINE_SAID.test(stderr) || (done.status === 1 && !done.stdout.length && !stderr))) break;
  }
  assert.equal(done.error, undefined, `velmorine ${name} ran`);
  const text = (b) => (windows ? Buffer.from(b.toString('latin1').replace(/\r\n/g, '\n'), 'latin1') : b);
  return { status: done.status, stdout: text(done.stdout), stderr: text(done.stderr) };
}

export class Session {
  constructor(cwd) {
    assert.ok(adapter && exe, 'VELM_DAP and VELM_EXE name the executables under test');
    this.cwd = cwd;
    this.messages = [];
    this.taken = new Set();  // events handed out by next()
    this.waiters = [];
    this.stderr = '';
  }

  async open() {
    for (let attempt = 0; ; attempt++) {
      const dc = new DebugClient(emulator || '/usr/bin/env', adapter, 'velmorine', { cwd: this.cwd });
      const dispatch = dc.dispatch.bind(dc);
      dc.dispatch = (body) => {
        this.messages.push(JSON.parse(body));
        for (const wake of this.waiters.splice(0)) wake();
        dispatch(body);
      };
      await dc.start();
      const child = dc._adapterProcess;  // the library keeps the process to itself
      child.stderr.on('data', (d) => { this.stderr += d.toString('latin1'); });
      child.stdin.on('error', () => {});  // writes after the adapter has gone; exited says so
      this.dc = dc;
      this.child = child;
      this.gone = false;
      this.exited = new Promise((resolve) => child.on('exit', (code, signal) => {
        if (this.child === child) this.gone = true;
        resolve({ code, signal });
      }));
      const answer = dc.initializeRequest({ adapterID: 'velmorine', linesStartAt1: true, columnsStartAt1: true,
        pathFormat: 'path' });
      const early = this.exited.then((how) => { throw new Error(`the adapter exited at once: ${JSON.stringify(how)}`); });
      try {
        return (await Promise.race([answer, early, timeout(WAIT, 'initialize')])).body;
      } catch (error) {
        child.kill();
        if (!emulator || attempt > 0 || !WINE_SAID.test(this.stderr)) throw error;
        this.messages = [];
        this.taken.clear();
        this.stderr = '';
      }
    }
  }

  // The next event named `name` (or any of several names) that no earlier
  // next() handed out, waiting for it.
  async next(name, ms = WAIT) {
    const names = [name].flat();
    const deadline = Date.now() + ms;
    for (;;) {
      const i = this.messages.findIndex((m, k) => m.type === 'event' && names.includes(m.event) && !this.taken.has(k));
      if (i >= 0) {
        this.taken.add(i);
        return this.messages[i];
      }
      const left = deadline - Date.now();
      if (left <= 0) throw new Error(`no '${name}' event within ${ms} ms; stderr: ${this.stderr}`);
      await new Promise((resolve) => {
        const t = setTimeout(resolve, left);
        this.waiters.push(() => { clearTimeout(t); resolve(); });
      });
    }
  }

  events(name) {
    return this.messages.filter((m) => m.type === 'event' && m.event === name);
  }

  output(category = 'stdout') {
    return this.events('output').filter((e) => e.body.category === category).map((e) => e.body.output).join('');
  }

  // Waits for the next stop and says where it is.
  async stopped(reason) {
    const event = await this.next('stopped');
    assert.equal(event.body.reason, reason, `stopped for ${reason}`);
    assert.equal(event.body.threadId, 1);
    const trace = await this.dc.stackTraceRequest({ threadId: 1 });
    return trace.body.stackFrames[0];
  }

  async names() {
    const { body } = await this.dc.variablesRequest({ variablesReference: 1 });
    return Object.fromEntries(body.variables.map((v) => [v.name, [v.value, v.type]]));
  }

  // initialize is done; launch, breakpoints (lines), configurationDone.
  async launch(program, options = {}, lines = []) {
    const response = await this.dc.launchRequest({ program, ...options });
    await this.next('initialized');
    let breakpoints = [];
    if (lines.length) {
      breakpoints = (await this.dc.setBreakpointsRequest({
        source: { path: program }, breakpoints: lines.map((l) => (typeof l === 'number' ? { line: l } : l)),
      })).body.breakpoints;
    }
    await this.dc.configurationDoneRequest();
    return { response, breakpoints };
  }

  // Bytes as they are, past the client's framing.
  raw(bytes) {
    this.child.stdin.write(bytes);
  }

  // The response to the raw request numbered `seq`.
  async responseTo(seq, ms = WAIT) {
    const deadline = Date.now() + ms;
    for (;;) {
      const found = this.messages.find((m) => m.type === 'response' && m.request_seq === seq);
      if (found) return found;
      if (Date.now() > deadline) throw new Error(`no response to request ${seq}; stderr: ${this.stderr}`);
      await new Promise((resolve) => setTimeout(resolve, 5));
    }
  }

  async close() {
    if (!this.dc || this.gone) return;
    await Promise.race([this.dc.stop(), timeout(WAIT, 'disconnect').catch(() => {})]);
    this.child.kill();
    await this.exited;
  }
}

export function frame(text) {
  return `Content-Length: ${Buffer.byteLength(text)}\r\n\r\n${text}`;
}

export function timeout(ms, what) {
  return new Promise((_, reject) => setTimeout(() => reject(new Error(`${what}: nothing within ${ms} ms`)), ms).unref());
}
