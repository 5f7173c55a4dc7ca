// The page's worker: every use of the WebAssembly module runs here, so the page answers its user
// while a file is encrypted or searched. The page builds this worker from its own text (the
// module before this script), so nothing is fetched. kryvaneCore is also what the module's tests
// under node drive.
'use strict';

// Plain calls into the module; bytes and text cross through buffers that are wiped when freed.
function kryvaneCore(M) {
  const utf8 = new TextEncoder();
  const answer = (ptr) => JSON.parse(M.UTF8ToString(ptr));
  // Runs fn(pointer, size) on a copy of bytes in the module's memory. The copy is wiped after;
  // so are the bytes when wipe is set (a passphrase's UTF-8).
  const withBytes = (bytes, fn, wipe = false) => {
    const p = M._kv_alloc(bytes.length);
    try {
      M.HEAPU8.set(bytes, p);
      return fn(p, bytes.length);
    } finally {
      M._kv_free(p, bytes.length);
      if (wipe) bytes.fill(0);
    }
  };
  const withPhrase = (phrase, fn) => withBytes(utf8.encode(phrase), fn, true);

  return {
    chunk: 8192,
    catalogue: () => answer(M._kv_catalogue()),
    // The names of the classes whose known-answer test failed.
    selftest: () => answer(M._kv_selftest()),
    // A keyed job, or 0 when the pair refuses the key.
    openJob: (encrypt, cipher, hash, phrase) =>
      withPhrase(phrase, (p, n) => M._kv_job_open(encrypt ? 1 : 0, cipher, hash, p, n)),
    // Transforms data (a Uint8Array) in place as the next piece of the job's stream. Every piece
    // but the last must be a whole number of 8192-byte calls.
    update(job, data, last, buffer) {
      M.HEAPU8.set(data, buffer);
      if (!M._kv_job_update(job, buffer, data.length, last ? 1 : 0)) {
        throw new Error('a piece of the stream that is not a whole number of calls');
      }
      data.set(M.HEAPU8.subarray(buffer, buffer + data.length));
    },
    closeJob: (job) => M._kv_job_close(job),
    alloc: (size) => M._kv_alloc(size),
    free: (p, size) => M._kv_free(p, size),
    // The guard's verdict on the start of a decryption's result.
    checkResult: (head) => withBytes(head, (p, n) => answer(M._kv_check_result(p, n))),
    identify: (head, fileSize, phrase) =>
      withPhrase(phrase, (pp, pn) =>
        withBytes(head, (hp, hn) => answer(M._kv_identify(hp, hn, fileSize, pp, pn)))),
    // encrypt: text (a string) to Base64; decrypt: Base64 to bytes. null when the key is refused.
    text(encrypt, cipher, hash, phrase, text) {
      const r = withPhrase(phrase, (pp, pn) =>
        withBytes(utf8.encode(text), (tp, tn) =>
          answer(M._kv_text(encrypt ? 1 : 0, cipher, hash, pp, pn, tp, tn))));
      if (!r.ok) return null;
      if (encrypt) return r.text;
      const bytes = new Uint8Array(r.hex.length / 2);
      for (let i = 0; i < bytes.length; i++) bytes[i] = parseInt(r.hex.substr(2 * i, 2), 16);
      return bytes;
    },
    settings: (bytes, head, fileSize) =>
      withBytes(bytes, (sp, sn) =>
        withBytes(head, (hp, hn) => answer(M._kv_settings(sp, sn, hp, hn, fileSize))), true),
  };
}

// Reads blob (a File) in slices, transforms each through a keyed job and hands it to put(data,
// done). The first 4 KiB of the result are returned for the guard. Stops with 'cancelled' when
// cancelled() says so between slices.
async function transformBlob(core, blob, job, options) {
  const { slice = 1 << 20, put, cancelled = () => false, pause } = options;
  if (slice % core.chunk !== 0) throw new Error('the slice must be a whole number of calls');
  const total = blob.size;
  const buffer = core.alloc(slice);
  const head = new Uint8Array(Math.min(total, 4096));
  // The next slice is read while this one is transformed.
  const read = (from) => {
    const to = Math.min(total, from + slice);
    return blob.slice(from, to).arrayBuffer().then((b) => {
      if (b.byteLength !== to - from) throw new Error('the file changed while it was read');
      return new Uint8Array(b);
    });
  };
  let next = read(0);
  try {
    let done = 0;
    do {
      if (cancelled()) return { cancelled: true };
      if (pause) await pause();
      const data = await next;
      const end = done + data.length;
      next = end < total ? read(end) : null;
      core.update(job, data, end === total, buffer);
      if (done < head.length) head.set(data.subarray(0, head.length - done), done);
      done = end;
      await put(data, done, total);
    } while (done < total);
    return { cancelled: false, head };
  } finally {
    core.free(buffer, slice);
    if (next) next.catch(() => {});  // a read started for a job that ended is not an error
  }
}

if (typeof WorkerGlobalScope !== 'undefined' && self instanceof WorkerGlobalScope) {
  // The module's loader would fetch the WebAssembly from its own data: address first, which the
  // page's policy refuses (it then decodes it itself). Without fetch it goes straight there, and
  // the worker has no way to send anything at all.
  self.fetch = undefined;
  let core = null;
  const ready = KryvaneModule().then((M) => {
    core = kryvaneCore(M);
    self.postMessage({ type: 'ready', catalogue: core.catalogue(), failed: core.selftest() });
  });
  // The page acknowledges every slice once it has written it; a job keeps at most this many
  // unwritten, so the tab's memory stays flat whatever the file's size.
  const kInFlight = 4;
  let running = null;  // { id, cancel, unwritten, wake }

  const fail = (id, cause) => self.postMessage({ type: 'failed', id, cause });

  async function runJob(m) {
    const job = core.openJob(m.encrypt, m.cipher, m.hash, m.phrase);
    if (!job) return fail(m.id, 'the key was refused');
    const state = { id: m.id, cancel: false, unwritten: 0, wake: null };
    running = state;
    try {
      const result = await transformBlob(core, m.file, job, {
        slice: m.slice,
        cancelled: () => state.cancel,
        pause: async () => {
          while (state.unwritten >= kInFlight && !state.cancel) {
            await new Promise((resolve) => { state.wake = resolve; });
          }
          // A test hook (the page passes it only when asked): slower slices, so that a small
          // file shows what a long job looks like.
          if (m.delay) await new Promise((resolve) => setTimeout(resolve, m.delay));
        },
        put: (data, done, total) => {
          state.unwritten++;
          self.postMessage({ type: 'slice', id: m.id, data, done, total }, [data.buffer]);
        },
      });
      if (result.cancelled) {
        self.postMessage({ type: 'cancelled', id: m.id });
        return;
      }
      const check = m.encrypt ? null : core.checkResult(result.head);
      result.head.fill(0);
      self.postMessage({ type: 'done', id: m.id, check });
    } catch (e) {
      fail(m.id, `${m.file.name}: read: ${e.message}`);
    } finally {
      core.closeJob(job);
      running = null;
    }
  }

  async function head(file) {
    return new Uint8Array(await file.slice(0, 4096).arrayBuffer());
  }

  self.onmessage = async (event) => {
    const m = event.data;
    await ready;
    try {
      switch (m.type) {
        case 'job':
          await runJob(m);
          break;
        case 'ack':
        case 'cancel':
          if (running && running.id === m.id) {
            if (m.type === 'ack') running.unwritten--;
            else running.cancel = true;
            if (running.wake) running.wake();
          }
          break;
        case 'identify': {
          const h = await head(m.file);
          self.postMessage({ type: 'identified', id: m.id,
                             found: core.identify(h, m.file.size, m.phrase) });
          h.fill(0);
          break;
        }
        case 'text':
          self.postMessage({ type: 'text', id: m.id,
                             result: core.text(m.encrypt, m.cipher, m.hash, m.phrase, m.text) });
          break;
        case 'settings': {
          const bytes = new Uint8Array(await m.settings.arrayBuffer());
          const h = m.source ? await head(m.source) : new Uint8Array(0);
          self.postMessage({ type: 'settings', id: m.id,
                             settings: core.settings(bytes, h, m.source ? m.source.size : 0) });
          break;
        }
      }
    } catch (e) {
      fail(m.id, e.message);
    }
  };
}
