#!/usr/bin/env node
// The playground's size and speed, in Debian's Chromium (headless):
//   - the built folder, gzipped;
//   - from opening the page to the end of a first run;
//   - arith (bench/compare's workload) at N statements, run in the page's
//     worker, against the native build on the same script;
//   - 100,000 displays, from Run to the exit code in the output pane.
// Targets: under 400 KB, ready within 1 s, arith within 3 x native,
// 100,000 displays within 3 s.  A benchmark, not a test.
//   node bench/playground.mjs [native velmorine] [N]     (after scripts/playground --build)
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import zlib from 'node:zlib';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const site = process.env.VELM_SITE || path.join(root, 'build/playground/site');
const exe = process.argv[2] || path.join(root, 'build/playground/native/velmorine');
const size = Number(process.argv[3] || 100000);
const { default: puppeteer } = await import(path.join(root, 'playground/node_modules/puppeteer-core/lib/esm/puppeteer/puppeteer-core.js'));
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

// The arith script, from bench/compare's generator and seed.
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'velm-pg-bench-'));
const arith = path.join(work, 'arith.velm');
execFileSync('/usr/bin/python3', ['-c', `
import importlib.machinery, importlib.util, random, sys
loader = importlib.machinery.SourceFileLoader('compare', '${root}/bench/compare')
found = importlib.util.spec_from_loader('compare', loader); compare = importlib.util.module_from_spec(found); loader.exec_module(compare)
prog = compare.gen_arith(${size}, random.Random("arith-%d" % ${size}))
open(sys.argv[1], 'w').write("\\n".join(prog.velm) + "\\n")`, arith]);
const script = fs.readFileSync(arith, 'utf8');

const tarred = execFileSync('tar', ['-C', site, '-cf', '-', '.']);
const gzipped = zlib.gzipSync(tarred, { level: 9 }).length;

// Native runs are taken between the page's, so that both see the same machine.
const nativeTimes = [];
const timeNative = () => {
  for (let i = 0; i < 3; i++) {
    const t = process.hrtime.bigint();
    spawnSync(exe, [arith], { stdio: ['ignore', 'ignore', 'inherit'] });
    nativeTimes.push(Number(process.hrtime.bigint() - t) / 1e6);
  }
};

const server = http.createServer((req, res) => {
  const name = new URL(req.url, 'http://x').pathname.replace(/^\/$/, '/index.html');
  const file = path.join(site, path.normalize(name));
  if (!file.startsWith(site) || !fs.existsSync(file)) return res.writeHead(404).end();
  const types = { '.js': 'text/javascript', '.wasm': 'application/wasm', '.html': 'text/html', '.css': 'text/css', '.json': 'application/json' };
  res.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
  fs.createReadStream(file).pipe(res);
});
await new Promise((r) => server.listen(0, '127.0.0.1', r));
const base = `http://127.0.0.1:${server.address().port}/`;
const browser = await puppeteer.launch({ executablePath: '/usr/bin/chromium', headless: true, args: ['--no-sandbox'] });

const ready = [], browserArith = [], displays = [];
for (let i = 0; i < 5; i++) {
  const page = await browser.newPage();
  const t = Date.now();
  await page.goto(base);
  await page.waitForSelector('body[data-ready="true"]');
  await page.click('#run');
  await page.waitForSelector('#output[data-exit-code]');
  ready.push(Date.now() - t);
  // From the click on Run, as the page sees it, to the exit code in the
  // output pane: the time the driver's round trip adds is not the page's.
  const timeRun = async (text) => {
    await page.evaluate((s) => window.velmorinePlayground.setScript(s), text);
    const ended = page.evaluate(() => new Promise((resolve) => {
      const output = document.getElementById('output');
      let clicked = 0;
      document.getElementById('run').addEventListener('click', () => { clicked = performance.now(); }, { capture: true, once: true });
      new MutationObserver((_, observer) => {
        if (!output.hasAttribute('data-exit-code')) return;
        observer.disconnect();
        resolve(performance.now() - clicked);
      }).observe(output, { attributes: true, attributeFilter: ['data-exit-code'] });
    }));
    await page.click('#run');
    return Math.round(await ended);
  };
  timeNative();
  browserArith.push(await timeRun(script));
  displays.push(await timeRun('display "line"\n'.repeat(100000)));
  await page.close();
}
await browser.close();
server.close();

const rows = [
  ['the site, gzipped', `${(gzipped / 1024).toFixed(0)} KB`, 'under 400 KB'],
  ['opening the page to the end of a first run', `${median(ready)} ms`, 'within 1 s'],
  [`arith at ${size.toLocaleString('en')} statements, native`, `${median(nativeTimes).toFixed(0)} ms`, ''],
  [`arith at ${size.toLocaleString('en')} statements, in the page`, `${median(browserArith)} ms (${(median(browserArith) / median(nativeTimes)).toFixed(2)} x native)`, 'within 3 x'],
  ['100,000 displays, Run to exit code', `${median(displays)} ms`, 'within 3 s'],
];
console.log('| measure | median | target |\n|---|---:|---|');
for (const r of rows) console.log(`| ${r.join(' | ')} |`);
