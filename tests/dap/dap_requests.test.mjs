// The requests velmorine-dap answers, driven with DebugClient (the client
// library debug adapters are tested with) on a script whose name is not ASCII.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { NAME, Session, WAIT, plainRun, scratch, writeScript } from './session.mjs';

const LIMIT = { timeout: WAIT * 6 };

// Lines 3 and 8 hold no statement; the count's body (6, 7) runs once.
const SCRIPT = [
  'store x = 5',
  'display "hi " plus x',
  '',
  'store t = "text"',
  'count i from 1 to 3',
  '    display i',
  '    store x = x plus 1',
  'stop',
  'display x',
  ''].join('\n');

async function session(t) {
  const dir = scratch();
  const s = new Session(dir);
  t.after(async () => {
    await s.close();
    fs.rmSync(dir, { recursive: true, force: true });
  });
  const capabilities = await s.open();
  return { s, dc: s.dc, dir, capabilities };
}

test('initialize, launch, breakpoints, threads, stack, scopes, variables and stepping through a count', LIMIT, async (t) => {
  const { s, dc, dir, capabilities } = await session(t);
  for (const name of ['supportsConfigurationDoneRequest', 'supportsConditionalBreakpoints',
    'supportsHitConditionalBreakpoints', 'supportsLogPoints', 'supportsEvaluateForHovers', 'supportsSetVariable',
    'supportsStepBack', 'supportsDisassembleRequest', 'supportsSteppingGranularity',
    'supportsBreakpointLocationsRequest', 'supportsTerminateRequest']) assert.equal(capabilities[name], true, name);
  assert.deepEqual(capabilities.exceptionBreakpointFilters, []);

  const program = writeScript(dir, SCRIPT);
  const launched = await dc.launchRequest({ program, stopOnEntry: true });
  await s.next('initialized');
  // initialized comes after the launch response: breakpoints need the loaded script.
  const at = (pred) => s.messages.findIndex(pred);
  assert.ok(at((m) => m.type === 'response' && m.request_seq === launched.request_seq)
    < at((m) => m.event === 'initialized'));

  const set = (await dc.setBreakpointsRequest({ source: { path: program }, breakpoints: [{ line: 3 }, { line: 10 }] }))
    .body.breakpoints;
  assert.equal(set.length, 2);
  assert.deepEqual([set[0].verified, set[0].line, set[0].source.path], [true, 4, program]);
  assert.match(set[0].message, /\b4\b/);
  assert.deepEqual([set[1].verified, set[1].line], [false, 10]);
  assert.match(set[1].message, /\b9\b/, 'names the last line with a statement');
  const other = (await dc.setBreakpointsRequest({ source: { path: `${program}.other` }, breakpoints: [{ line: 1 }] }))
    .body.breakpoints;
  assert.equal(other[0].verified, false, 'another file takes no breakpoint');
  // Clearing them leaves a run that stops only where it is told to.
  assert.deepEqual((await dc.setBreakpointsRequest({ source: { path: program }, breakpoints: [] })).body.breakpoints, []);

  const locations = async (line, endLine) => (await dc.customRequest('breakpointLocations',
    { source: { path: program }, line, endLine })).body.breakpoints.map((b) => b.line);
  assert.deepEqual(await locations(1, 9), [1, 2, 4, 5, 6, 7, 9]);
  assert.deepEqual(await locations(3, 3), []);
  assert.deepEqual(await locations(8, 100), [9]);
  assert.deepEqual((await dc.setExceptionBreakpointsRequest({ filters: [] })).body.breakpoints, []);

  await dc.configurationDoneRequest();
  const entry = await s.stopped('entry');
  assert.deepEqual((await dc.threadsRequest()).body.threads, [{ id: 1, name: 'main' }]);
  const trace = (await dc.stackTraceRequest({ threadId: 1 })).body;
  assert.equal(trace.stackFrames.length, 1);
  const { instructionPointerReference, ...place } = entry;
  assert.deepEqual(place, { id: 1, name: 'script', source: { name: NAME, path: program }, line: 1, column: 1 });
  assert.match(instructionPointerReference, /^0x[0-9a-f]+$/);
  const scopes = (await dc.scopesRequest({ frameId: 1 })).body.scopes;
  assert.deepEqual(scopes.map((c) => [c.name, c.variablesReference, c.expensive]),
    [['Names', 1, false], ['Machine', 2, true]]);
  assert.deepEqual(await s.names(), {}, 'nothing stored before the first statement');
  const machine = (await dc.variablesRequest({ variablesReference: 2 })).body.variables;
  assert.equal(machine.find((v) => v.name === 'pc').value, String(parseInt(instructionPointerReference, 16)));

  // Each step stops at the next statement that runs, and shows what ran.
  const step = async (request, line, names, stdout) => {
    await dc[request]({ threadId: 1 });
    const where = await s.stopped('step');
    assert.equal(where.line, line, `${request} stops on line ${line}`);
    assert.deepEqual(await s.names(), names, `the names on line ${line}`);
    assert.equal(s.output(), stdout, `the displays up to line ${line}`);
  };
  const x5 = { x: ['5', 'number'] };
  await step('nextRequest', 2, x5, '');
  await step('nextRequest', 4, x5, 'hi 5\n');
  await step('stepInRequest', 5, { ...x5, t: ['"text"', 'text'] }, 'hi 5\n');
  await step('stepInRequest', 6, { ...x5, t: ['"text"', 'text'], i: ['1', 'number'] }, 'hi 5\n');
  await step('nextRequest', 7, { ...x5, t: ['"text"', 'text'], i: ['1', 'number'] }, 'hi 5\n1\n');
  // Out of the count's body: the first statement after it, the body done.
  await step('stepOutRequest', 9, { x: ['6', 'number'], t: ['"text"', 'text'], i: ['2', 'number'] }, 'hi 5\n1\n');
  await dc.nextRequest({ threadId: 1 });
  assert.deepEqual((await s.next('exited')).body, { exitCode: 0 });
  await s.next('terminated');
  assert.equal(s.output(), plainRun(dir, NAME).stdout.toString());
  assert.equal(s.events('stopped').length, 7, 'no stop after the run ended');
  await assert.rejects(dc.nextRequest({ threadId: 1 }), /ended/);
});

test('the count body is seen once: stepping visits every statement line once, in order', LIMIT, async (t) => {
  const { s, dc, dir } = await session(t);
  const program = writeScript(dir, [
    'count i from 1 to 3',
    '    count j from 10 to 20',
    '        display i plus j',
    '    stop',
    '    display "after j"',
    'stop',
    'count k 1 2',
    'stop',
    'display i plus j plus k',
    ''].join('\n'));
  await s.launch(program, { stopOnEntry: true });
  const lines = [(await s.stopped('entry')).line];
  for (;;) {
    await dc.nextRequest({ threadId: 1 });
    const event = await s.next(['stopped', 'exited']);
    if (event.event === 'exited') break;
    lines.push((await dc.stackTraceRequest({ threadId: 1 })).body.stackFrames[0].line);
  }
  assert.deepEqual(lines, [1, 2, 3, 5, 7, 9]);
  assert.equal(s.output(), plainRun(dir, NAME).stdout.toString());
});

test('stepOut leaves the innermost count, then the outer one, and at the top runs to the end', LIMIT, async (t) => {
  const { s, dc, dir } = await session(t);
  const program = writeScript(dir, [
    'count i from 1 to 3',
    '    count j from 10 to 20',
    '        display "in j"',
    '        display "still in j"',
    '    stop',
    '    display "after j"',
    '    display "still after j"',
    'stop',
    'display "after i"',
    'display "last"',
    ''].join('\n'));
  await s.launch(program, {}, [3]);
  assert.equal((await s.stopped('breakpoint')).line, 3);
  await dc.stepOutRequest({ threadId: 1 });
  assert.equal((await s.stopped('step')).line, 6);
  assert.equal(s.output(), 'in j\nstill in j\n');
  await dc.stepOutRequest({ threadId: 1 });
  assert.equal((await s.stopped('step')).line, 9);
  await dc.stepOutRequest({ threadId: 1 });
  assert.equal((await s.next('exited')).body.exitCode, 0);
  assert.equal(s.output(), plainRun(dir, NAME).stdout.toString());
});

test('breakpoints set before launch, conditions, hit counts and log points', LIMIT, async (t) => {
  const { s, dc, dir } = await session(t);
  const program = writeScript(dir, [
    'store x = 5',
    'store t = "text"',
    'display "a"',
    'display "b"',
    'display "c"',
    'display "d"',
    'display x',
    ''].join('\n'));
  const before = (await dc.setBreakpointsRequest({ source: { path: program }, breakpoints: [
    { line: 1, hitCondition: '1' },  // the first statement, where a run without a stop on entry begins
    { line: 2, condition: 'x plus' },
    { line: 2, hitCondition: 'often' },
    { line: 3, condition: 'x minus 5' },  // 0: no stop
    { line: 4, logMessage: 'x is {x}, t is {t plus 1}' },
    { line: 5, hitCondition: '>= 2' },  // reached once only
    { line: 6, condition: 'x minus 4' },
  ] })).body.breakpoints;
  assert.ok(before.every((b) => b.verified === false), 'nothing is placed before the script is loaded');
  await dc.launchRequest({ program });
  await s.next('initialized');
  // The adapter places them once the script is loaded, and says so per breakpoint.
  const changed = s.events('breakpoint').map((e) => e.body.breakpoint);
  assert.deepEqual(changed.map((b) => [b.id, b.verified, b.line]), before.map((b, i) =>
    [b.id, ![1, 2].includes(i), b.line]));
  assert.match(changed[1].message, /condition/i);
  assert.match(changed[2].message, /often/);
  await dc.configurationDoneRequest();

  assert.equal((await s.stopped('breakpoint')).line, 1);
  await dc.continueRequest({ threadId: 1 });
  assert.equal((await s.stopped('breakpoint')).line, 6);
  assert.equal(s.output(), 'a\nb\nc\n');
  assert.equal(s.output('console'), 'x is 5, t is text1\n');
  await dc.continueRequest({ threadId: 1 });
  assert.equal((await s.next('exited')).body.exitCode, 0);
  assert.equal(s.output(), plainRun(dir, NAME).stdout.toString());
  assert.equal(s.output('console'), 'x is 5, t is text1\n', 'the log point wrote once');
  assert.equal(s.events('stopped').length, 2);
});

test('stepBack and reverseContinue restore what a store overwrote, and nothing is displayed twice', LIMIT, async (t) => {
  const { s, dc, dir } = await session(t);
  const program = writeScript(dir, [
    'store x = 1',
    'display x',
    'store x = 2',
    'display x',
    'display "end"',
    ''].join('\n'));
  await s.launch(program, {}, [2, 5]);
  const go = async (request, reason, line, x) => {
    await dc[request]({ threadId: 1 });
    assert.equal((await s.stopped(reason)).line, line, `${request} to line ${line}`);
    assert.deepEqual(await s.names(), x === undefined ? {} : { x: [x, 'number'] });
  };
  assert.equal((await s.stopped('breakpoint')).line, 2);
  await go('continueRequest', 'breakpoint', 5, '2');
  assert.equal(s.output(), '1\n2\n');
  await go('stepBackRequest', 'step', 4, '2');
  await go('stepBackRequest', 'step', 3, '1');
  await go('reverseContinueRequest', 'breakpoint', 2, '1');
  await go('reverseContinueRequest', 'entry', 1, undefined);
  await assert.rejects(dc.stepBackRequest({ threadId: 1 }), /start/);
  await go('nextRequest', 'breakpoint', 2, '1');  // a step that ends on a breakpoint stops for it
  await go('nextRequest', 'step', 3, '1');
  await go('nextRequest', 'step', 4, '2');
  await go('continueRequest', 'breakpoint', 5, '2');
  assert.equal(s.output(), '1\n2\n', 'going forward again displays nothing a second time');
  await dc.continueRequest({ threadId: 1 });
  assert.equal((await s.next('exited')).body.exitCode, 0);
  assert.equal(s.output(), '1\n2\nend\n');
});

test('evaluate in hover, watch and repl, setVariable, and the edits a run goes on with', LIMIT, async (t) => {
  const { s, dc, dir } = await session(t);
  const program = writeScript(dir, SCRIPT);
  await s.launch(program, {}, [5]);
  assert.equal((await s.stopped('breakpoint')).line, 5);
  const evaluate = (expression, context) => dc.evaluateRequest({ expression, context, frameId: 1 });
  const result = async (expression, context) => {
    const { body } = await evaluate(expression, context);
    return [body.result, body.type];
  };
  assert.deepEqual(await result('x plus 1', 'hover'), ['6', 'number']);
  assert.deepEqual(await result('t plus x', 'watch'), ['"text5"', 'text']);
  assert.deepEqual(await result('i', 'watch'), ['0', 'number'], 'a name not stored yet reads 0');
  await assert.rejects(evaluate('store x = 1', 'watch'), /store/);
  await assert.rejects(evaluate('store x = 1', 'hover'), /store/);
  await assert.rejects(evaluate('x plus', 'watch'), /^Error: Syntax Error: /);
  await assert.rejects(evaluate('nosuch plus 1', 'watch'), /nosuch/);
  await assert.rejects(evaluate('1 2', 'repl'), /one/);
  await assert.rejects(evaluate('   ', 'repl'), /nothing/);
  assert.deepEqual(await s.names(), { x: ['5', 'number'], t: ['"text"', 'text'] }, 'evaluating changed nothing');

  assert.deepEqual(await result('store x = 7', 'repl'), ['7', 'number']);
  const set = (await dc.setVariableRequest({ variablesReference: 1, name: 't', value: '"new" plus x' })).body;
  assert.deepEqual([set.value, set.type], ['"new7"', 'text']);
  assert.deepEqual(await s.names(), { x: ['7', 'number'], t: ['"new7"', 'text'] });
  await assert.rejects(dc.setVariableRequest({ variablesReference: 2, name: 'r0', value: '1' }), /names/i);
  await assert.rejects(dc.setVariableRequest({ variablesReference: 1, name: 'not a name', value: '1' }), /name/);
  await assert.rejects(dc.setVariableRequest({ variablesReference: 1, name: 'x', value: 'x plus' }), /Syntax Error/);
  await assert.rejects(dc.variablesRequest({ variablesReference: 99 }), /99/);

  // Going back undoes the edits; forward again the run takes them up where they were made.
  await dc.stepBackRequest({ threadId: 1 });
  assert.equal((await s.stopped('step')).line, 4);
  assert.deepEqual(await s.names(), { x: ['5', 'number'] });
  await dc.nextRequest({ threadId: 1 });
  assert.equal((await s.stopped('breakpoint')).line, 5);
  assert.deepEqual(await s.names(), { x: ['7', 'number'], t: ['"new7"', 'text'] });
  await dc.continueRequest({ threadId: 1 });
  assert.equal((await s.next('exited')).body.exitCode, 0);
  assert.equal(s.output(), 'hi 5\n1\n8\n');
});

test('disassemble, and stepping by instruction forwards and back', LIMIT, async (t) => {
  const { s, dc, dir } = await session(t);
  const program = writeScript(dir, SCRIPT);
  await s.launch(program, { stopOnEntry: true });
  const entry = await s.stopped('entry');
  const ip = parseInt(entry.instructionPointerReference, 16);
  const listed = (await dc.disassembleRequest({ memoryReference: entry.instructionPointerReference,
    instructionCount: 4 })).body.instructions;
  assert.equal(listed.length, 4);
  assert.deepEqual(listed.map((i) => parseInt(i.address, 16)), [ip, ip + 1, ip + 2, ip + 3]);
  assert.equal(listed[0].line, 1);
  assert.ok(listed.every((i) => i.instruction.trim() !== '' && i.presentationHint === undefined), 'real instructions');
  const register = async (name) =>
    (await dc.variablesRequest({ variablesReference: 2 })).body.variables.find((v) => v.name === name).value;
  assert.ok((await register('instruction')).endsWith(listed[0].instruction), 'the machine shows the next instruction');

  const byInstruction = async (request, want) => {
    await dc[request]({ threadId: 1, granularity: 'instruction' });
    const where = await s.stopped('step');
    assert.equal(parseInt(where.instructionPointerReference, 16), want, `${request} by one instruction`);
    assert.equal(await register('pc'), String(want));
  };
  await byInstruction('nextRequest', ip + 1);
  await byInstruction('stepInRequest', ip + 2);
  await byInstruction('stepBackRequest', ip + 1);

  // Before the first instruction and past the last: placeholders, marked invalid.
  const edges = (await dc.disassembleRequest({ memoryReference: '0x0000', instructionOffset: -2,
    instructionCount: 3 })).body.instructions;
  assert.deepEqual(edges.map((i) => i.presentationHint), ['invalid', 'invalid', undefined]);
  const past = (await dc.disassembleRequest({ memoryReference: '0x100000', instructionCount: 1 })).body.instructions;
  assert.equal(past[0].presentationHint, 'invalid');
  await assert.rejects(dc.disassembleRequest({ memoryReference: 'here', instructionCount: 1 }), /memoryReference/);
  await assert.rejects(dc.disassembleRequest({ memoryReference: '0x0000' }), /instructionCount/);
});

test('noDebug runs to the end without a stop, whatever was asked for', LIMIT, async (t) => {
  const { s, dir } = await session(t);
  const program = writeScript(dir, SCRIPT);
  const { breakpoints } = await s.launch(program, { noDebug: true, stopOnEntry: true }, [2, 5, 9]);
  assert.deepEqual(breakpoints.map((b) => [b.verified, b.line]), [[false, 2], [false, 5], [false, 9]]);
  assert.ok(breakpoints.every((b) => /debugging/.test(b.message)), 'each says why it is not placed');
  assert.deepEqual((await s.next('exited')).body, { exitCode: 0 });
  await s.next('terminated');
  assert.equal(s.events('stopped').length, 0);
  assert.equal(s.output(), plainRun(dir, NAME).stdout.toString());
});

test('requests out of place, unknown requests and launches that cannot be made are refused', LIMIT, async (t) => {
  const { s, dc, dir } = await session(t);
  for (const [command, args] of [['stackTrace', { threadId: 1 }], ['next', { threadId: 1 }],
    ['continue', { threadId: 1 }], ['evaluate', { expression: '1' }], ['variables', { variablesReference: 1 }],
    ['scopes', { frameId: 1 }], ['pause', { threadId: 1 }], ['disassemble', { memoryReference: '0', instructionCount: 1 }],
    ['breakpointLocations', { source: { path: 'x' }, line: 1 }], ['setVariable', { variablesReference: 1, name: 'x', value: '1' }]])
    await assert.rejects(dc.customRequest(command, args), /launch|running/, `${command} before launch`);
  await assert.rejects(dc.customRequest('frobnicate'), /frobnicate/);
  await assert.rejects(dc.attachRequest({}), /attach/);
  await assert.rejects(dc.launchRequest({}), /program/);
  await assert.rejects(dc.launchRequest({ program: '' }), /program/);
  const missing = writeScript(dir, '', 'missing.velm');
  fs.rmSync(missing.replace(/^Z:/, '').replaceAll('\\', '/'));
  const plain = plainRun(dir, missing);
  assert.notEqual(plain.status, 0);
  await assert.rejects(dc.launchRequest({ program: missing }), { message: plain.stderr.toString().replace(/\n$/, '') });
  // Nothing launched yet: a good launch still goes.
  const program = writeScript(dir, SCRIPT);
  await s.launch(program, { stopOnEntry: true });
  await s.stopped('entry');
  await assert.rejects(dc.launchRequest({ program }), /already/);
  await dc.continueRequest({ threadId: 1 });
  await s.next('exited');
  for (const command of ['stackTrace', 'continue', 'stepBack', 'evaluate'])
    await assert.rejects(dc.customRequest(command, { threadId: 1, expression: 'x' }), /ended/, `${command} after the end`);
});
