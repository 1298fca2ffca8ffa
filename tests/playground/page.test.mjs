// The page in Debian's Chromium, headless, through puppeteer-core: type and
// run a script, read its output and exit code, see a syntax error and a
// surprise marked, open a share link (and a broken one), step forward and
// back, stop a long run, and 100,000 displays; the documented scripts and
// random programs give the native build's output and exit code through Run.
// Saves a screenshot under build/playground/.  Environment: VELM_SITE (the
// built site), VELM_CHROMIUM, VELM_EXE (native velmorine), VELM_PROGRAMS
// (generated programs).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { documentedScripts } from './scripts.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const site = process.env.VELM_SITE || path.join(root, 'build/playground/site');
const { default: puppeteer } = await import(path.join(root, 'playground/node_modules/puppeteer-core/lib/esm/puppeteer/puppeteer-core.js'));

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm', '.json': 'application/json' };
let server, browser, base;
const foreign = [];  // requests to any host but the page's own

before(async () => {
  server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/$/, '/index.html');
    const file = path.join(site, path.normalize(name));
    if (!file.startsWith(site) || !fs.existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
    fs.createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  base = `http://127.0.0.1:${server.address().port}/`;
  browser = await puppeteer.launch({
    executablePath: process.env.VELM_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu'],
  });
});

after(async () => {
  await browser?.close();
  server?.close();
});

async function open(hash = '') {
  const page = await browser.newPage();
  await page.setRequestInterception(true);
  page.on('request', (request) => {
    if (!request.url().startsWith(base) && !request.url().startsWith('data:')) foreign.push(request.url());
    request.continue();
  });
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.errors = errors;
  await page.goto(base + hash);
  await page.waitForSelector('body[data-ready="true"]', { timeout: 20000 });
  return page;
}

const setScript = (page, text) => page.evaluate((t) => window.velmorinePlayground.setScript(t), text);
const exitCode = (page) => page.$eval('#output', (e) => e.dataset.exitCode ?? null);
async function runAndWait(page, timeout = 20000) {
  await page.click('#run');
  await page.waitForSelector('#output[data-exit-code]', { timeout });
  return page.$eval('#output', (e) => [e.textContent, e.dataset.exitCode]);
}

test('typing, running, the marks of errors and surprises, and stepping', async () => {
  const page = await open();
  await page.click('.cm-content');
  await page.keyboard.down('Control');
  await page.keyboard.press('a');
  await page.keyboard.up('Control');
  await page.keyboard.type('store x = 2\ndisplay x plus 3\n');
  await page.keyboard.down('Control');
  await page.keyboard.press('Enter');
  await page.keyboard.up('Control');
  await page.waitForSelector('#output[data-exit-code]');
  assert.deepEqual(await page.$eval('#output', (e) => [e.textContent, e.dataset.exitCode]), ['5\n', '0']);

  await setScript(page, 'count i from 1 to 3\n    display i\nstop\nstore = 5\n');
  await page.waitForSelector('.cm-lintRange-error', { timeout: 10000 });
  await page.waitForSelector('.cm-lintRange-info', { timeout: 10000 });
  const [text, code] = await runAndWait(page);
  assert.equal(code, '1');
  assert.match(text, /^Syntax Error: /);

  await setScript(page, 'store x = 1\nstore x = "two"\ndisplay x\n');
  await page.click('#step');
  await page.click('#step');
  await page.click('#step');
  assert.match(await page.$eval('#names', (e) => e.innerText), /x\s+"two"\s+text/);
  assert.equal(await page.$eval('.cm-here', (e) => e.textContent), 'display x');
  await page.click('#back');
  assert.match(await page.$eval('#names', (e) => e.innerText), /x\s+1\s+number/);
  fs.mkdirSync(path.join(root, 'build/playground'), { recursive: true });
  await page.screenshot({ path: path.join(root, 'build/playground/screenshot.png'), fullPage: true });
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('share links open the script; a broken one says so and the page works', async () => {
  const script = 'display "grüße"\n';
  const code = Buffer.from(script).toString('base64url');
  const page = await open(`#code=${code}`);
  assert.equal(await page.evaluate(() => window.velmorinePlayground.getScript()), script);
  assert.deepEqual(await runAndWait(page), ['grüße\n', '0']);
  await page.click('#share');
  assert.equal(new URL(page.url()).hash, `#code=${code}`);
  await page.close();

  for (const hash of ['#code=@@not-base64', `#code=${Buffer.from([0xff, 0xfe]).toString('base64url')}`]) {
    const broken = await open(hash);
    assert.match(await broken.$eval('#message', (e) => e.textContent), /base64url|UTF-8/);
    assert.equal((await runAndWait(broken))[1], '0');
    await broken.close();
  }
});

test('a long run stops at once, 100,000 displays arrive, bad input gets a message', async () => {
  const page = await open();
  await setScript(page, 'display "line"\n'.repeat(100000));
  const started = Date.now();
  const [text, code] = await runAndWait(page, 30000);
  const seconds = (Date.now() - started) / 1000;
  assert.equal(code, '0');
  assert.equal(text.length, 'line\n'.length * 100000);
  console.log(`100,000 displays in ${seconds.toFixed(2)} s`);

  await setScript(page, 'display "line"\n'.repeat(600000));
  await page.click('#run');
  await page.waitForFunction(() => document.getElementById('status').textContent === 'running');
  await page.click('#stop');
  assert.equal(await page.$eval('#status', (e) => e.textContent), 'stopped');
  assert.equal(await exitCode(page), null);
  await setScript(page, 'display 7\n');
  assert.deepEqual(await runAndWait(page), ['7\n', '0'], 'a run after a stop');

  await setScript(page, 'display 1\n\0display 2\n');
  await page.click('#run');
  assert.match(await page.$eval('#message', (e) => e.textContent), /NUL/);
  await setScript(page, 'x'.repeat(17 << 20));
  await page.click('#run');
  assert.match(await page.$eval('#message', (e) => e.textContent), /larger than/);
  assert.deepEqual(page.errors, []);
  assert.deepEqual(foreign, [], 'nothing from another host');
  await page.close();
});

test('documented scripts and random programs give the native output and exit code through Run', async () => {
  const programs = process.env.VELM_PROGRAMS;
  assert.ok(programs && process.env.VELM_EXE, 'VELM_PROGRAMS and VELM_EXE name the programs and the native build');
  const files = fs.readdirSync(programs).filter((n) => n.endsWith('.velm')).sort();
  assert.ok(files.length >= 100, `${files.length} generated programs`);
  // What an editor can hold: UTF-8 text, no NUL (refused), no carriage
  // return (the editor's lines end in line feeds).
  const fits = (bytes) => {
    try {
      new TextDecoder('utf-8', { fatal: true }).decode(bytes);
    } catch {
      return false;
    }
    return !bytes.includes(0) && !bytes.includes(13);
  };
  const documented = documentedScripts(root).filter(([, bytes]) => fits(bytes));
  const random = files.map((file) => [file, fs.readFileSync(path.join(programs, file))]);
  const scripts = [...documented, ...random];
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'velm-page-'));
  const decode = (bytes) => new TextDecoder().decode(bytes);
  const want = scripts.map(([, bytes]) => {
    fs.writeFileSync(path.join(scratch, 'script.velm'), bytes);
    const run = spawnSync(process.env.VELM_EXE, ['script.velm'], { cwd: scratch });
    return { stdout: decode(run.stdout), stderr: decode(run.stderr), exitCode: String(run.status) };
  });
  const page = await open();
  // Inside the page, one script after another: set it, press Run, wait for
  // the exit code, read the pane's pieces back by the stream they came from.
  const got = await page.evaluate(async (sources) => {
    const output = document.getElementById('output');
    const results = [];
    for (const source of sources) {
      window.velmorinePlayground.setScript(source);
      const ended = new Promise((resolve) => {
        new MutationObserver((_, observer) => {
          if (!output.hasAttribute('data-exit-code')) return;
          observer.disconnect();
          resolve();
        }).observe(output, { attributes: true, attributeFilter: ['data-exit-code'] });
      });
      document.getElementById('run').click();
      await ended;
      const of = (kind) => [...output.children].filter((e) => e.dataset.kind === kind).map((e) => e.textContent).join('');
      results.push({ stdout: of('stdout'), stderr: of('stderr'), exitCode: output.dataset.exitCode });
    }
    return results;
  }, scripts.map(([, bytes]) => decode(bytes)));
  const differing = scripts.filter((_, i) => JSON.stringify(got[i]) !== JSON.stringify(want[i])).map(([name]) => name);
  const same = (list) => list.filter(([name]) => !differing.includes(name)).length;
  console.log(`the native output and exit code on ${same(documented)} of ${documented.length} documented scripts ` +
    `and ${same(random)} of ${random.length} random programs`);
  assert.deepEqual(differing, []);
  assert.deepEqual(page.errors, []);
  await page.close();
});
