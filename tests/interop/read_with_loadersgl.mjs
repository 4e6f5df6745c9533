// Interoperability check: Tessvane's outputs as read by @loaders.gl/las, a LAS
// reader this project did not write.
//
//   node tests/interop/read_with_loadersgl.mjs --modules NPM_PREFIX \
//        --tessvane build/Tessvane --mklas build/mklas
//
// NPM_PREFIX is a folder where `npm install @loaders.gl/core @loaders.gl/las`
// was run. The real sample files are taken from LAS_SAMPLE_DIR when it is set;
// synthetic files made by mklas are always checked.
//
// Every input is moved with each motion of the table below, then read with
// the reader, input and output alike. For each run:
//   - the point count (the header's, and the number of points read);
//   - every coordinate against the moved input coordinate, computed here from
//     the input's coordinates as the reader gives them, to within half a
//     scale unit;
//   - intensity, classification and colour (all 16 bits) as the reader gives
//     them, equal to the input's;
//   - the attributes the reader does not give (return bits, scan angle, user
//     data, point source, GPS time): the record bytes after the coordinates,
//     equal to the input's;
//   - the header box as the reader gives it against the extremes of the
//     coordinates it read (X/Y after a rotation), or the input's box moved by
//     the translation;
//   - the header and the variable-length records: every byte before the first
//     record equal to the input's, apart from the box.
// An input the reader cannot read is reported as SKIP with the reader's error.
// Exits 1 on any disagreement.
import { createRequire } from 'node:module';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join, resolve } from 'node:path';
import { parseArgs } from 'node:util';

const { values: args } = parseArgs({
  options: {
    modules: { type: 'string' },
    tessvane: { type: 'string' },
    mklas: { type: 'string' },
  },
});
for (const name of ['modules', 'tessvane', 'mklas']) {
  if (!args[name]) {
    console.error(`usage: node read_with_loadersgl.mjs --modules NPM_PREFIX --tessvane TESSVANE --mklas MKLAS`);
    process.exit(2);
  }
}

const requireFromModules = createRequire(join(resolve(args.modules), 'package.json'));
const { parse } = requireFromModules('@loaders.gl/core');
const { LASLoader } = requireFromModules('@loaders.gl/las');
const READER = `@loaders.gl/las ${readJson(requireFromModules.resolve('@loaders.gl/las'), '@loaders.gl/las').version}`;

// Inputs: the real samples, one of each version / point format pair the tool
// accepts and two larger ones, and synthetic files of the project's generator.
const SAMPLES = [
  'v1.0_0.las', 'v1.0_1.las', 'v1.1_0.las', 'v1.1_1.las',
  'v1.2_0.las', 'v1.2_1.las', 'v1.2_2.las', 'v1.2_3.las',
  'simple.las', 'test_utm17.las', '1.2-with-color.las',
];
const SYNTHETIC = [
  // records, format, version minor, gap bytes, seed
  { records: 5000, format: 3, minor: 2, gap: 0, seed: 11 },
  { records: 3000, format: 1, minor: 0, gap: 2, seed: 5 },
  { records: 2000, format: 2, minor: 2, gap: 64, seed: 9 },
  { records: 1500, format: 0, minor: 1, gap: 0, seed: 3 },
];
// Motions: translations and angle as typed on the command line. The rotation
// centre is off the middle of the input's box by CENTRE_OFF, rounded to the
// centimetre, so that even a one-point file turns.
const MOTIONS = [
  { name: 'rotated 33.3 degrees and translated', angle: '33.3', shift: ['12.34', '-56.78', '1.5'] },
  { name: 'rotated -120 degrees', angle: '-120', shift: ['0', '0', '0'] },
  { name: 'translated only', angle: '0', shift: ['1000.25', '-2000.5', '-3.75'] },
];

const CENTRE_OFF = [137.13, -71.9];

const HEADER_BOX_OFFSET = 179; // MaxX, MinX, MaxY, MinY, MaxZ, MinZ: 48 bytes
const HEADER_BOX_END = 227;
const DEGREES = 0.01745329252; // the tool's own factor

let passed = 0;
let failed = 0;
let skipped = 0;

function readJson(entry, pkg) {
  // The package's package.json, found above its entry point.
  let dir = entry;
  for (;;) {
    const up = resolve(dir, '..');
    if (up === dir) throw new Error(`no package.json above ${entry}`);
    dir = up;
    const candidate = join(dir, 'package.json');
    if (existsSync(candidate)) {
      const json = JSON.parse(readFileSync(candidate, 'utf8'));
      if (json.name === pkg) return json;
    }
  }
}

function arrayBufferOf(path) {
  const bytes = readFileSync(path);
  return bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength);
}

// What the reader makes of a file: its header, coordinates, intensity,
// classification and 16-bit colours. The reader returns colours as 8-bit
// values: with colorDepth 8 the low byte of each stored value, with 16 the
// high byte; two reads give all 16 bits.
async function readWithLoader(path) {
  const buffer = arrayBufferOf(path);
  const low = await parse(buffer, LASLoader, { worker: false, las: { fp64: true, colorDepth: 8 } });
  const high = await parse(arrayBufferOf(path), LASLoader, { worker: false, las: { fp64: true, colorDepth: 16 } });
  const header = low.loaderData;
  const count = low.header.vertexCount;
  let colours = null;
  if (low.attributes.COLOR_0) {
    const lo = low.attributes.COLOR_0.value;
    const hi = high.attributes.COLOR_0.value;
    colours = new Uint16Array(count * 3);
    for (let i = 0; i < count; i++) {
      for (let c = 0; c < 3; c++) colours[i * 3 + c] = hi[i * 4 + c] * 256 + lo[i * 4 + c];
    }
  }
  return {
    header,
    count,
    positions: low.attributes.POSITION.value,
    intensity: low.attributes.intensity.value,
    classification: low.attributes.classification.value,
    colours,
    bytes: new Uint8Array(buffer),
  };
}

function describeFile(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  return {
    version: `${bytes[24]}.${bytes[25]}`,
    format: bytes[104],
    headerSize: view.getUint16(94, true),
    vlrCount: view.getUint32(100, true),
  };
}

// The variable-length records between header and first record: user ids and
// record ids, as a check that they are there and whole.
function listVlrs(bytes, headerSize, vlrCount, pointsOffset) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const found = [];
  let at = headerSize;
  for (let i = 0; i < vlrCount; i++) {
    if (at + 54 > pointsOffset) return { found, whole: false };
    const userId = Buffer.from(bytes.subarray(at + 2, at + 18)).toString('latin1').replace(/\0.*$/s, '');
    const recordId = view.getUint16(at + 18, true);
    const length = view.getUint16(at + 20, true);
    found.push(`${userId}/${recordId}`);
    at += 54 + length;
  }
  return { found, whole: at <= pointsOffset };
}

// The attribute at a byte of a point record of a format.
function fieldAt(format, at) {
  const common = ['X', 'X', 'X', 'X', 'Y', 'Y', 'Y', 'Y', 'Z', 'Z', 'Z', 'Z', 'intensity', 'intensity',
    'return bits', 'classification', 'scan angle', 'user data', 'point source', 'point source'];
  if (at < common.length) return common[at];
  const gps = format === 1 || format === 3;
  if (gps && at < 28) return 'GPS time';
  const colour = at - (gps ? 28 : 20);
  return ['red', 'red', 'green', 'green', 'blue', 'blue'][colour] ?? 'extra bytes';
}

function fixed(value) {
  return (Math.round(value * 100) / 100).toFixed(2);
}

function expectedPoint(x, y, z, motion, centre) {
  const theta = Number(motion.angle) * DEGREES;
  const [tx, ty, tz] = motion.shift.map(Number);
  const [cx, cy] = centre.map(Number);
  const dx = x - cx;
  const dy = y - cy;
  return [
    ((dx * Math.cos(theta) + cx) + dy * Math.sin(theta)) + tx,
    ((dx * Math.sin(-theta) + cy) + dy * Math.cos(theta)) + ty,
    z + tz,
  ];
}

async function checkRun(label, inputPath, motion, work) {
  let input;
  try {
    input = await readWithLoader(inputPath);
  } catch (error) {
    const bytes = new Uint8Array(readFileSync(inputPath));
    const d = describeFile(bytes);
    console.log(`SKIP: ${READER} cannot read LAS ${d.version} format ${d.format} (${label}): ${error.message}`);
    skipped++;
    return;
  }
  const h = input.header;
  const centre = [0, 1].map((axis) => fixed((h.mins[axis] + h.maxs[axis]) / 2 + CENTRE_OFF[axis]));
  const outputPath = join(work, `${basename(inputPath, '.las')}-moved.las`);
  rmSync(outputPath, { force: true });
  const argv = [inputPath, outputPath, ...motion.shift, motion.angle, ...centre];
  const run = spawnSync(args.tessvane, argv, { encoding: 'utf8' });
  const problems = [];
  const fail = (text) => {
    if (problems.length < 12) problems.push(text);
    else if (problems.length === 12) problems.push('... (further disagreements not shown)');
  };
  const name = `${label}, ${motion.name}`;

  if (run.status !== 0 || !existsSync(outputPath)) {
    console.log(`FAIL: ${name}: Tessvane ${argv.join(' ')} exited ${run.status}\n${run.stdout}${run.stderr}`);
    failed++;
    return;
  }
  let output;
  try {
    output = await readWithLoader(outputPath);
  } catch (error) {
    console.log(`FAIL: ${name}: ${READER} reads the input but not the output: ${error.message}`);
    failed++;
    return;
  }
  const o = output.header;
  const d = describeFile(input.bytes);
  const tag = `LAS ${d.version} format ${d.format}`;

  // Layout as the reader sees it.
  for (const key of ['pointsFormatId', 'pointsStructSize', 'pointsOffset', 'pointsCount']) {
    if (o[key] !== h[key]) fail(`header ${key}: output ${o[key]}, input ${h[key]}`);
  }
  for (let axis = 0; axis < 3; axis++) {
    if (o.scale[axis] !== h.scale[axis] || o.offset[axis] !== h.offset[axis]) {
      fail(`scale/offset of axis ${'XYZ'[axis]} changed`);
    }
  }

  // Point count.
  if (output.count !== input.count || output.count !== h.pointsCount) {
    fail(`point count: read ${output.count} from the output, ${input.count} from the input (header ${h.pointsCount})`);
  }
  const count = Math.min(output.count, input.count);

  // Coordinates, to within half a scale unit (and a little for the doubles).
  const worst = [0, 0, 0];
  const lowest = [Infinity, Infinity, Infinity];
  const highest = [-Infinity, -Infinity, -Infinity];
  const inputLowest = [Infinity, Infinity, Infinity];
  const inputHighest = [-Infinity, -Infinity, -Infinity];
  for (let i = 0; i < count; i++) {
    const p = input.positions;
    const want = expectedPoint(p[i * 3], p[i * 3 + 1], p[i * 3 + 2], motion, centre);
    for (let axis = 0; axis < 3; axis++) {
      const got = output.positions[i * 3 + axis];
      const off = Math.abs(got - want[axis]) / h.scale[axis];
      worst[axis] = Math.max(worst[axis], off);
      if (!(off <= 0.5 + 1e-6)) {
        fail(`record ${i} ${'XYZ'[axis]}: read ${got}, expected ${want[axis]} (${off.toFixed(3)} units away)`);
      }
      lowest[axis] = Math.min(lowest[axis], got);
      highest[axis] = Math.max(highest[axis], got);
      inputLowest[axis] = Math.min(inputLowest[axis], p[i * 3 + axis]);
      inputHighest[axis] = Math.max(inputHighest[axis], p[i * 3 + axis]);
    }
  }

  // Attributes the reader gives.
  for (let i = 0; i < count; i++) {
    if (output.intensity[i] !== input.intensity[i]) fail(`record ${i} intensity: ${output.intensity[i]}, input ${input.intensity[i]}`);
    if (output.classification[i] !== input.classification[i]) {
      fail(`record ${i} classification: ${output.classification[i]}, input ${input.classification[i]}`);
    }
  }
  const hasColour = d.format === 2 || d.format === 3;
  if (hasColour !== Boolean(input.colours) || hasColour !== Boolean(output.colours)) {
    fail(`colours: format ${d.format}, read ${input.colours ? 'from' : 'not from'} the input, ${output.colours ? 'from' : 'not from'} the output`);
  } else if (hasColour) {
    for (let i = 0; i < count * 3; i++) {
      if (output.colours[i] !== input.colours[i]) {
        fail(`record ${Math.floor(i / 3)} ${['red', 'green', 'blue'][i % 3]}: ${output.colours[i]}, input ${input.colours[i]}`);
      }
    }
  }

  // The rest of each record (return bits, scan angle, user data, point
  // source, GPS time), which the reader does not give: bytes 12 onwards, at
  // the places the reader's header gives.
  const size = h.pointsStructSize;
  for (let i = 0; i < count; i++) {
    const a = input.bytes.subarray(h.pointsOffset + i * size + 12, h.pointsOffset + (i + 1) * size);
    const b = output.bytes.subarray(o.pointsOffset + i * size + 12, o.pointsOffset + (i + 1) * size);
    if (Buffer.compare(a, b) !== 0) {
      const at = 12 + a.findIndex((byte, k) => byte !== b[k]);
      fail(`record ${i}: byte ${at} (${fieldAt(d.format, at)}) is ${b[at - 12]}, input ${a[at - 12]}`);
    }
  }
  if (output.bytes.length !== input.bytes.length) {
    fail(`file size ${output.bytes.length}, input ${input.bytes.length}`);
  }

  // Header box.
  const rotated = Number(motion.angle) !== 0;
  const shift = motion.shift.map(Number);
  const tolerance = (axis) => 1e-9 * h.scale[axis];
  for (let axis = 0; axis < 3; axis++) {
    let wantMin;
    let wantMax;
    let what;
    if (rotated && axis < 2) {
      [wantMin, wantMax] = [lowest[axis], highest[axis]];
      what = 'the extremes of the coordinates read';
    } else {
      [wantMin, wantMax] = [h.mins[axis] + shift[axis], h.maxs[axis] + shift[axis]];
      what = "the input's box moved by the translation";
    }
    if (count === 0) continue;
    if (Math.abs(o.mins[axis] - wantMin) > tolerance(axis) || Math.abs(o.maxs[axis] - wantMax) > tolerance(axis)) {
      fail(`header ${'XYZ'[axis]} box [${o.mins[axis]}, ${o.maxs[axis]}], not ${what} [${wantMin}, ${wantMax}]`);
    }
    // Whatever the motion, the box holds the points read to within half a
    // unit when the input's box held the input's points so.
    const half = 0.5 * h.scale[axis] + tolerance(axis);
    const inputAgrees = Math.abs(h.mins[axis] - inputLowest[axis]) <= half && Math.abs(h.maxs[axis] - inputHighest[axis]) <= half;
    if (inputAgrees && (Math.abs(o.mins[axis] - lowest[axis]) > half || Math.abs(o.maxs[axis] - highest[axis]) > half)) {
      fail(`header ${'XYZ'[axis]} box [${o.mins[axis]}, ${o.maxs[axis]}] does not hold the points read [${lowest[axis]}, ${highest[axis]}]`);
    }
  }

  // Header and variable-length records: every byte before the first record,
  // apart from the box.
  const before = (bytes) => [bytes.subarray(0, HEADER_BOX_OFFSET), bytes.subarray(HEADER_BOX_END, h.pointsOffset)];
  const [inHead, inRest] = before(input.bytes);
  const [outHead, outRest] = before(output.bytes);
  if (Buffer.compare(inHead, outHead) !== 0) fail('header bytes before the box differ from the input\'s');
  if (Buffer.compare(inRest, outRest) !== 0) fail('bytes between the box and the first record (header extension, VLRs) differ from the input\'s');
  const vlrs = listVlrs(output.bytes, d.headerSize, d.vlrCount, o.pointsOffset);
  if (!vlrs.whole) fail(`the ${d.vlrCount} variable-length records announced do not fit before the first record`);

  const summary = `${tag}, ${count} points, ` +
    `worst ${worst.map((w) => w.toFixed(3)).join('/')} units (X/Y/Z), ` +
    (hasColour ? 'intensity/classification/colour equal, ' : 'intensity/classification equal, ') +
    `record bytes 12-${size - 1} equal, ` +
    (d.vlrCount ? `${d.vlrCount} VLRs kept (${vlrs.found.join(', ')})` : 'no VLRs') +
    (h.pointsOffset > d.headerSize ? `, ${h.pointsOffset - d.headerSize} bytes before the records kept` : '');
  if (problems.length) {
    console.log(`FAIL: ${name}: ${tag}\n  ${problems.join('\n  ')}`);
    failed++;
  } else {
    console.log(`ok: ${name}: ${summary}`);
    passed++;
  }
}

const work = mkdtempSync(join(tmpdir(), 'tessvane-interop-'));
try {
  console.log(`Reader: ${READER} on node ${process.versions.node}`);
  const inputs = [];
  const sampleDir = process.env.LAS_SAMPLE_DIR;
  if (sampleDir) {
    for (const file of SAMPLES) {
      const path = join(sampleDir, file);
      if (!existsSync(path)) {
        console.log(`FAIL: sample ${file} is not in LAS_SAMPLE_DIR (${sampleDir})`);
        failed++;
        continue;
      }
      inputs.push({ label: file, path });
    }
  } else {
    console.log('LAS_SAMPLE_DIR is not set: only the synthetic files are checked');
  }
  for (const s of SYNTHETIC) {
    const path = join(work, `mklas-${s.records}-f${s.format}-v1${s.minor}-g${s.gap}.las`);
    const made = spawnSync(args.mklas, [path, s.records, s.format, s.minor, s.gap, s.seed].map(String), { encoding: 'utf8' });
    if (made.status !== 0) throw new Error(`mklas failed: ${made.stderr}`);
    inputs.push({ label: `mklas ${s.records} records, format ${s.format}, LAS 1.${s.minor}, ${s.gap} gap bytes`, path });
  }
  for (const input of inputs) {
    for (const motion of MOTIONS) await checkRun(input.label, input.path, motion, work);
  }
} finally {
  rmSync(work, { recursive: true, force: true });
}
console.log(`interop: ${passed} passed, ${failed} failed, ${skipped} skipped`);
process.exit(failed ? 1 : 0);
