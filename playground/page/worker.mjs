// Runs a script in the driver's WebAssembly module, off the page's thread:
// the output goes back as it is written, and the page ends a run at once by
// ending the worker.
import { runModule } from '../velmorine.mjs';

let driver = null;

self.onmessage = async ({ data }) => {
  if (data.type === 'load') {
    driver = await WebAssembly.compile(data.bytes);
    self.postMessage({ type: 'ready' });
    return;
  }
  if (data.type !== 'run' || !driver) return;
  const began = performance.now();
  // Output is gathered for a tenth of a second before it is sent: the page
  // lays the pane out again for every piece, and 100,000 displays one at a
  // time would keep it from doing anything else.
  let pending = [];
  let last = performance.now();
  const flush = () => {
    if (pending.length) self.postMessage({ type: 'output', chunks: pending });
    pending = [];
    last = performance.now();
  };
  const result = runModule(driver, data.bytes, (kind, bytes) => {
    pending.push({ kind, bytes });
    if (performance.now() - last > 100) flush();
  });
  flush();
  self.postMessage({ type: 'exit', exitCode: result.exitCode, milliseconds: performance.now() - began });
};
