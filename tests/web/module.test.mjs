// The WebAssembly module under node, through the worker's own code (kryvaneCore, transformBlob):
// the golden files both ways for every cipher and hash pair, the detector's table, the search,
// text encryption, the settings reader and the guard.
//   node --test tests/web/        (scripts/web.sh --test; KRYVANE_WEB_BUILD names the build folder)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, readdirSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import vm from 'node:vm';

const root = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
const data = join(root, 'tests', 'data');
const build = process.env.KRYVANE_WEB_BUILD || join(root, 'build-web');
const KryvaneModule = createRequire(import.meta.url)(join(build, 'kryvane-module.js'));
const context = { KryvaneModule, TextEncoder, Blob };
vm.createContext(context);
vm.runInContext(readFileSync(join(root, 'web', 'worker.js'), 'utf8'), context);
const core = context.kryvaneCore(await KryvaneModule());
const catalogue = core.catalogue();
const cipherAt = (name) => catalogue.ciphers.findIndex((c) => c.name === name);
const hashAt = (name) => catalogue.hashes.findIndex((h) => h.name === name);

// Records of a tests/data vector file: `Name = value` lines, blank lines between records.
function readVec(name) {
  const records = [];
  let current = null;
  readFileSync(join(data, name), 'utf8').split('\n').forEach((raw, i) => {
    const line = raw.trim();
    if (!line) {
      current = null;
      return;
    }
    if (line.startsWith('#') || (line.startsWith('[') && line.endsWith(']'))) return;
    const eq = line.indexOf('=');
    if (!current) records.push((current = { line: i + 1 }));
    current[line.slice(0, eq).trim()] = line.slice(eq + 1).trim();
  });
  return records;
}

// The whole stream through the worker's slice loop.
async function transform(bytes, encrypt, cipher, hash, phrase, slice) {
  const job = core.openJob(encrypt, cipher, hash, phrase);
  assert.ok(job, 'the key was refused');
  const parts = [];
  try {
    const result = await context.transformBlob(core, new Blob([bytes]), job, {
      slice, put: async (d) => parts.push(Buffer.from(d)),
    });
    return { bytes: Buffer.concat(parts), head: result.head };
  } finally {
    core.closeJob(job);
  }
}

test('every class passes its known-answer test', () => {
  assert.deepEqual(Array.from(core.selftest()), []);
  assert.equal(catalogue.ciphers.length, 17);
  assert.equal(catalogue.hashes.length, 10);
});

test('every golden file decrypts to the plaintext and the plaintext encrypts to it', async () => {
  const golden = join(data, 'golden');
  const plain = readFileSync(join(golden, 'plaintext.bin'));
  const phrase = 'Kryvane golden passphrase';
  let pairs = 0;
  for (const c of catalogue.ciphers) {
    for (const h of catalogue.hashes) {
      const file = `${c.name}-${h.name}.bin`;
      const expected = readFileSync(join(golden, file));
      const ci = cipherAt(c.name);
      const hi = hashAt(h.name);
      // One slice of 8192 bytes and a short last one, and all in one slice.
      const enc = await transform(plain, true, ci, hi, phrase, 8192);
      assert.ok(enc.bytes.equals(expected), `${file}: encryption differs`);
      const dec = await transform(expected, false, ci, hi, phrase, 1 << 20);
      assert.ok(dec.bytes.equals(plain), `${file}: decryption differs`);
      pairs++;
    }
  }
  assert.equal(pairs, readdirSync(golden).filter((f) => f.endsWith('.bin')).length - 1);
});

test('a piece that ends inside a call is refused before the end of the stream', () => {
  const job = core.openJob(true, 0, 0, 'x');
  const buffer = core.alloc(8192);
  try {
    assert.throws(() => core.update(job, new Uint8Array(100), false, buffer));
    core.update(job, new Uint8Array(100), true, buffer);
  } finally {
    core.free(buffer, 8192);
    core.closeJob(job);
  }
});

// std::mt19937, which the native detector test fills its buffers with.
function mt19937(seed) {
  const mt = new Uint32Array(624);
  let i = 624;
  mt[0] = seed >>> 0;
  for (let k = 1; k < 624; k++) {
    mt[k] = (Math.imul(1812433253, mt[k - 1] ^ (mt[k - 1] >>> 30)) + k) >>> 0;
  }
  return () => {
    if (i >= 624) {
      for (let k = 0; k < 624; k++) {
        const y = (mt[k] & 0x80000000) | (mt[(k + 1) % 624] & 0x7fffffff);
        mt[k] = mt[(k + 397) % 624] ^ (y >>> 1) ^ (y & 1 ? 0x9908b0df : 0);
      }
      i = 0;
    }
    let y = mt[i++];
    y ^= y >>> 11;
    y ^= (y << 7) & 0x9d2c5680;
    y ^= (y << 15) & 0xefc60000;
    y ^= y >>> 18;
    return y >>> 0;
  };
}

function unescape(s) {
  const out = [];
  for (let i = 0; i < s.length; i++) {
    if (s[i] !== '\\' || i + 1 >= s.length) {
      out.push(...Buffer.from(s[i]));
      continue;
    }
    const c = s[++i];
    if (c === 'n') out.push(10);
    if (c === 'r') out.push(13);
    if (c === 't') out.push(9);
    if (c === '\\') out.push(92);
    if (c === 'x') {
      out.push(parseInt(s.substr(i + 1, 2), 16));
      i += 2;
    }
  }
  return out;
}

// A buffer of tests/data/detector.vec, built as the native test builds it.
function buildDetectorCase(r) {
  let b = r.Hex ? Array.from(Buffer.from(r.Hex.replace(/\s/g, ''), 'hex')) : [];
  if (r.Text !== undefined) {
    let text = unescape(r.Text);
    if (r.Utf16) {
      const units = [...(r.Utf16 === 'le-bom' ? [0xfeff] : [])];
      for (const ch of Buffer.from(text).toString('utf8')) units.push(ch.codePointAt(0));
      text = units.flatMap((u) => (r.Utf16 === 'be' ? [u >> 8, u & 255] : [u & 255, u >> 8]));
    }
    for (let k = 0; k < Number(r.Repeat || 1); k++) b.push(...text);
  }
  if (r.Then) {
    const [kind, size] = r.Then.split(/\s+/);
    const rng = mt19937(r.line);
    if (kind === 'random') while (b.length < size) b.push(rng() & 255);
    else if (kind === 'zeros') while (b.length < size) b.push(0);
    else if (kind === 'structured') {
      for (let i = 0; b.length < size; i++) {
        const record = [i & 255, (i >> 8) & 255, 0, 0, i % 3, 0, 0, 0, (i * 7) & 255, 1, 0, 0, 0,
          0, 0, 0];
        for (const v of record) if (b.length < size) b.push(v);
      }
    } else assert.fail(`line ${r.line}: unknown fill ${kind}`);
  }
  if (r.Put) {
    const space = r.Put.indexOf(' ');
    const at = Number(r.Put.slice(0, space));
    const text = unescape(r.Put.slice(space + 1));
    while (b.length < at + text.length) b.push(0);
    b.splice(at, text.length, ...text);
  }
  return Uint8Array.from(b);
}

test('the detector gives the native verdicts on its table', () => {
  const rng = mt19937(5489);
  for (let k = 1; k < 10000; k++) rng();
  assert.equal(rng(), 4123659995, 'the generator is not std::mt19937');
  const records = readVec('detector.vec');
  assert.ok(records.length > 40);
  for (const r of records) {
    const check = core.checkResult(buildDetectorCase(r));
    assert.equal(check.verdict, r.Verdict, `detector.vec line ${r.line}: ${check.evidence}`);
    assert.equal(check.evidence, r.Evidence, `detector.vec line ${r.line}`);
  }
});

test('the guard flags garbage and short unclear results, not real files or empty ones', () => {
  assert.equal(core.checkResult(new Uint8Array(0)).suspect, false);
  const noise = Uint8Array.from({ length: 4096 }, (_, i) => (Math.imul(i, 2654435761) >>> 13) & 255);
  assert.equal(core.checkResult(noise).suspect, true);
  assert.equal(core.checkResult(noise.subarray(0, 12)).suspect, true);
  const pdf = readFileSync(join(data, 'samples', 'document.pdf'));
  assert.equal(core.checkResult(pdf.subarray(0, 4096)).suspect, false);
});

test('the search names the pair a sample was encrypted with', async () => {
  const samples = ['document.pdf', 'text-utf8.txt', 'image.png', 'archive.zip', 'text-cp1252.txt'];
  const phrase = 'café crème';
  for (let c = 0; c < catalogue.ciphers.length; c++) {
    const h = (c * 3) % catalogue.hashes.length;
    const name = samples[c % samples.length];
    const plain = readFileSync(join(data, 'samples', name));
    const { bytes } = await transform(plain, true, c, h, phrase, 1 << 20);
    const found = core.identify(bytes.subarray(0, 4096), bytes.length, phrase);
    const what = `${name} under ${catalogue.ciphers[c].name}/${catalogue.hashes[h].name}`;
    assert.equal(found.answer, 'clear', what);
    assert.deepEqual([found.ranked[0].cipher, found.ranked[0].hash, found.ranked[0].reading],
      [c, h, 0], what);
  }
  const wrong = await transform(readFileSync(join(data, 'samples', 'document.pdf')), true, 0, 0,
    'right', 1 << 20);
  assert.equal(core.identify(wrong.bytes.subarray(0, 4096), wrong.bytes.length, 'wrong').answer,
    'nothing');
  assert.equal(core.identify(new Uint8Array(0), 0, 'x').answer, 'empty');
  assert.equal(core.identify(new Uint8Array(5), 5, 'x').answer, 'short');
});

test('text encryption gives what kryvane-cli text gives, and decrypts back', () => {
  const records = readVec('text.vec');
  assert.ok(records.length >= 5);
  for (const r of records) {
    const c = cipherAt(r.Cipher);
    const h = hashAt(r.Hash);
    assert.equal(core.text(true, c, h, r.Phrase, r.Text), r.Base64, `text.vec line ${r.line}`);
    const back = core.text(false, c, h, r.Phrase, r.Base64);
    assert.equal(Buffer.from(back).toString('utf8'), r.Text, `text.vec line ${r.line}`);
  }
});

test('a settings file fills the passphrase and the menus', async () => {
  // Written on Windows: Windows-1252, menu texts without their trailing spaces.
  const windows = Buffer.from('[Settings]\r\nPhrase=caf\xe9\r\nCipher=Cast128 - block: 64 bits, ' +
    'key: 128 bits\r\nHash=SHA1 - digest: 160 bits\r\n', 'latin1');
  const s = core.settings(windows, new Uint8Array(0), 0);
  assert.deepEqual([s.ok, s.phrase, s.cipher, s.hash], [true, 'café', 1, 5]);

  // Valid UTF-8, yet written on Windows: "Ã©" there has the bytes of "é" here. The file it
  // belongs to decides which reading keys it, and the page types what Windows showed.
  const plain = readFileSync(join(data, 'samples', 'text-utf8.txt'));
  const { bytes } = await transform(plain, true, 13, 6, '\u00c3\u00a9', 1 << 20);
  const ambiguous = Buffer.from('[Settings]\nPhrase=é\nCipher=Rijndael -block: 128 bits, key: ' +
    '256 bits\nHash=SHA-256  - digest: 256 bits\n', 'utf8');
  // The reader wipes the bytes it is given, as they hold the passphrase.
  const a = core.settings(Buffer.from(ambiguous), bytes.subarray(0, 4096), bytes.length);
  assert.deepEqual([a.ok, a.phrase, a.cipher, a.hash], [true, '\u00c3\u00a9', 13, 6]);
  const b = core.settings(ambiguous, new Uint8Array(0), 0);
  assert.equal(b.phrase, 'é');

  const missing = core.settings(Buffer.from('[Settings]\nPhrase=x\n'), new Uint8Array(0), 0);
  assert.equal(missing.ok, false);
  assert.match(missing.error, /no Cipher entry/);
  const unknown = core.settings(Buffer.from('[Settings]\nPhrase=x\nCipher=Enigma\nHash=MD5 - ' +
    'digest: 128 bits\n'), new Uint8Array(0), 0);
  assert.deepEqual([unknown.ok, unknown.cipher, unknown.hash], [true, -1, 2]);
});
