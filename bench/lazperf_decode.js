// Times a full decode of a LAZ file with the laz-perf WebAssembly codec, the
// peer the source reader is compared with. Prints "<cpu s> <points> <wall s>".
//   node lazperf_decode.js <folder holding node_modules/laz-perf> <file.laz>
const path = require('path');
const fs = require('fs');

async function main() {
  const [folder, file] = process.argv.slice(2);
  const { createLazPerf } = require(path.resolve(folder, 'node_modules/laz-perf'));
  const LazPerf = await createLazPerf();
  const bytes = fs.readFileSync(file);
  const filePtr = LazPerf._malloc(bytes.length);
  LazPerf.HEAPU8.set(bytes, filePtr);
  const laszip = new LazPerf.LASZip();
  laszip.open(filePtr, bytes.length);
  const count = laszip.getCount();
  const length = laszip.getPointLength();
  const pointPtr = LazPerf._malloc(length);
  let check = 0;
  const start = process.hrtime.bigint();
  const cpu = process.cpuUsage();
  for (let i = 0; i < count; ++i) {
    laszip.getPoint(pointPtr);
    check += LazPerf.HEAPU8[pointPtr];
  }
  const seconds = Number(process.hrtime.bigint() - start) / 1e9;
  const used = process.cpuUsage(cpu);
  const cpuSeconds = (used.user + used.system) / 1e6;
  laszip.delete();
  LazPerf._free(pointPtr);
  LazPerf._free(filePtr);
  console.log(`${cpuSeconds.toFixed(4)} ${count} ${seconds.toFixed(4)}${check < 0 ? ' ' : ''}`);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
