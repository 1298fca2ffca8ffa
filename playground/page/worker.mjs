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
  // Output is gathered for a few milliseconds before it is sent: a message a
  // line would swamp the page with 100,000 displays.
  let pending = [];
  let last = performance.now();
  const flush = () => {
    if (pending.length) self.postMessage({ type: 'output', chunks: pending });
    pending = [];
    last = performance.now();
  };
  const result = runModule(driver, data.bytes, (kind, bytes) => {
    pending.push({ kind, bytes });
    if (performance.now() - last > 16) flush();
  });
  flush();
  self.postMessage({ type: 'exit', exitCode: result.exitCode });
};
