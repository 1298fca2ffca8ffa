// velmorine in JavaScript, in a browser or in Node.js: the real pipeline,
// compiled to WebAssembly.
//
//   import { loadVelmorine } from './velmorine.mjs';
//   const velmorine = await loadVelmorine();          // the .wasm files beside this module
//   const result = await velmorine.run('display 1 plus 2\n');
//   // { stdout: Uint8Array, stderr: Uint8Array, exitCode: 0, text: '3\n' }
//   velmorine.analyse('count i from 1 to 3\n    display i\nstop\n');
//   // [{ from, to, line, column, severity, code, message }, ...]
//   const session = velmorine.debug('store x = 1\nstore x = 2\n');
//   session.state;            // { line, column, names: [{ name, value, type }], output, ended, ... }
//   session.step(); session.back();
//
// run() goes through the driver itself (velmorine.wasm, the command
// `velmorine script.velm`), so it gives the bytes and exit code that a run
// gives; onOutput(kind, bytes) sees them as they are written.  analyse() and
// debug() use the language server's analysis and the debugger's engine
// (velmorine-playground.wasm).  WASI comes from @bjorn3/browser_wasi_shim in
// both places.
import { ConsoleStdout, File, OpenFile, PreopenDirectory, WASI, WASIProcExit } from '@bjorn3/browser_wasi_shim';

const encoder = new TextEncoder();
const decoder = new TextDecoder();

export const SCRIPT_NAME = 'script.velm';

async function compileFrom(source) {
  if (source instanceof WebAssembly.Module) return source;
  if (source instanceof ArrayBuffer || ArrayBuffer.isView(source)) return WebAssembly.compile(source);
  const url = source instanceof URL ? source : new URL(source, import.meta.url);
  if (url.protocol === 'file:') {
    const { readFile } = await import('node:fs/promises');
    return WebAssembly.compile(await readFile(url));
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`cannot fetch ${url}: ${response.status}`);
  return WebAssembly.compileStreaming ? WebAssembly.compileStreaming(response) : WebAssembly.compile(await response.arrayBuffer());
}

function join(chunks) {
  const size = chunks.reduce((n, c) => n + c.length, 0);
  const out = new Uint8Array(size);
  let at = 0;
  for (const c of chunks) {
    out.set(c, at);
    at += c.length;
  }
  return out;
}

// Runs the driver module on `bytes` as ./script.velm: what `velmorine
// script.velm` writes and its exit code.
export function runModule(module, bytes, onOutput = () => {}) {
  const stdout = [];
  const stderr = [];
  const fds = [
    new OpenFile(new File(new Uint8Array())),
    new ConsoleStdout((chunk) => {
      const copy = chunk.slice();
      stdout.push(copy);
      onOutput('stdout', copy);
    }),
    new ConsoleStdout((chunk) => {
      const copy = chunk.slice();
      stderr.push(copy);
      onOutput('stderr', copy);
    }),
    new PreopenDirectory('.', new Map([[SCRIPT_NAME, new File(bytes)]])),
  ];
  const wasi = new WASI(['velmorine', SCRIPT_NAME], [], fds, { debug: false });
  const instance = new WebAssembly.Instance(module, { wasi_snapshot_preview1: wasi.wasiImport });
  let exitCode;
  try {
    exitCode = wasi.start(instance);
  } catch (error) {
    if (!(error instanceof WASIProcExit)) throw error;
    exitCode = error.code;
  }
  const out = join(stdout);
  return { stdout: out, stderr: join(stderr), exitCode, text: decoder.decode(out) };
}

// The playground module: text in, JSON answers out.
class Playground {
  constructor(module) {
    this.wasi = new WASI([], [], [
      new OpenFile(new File(new Uint8Array())),
      new ConsoleStdout(() => {}),
      new ConsoleStdout(() => {}),
    ]);
    this.instance = new WebAssembly.Instance(module, { wasi_snapshot_preview1: this.wasi.wasiImport });
    this.wasi.initialize(this.instance);
    this.exports = this.instance.exports;
  }

  text(pointer) {
    const memory = new Uint8Array(this.exports.memory.buffer);
    let end = pointer;
    while (memory[end] !== 0) end++;
    return decoder.decode(memory.subarray(pointer, end));
  }

  // Calls `name` with `source` as a NUL-terminated UTF-8 string, parses the answer.
  call(name, source) {
    const bytes = typeof source === 'string' ? encoder.encode(source) : source;
    const pointer = this.exports.pg_alloc(bytes.length);
    if (!pointer) throw new Error('out of memory');
    const memory = new Uint8Array(this.exports.memory.buffer);
    memory.set(bytes, pointer);
    memory[pointer + bytes.length] = 0;
    try {
      return JSON.parse(this.text(this.exports[name](pointer)));
    } finally {
      this.exports.pg_free(pointer);
    }
  }
}

const MOTIONS = { step: 0, back: 1, continue: 2, stepOut: 3, instruction: 4, instructionBack: 5 };

class DebugSession {
  constructor(playground, source) {
    this.playground = playground;
    this.state = playground.call('pg_debug_load', source);
    this.error = this.state.error || null;
    this.output = this.state.output || '';
  }

  move(motion) {
    if (this.error) return this.state;
    const next = JSON.parse(this.playground.text(this.playground.exports.pg_debug_move(MOTIONS[motion])));
    this.output += next.output || '';
    this.state = next;
    return next;
  }

  step() { return this.move('step'); }
  back() { return this.move('back'); }
  continue() { return this.move('continue'); }
  stepOut() { return this.move('stepOut'); }
}

export async function loadVelmorine({ driver = './velmorine.wasm', playground = './velmorine-playground.wasm' } = {}) {
  const [driverModule, playgroundModule] = await Promise.all([compileFrom(driver), compileFrom(playground)]);
  let tools = null;
  const helpers = () => (tools ??= new Playground(playgroundModule));
  return {
    driverModule,
    // `source`: a string (sent as UTF-8) or the script's bytes.
    async run(source, { onOutput } = {}) {
      const bytes = typeof source === 'string' ? encoder.encode(source) : source;
      return runModule(driverModule, bytes, onOutput);
    },
    // Places as the page's editor counts them: `from` and `to` in UTF-16
    // units from the start, `line` and `column` from 1.
    analyse(source) {
      const text = typeof source === 'string' ? source : decoder.decode(source);
      const starts = [0];
      for (const m of text.matchAll(/\r\n|\r|\n/g)) starts.push(m.index + m[0].length);
      return helpers().call('pg_analyse', source).map((f) => ({
        from: starts[f.line] + f.character,
        to: starts[f.endLine] + f.endCharacter,
        line: f.line + 1,
        column: f.character + 1,
        severity: f.severity,
        code: f.code,
        message: f.message,
      }));
    },
    keywords() {
      return JSON.parse(helpers().text(helpers().exports.pg_keywords()));
    },
    debug(source) {
      return new DebugSession(helpers(), source);
    },
  };
}
