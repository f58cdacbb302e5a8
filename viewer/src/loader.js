// Loads scenes through the loading worker (worker.js, started from a Blob URL): one load at a
// time, a newer one cancels the older. The worker prepares the scene, then stays to triangulate
// the geometries the view asks for (`request`), when it first asks for them.
import WORKER_SOURCE from 'tarnwick:worker';

export class SceneLoader {
  // handlers: {progress(stage, done, total), scene(scene), caps(message), idle(timings),
  // failed(error)}, each called for the current load only.
  constructor(handlers) {
    this.handlers = handlers;
    this.load = null;
    this.token = 0;
    // The first worker starts now, while the page is still being read, so that it is ready when
    // the scene text is.
    this.spare = spawn();
  }

  // Starts loading `content` (JSON text or the parsed message); returns the load's record
  // {token, worker, ...extra}.
  start(content, extra) {
    this.cancel();
    const token = ++this.token;
    const worker = this.spare || spawn();
    this.spare = null;
    const load = { token, worker, ...extra };
    this.load = load;
    worker.onmessage = (event) => this.fromWorker(token, event.data);
    worker.onerror = (event) => {
      event.preventDefault();
      this.fail(token, new Error(event.message || 'the loading worker failed'));
    };
    worker.postMessage({ type: 'load', content });
    performance.mark('tw:scene sent to the worker');
    return load;
  }

  // Ends the current load, if any; returns its record.
  cancel() {
    const load = this.load;
    this.load = null;
    if (load && !load.failed) load.worker.terminate();
    return load;
  }

  // Asks the worker to triangulate these geometries next.
  request(geometries) {
    if (this.load && !this.load.failed) this.load.worker.postMessage({ type: 'priority', geometries });
  }

  fail(token, error) {
    const load = this.load;
    if (!load || load.token !== token || load.failed) return;
    load.failed = true;
    load.worker.terminate();
    this.handlers.failed(error, load);
  }

  fromWorker(token, message) {
    const load = this.load;
    if (!load || load.token !== token) return;
    try {
      if (message.type === 'progress') {
        this.handlers.progress(message.stage, message.done, message.total, load);
      } else if (message.type === 'scene') {
        performance.mark('tw:scene prepared');
        this.handlers.scene(message.scene, load);
        performance.mark('tw:scene set up');
      } else if (message.type === 'caps') {
        this.handlers.caps(message, load);
      } else if (message.type === 'idle') {
        this.handlers.idle(message.timings, load);
      } else if (message.type === 'error') {
        this.fail(token, new Error(message.message));
      }
    } catch (error) {
      this.fail(token, error);
    }
  }
}

function spawn() {
  const url = URL.createObjectURL(new Blob([WORKER_SOURCE], { type: 'text/javascript' }));
  const worker = new Worker(url);
  URL.revokeObjectURL(url);
  return worker;
}
