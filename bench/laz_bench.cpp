// LAS/LAZ source speed: makes a scene as LAS and LAZ of one point format,
// times a full pass of raw records through the source reader, and one import
// through it (or through the built-in LAS reader).
//   vorlin_bench_laz make <format> <points> <out.las> <out.laz>
//   vorlin_bench_laz decode <file> [threads]  -> "<cpu s> <points> <wall s>"
//   vorlin_bench_laz import <file> <out.qzv> [builtin|ahead[N]]  -> the same
//     (threads, aheadN: the source reader decodes LAZ ahead on N background
//     threads, 0 or none given meaning one per core)
// CPU time of the process is the measure: the machine may be shared.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <sys/resource.h>

#include <chrono>
#include <string>
#include <vector>

#include "format/little_endian.h"
#include "readers/las_reader.h"
#include "synth/synth.h"
#include "vorlin/las_file_writer.h"
#include "vorlin/las_source.h"
#include "vorlin/qv_vorlin.h"

namespace {

namespace vv = Zelvane::Vorlin;
namespace f = vorlin::format;

std::wstring Wide(const char* s) { return std::wstring(s, s + strlen(s)); }

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

int Make(int format, uint64_t count, const char* las, const char* laz) {
  static const int kLengths[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  vv::LasSourceInfo layout;
  layout.pointFormat = format;
  layout.recordLength = uint16_t(kLengths[format]);
  layout.versionMinor = format >= 6 ? 4 : 2;
  for (int a = 0; a < 3; ++a) layout.scale[a] = 0.001;
  vv::LasWriteOptions compressed;
  compressed.compress = true;
  vv::LasFileWriter plain, packed;
  if (!plain.Open(Wide(las).c_str(), layout) ||
      !packed.Open(Wide(laz).c_str(), layout, compressed)) {
    fprintf(stderr, "cannot create the files: %s %s\n", plain.lastError().c_str(),
            packed.lastError().c_str());
    return 1;
  }
  synth::SceneOptions scene;
  scene.points = count;
  synth::SceneGenerator generator(scene);
  const size_t length = layout.recordLength, batch = 65536;
  std::vector<uint8_t> records(batch * length);
  size_t n = 0;
  uint64_t index = 0;
  synth::LasPoint p;
  bool ok = true;
  auto flush = [&]() {
    ok = ok && plain.WriteRecords(records.data(), n) && packed.WriteRecords(records.data(), n);
    n = 0;
  };
  while (generator.Next(p)) {
    uint8_t* r = records.data() + n * length;
    memset(r, 0, length);
    f::PutI32(r, int32_t(p.x * 1000.0));
    f::PutI32(r + 4, int32_t(p.y * 1000.0));
    f::PutI32(r + 8, int32_t(p.z * 1000.0));
    f::PutU16(r + 12, p.intensity);
    const double time = 1e5 + double(index) * 2e-6;
    if (format <= 5) {
      r[14] = 0x09;
      r[15] = p.classification;
      f::PutU16(r + 18, 1);
      f::PutF64(r + 20, time);
    } else {
      r[14] = 0x11;
      r[16] = p.classification;
      f::PutU16(r + 20, 1);
      f::PutF64(r + 22, time);
    }
    const size_t colorAt = format == 3 ? 28 : (format == 7 || format == 8) ? 30 : 0;
    if (colorAt) {
      f::PutU16(r + colorAt, p.red);
      f::PutU16(r + colorAt + 2, p.green);
      f::PutU16(r + colorAt + 4, p.blue);
    }
    ++index;
    if (++n == batch) flush();
  }
  flush();
  ok = ok && plain.Close() && packed.Close();
  if (!ok) fprintf(stderr, "write failed: %s %s\n", plain.lastError().c_str(), packed.lastError().c_str());
  return ok ? 0 : 1;
}

int Decode(const char* path, int threads) {
  vv::SourceReader reader;
  if (threads >= 0) reader.SetDecodeAhead(true, unsigned(threads));
  if (!reader.Open(Wide(path).c_str())) {
    fprintf(stderr, "%s\n", reader.lastError().c_str());
    return 1;
  }
  std::vector<uint8_t> record(reader.info().recordLength);
  uint64_t points = 0, check = 0;
  const double start = Now(), cpu = CpuSeconds();
  while (reader.NextRecord(record.data())) {
    ++points;
    check += record[0];
  }
  const double seconds = Now() - start, cpuSeconds = CpuSeconds() - cpu;
  if (reader.failed()) {
    fprintf(stderr, "%s\n", reader.lastError().c_str());
    return 1;
  }
  printf("%.4f %llu %.4f\n", cpuSeconds, (unsigned long long)points, seconds);
  return check == 0xFFFFFFFFFFFFull ? 2 : 0;  // keeps the loop honest
}

int Import(const char* path, const char* out, bool builtIn, int aheadThreads) {
  vv::SourceReader source;
  if (aheadThreads >= 0) source.SetDecodeAhead(true, unsigned(aheadThreads));
  vv::LasReader las;
  vv::IReader* reader = builtIn ? static_cast<vv::IReader*>(&las) : &source;
  const std::wstring in = Wide(path), qzv = Wide(out);
  const double start = Now(), cpu = CpuSeconds();
  const vv::VorlinStatus status = vv::QvVorlin::import(in.c_str(), qzv.c_str(), reader, nullptr, vv::AttributeAll);
  const double seconds = Now() - start, cpuSeconds = CpuSeconds() - cpu;
  if (status != vv::Ok) {
    fprintf(stderr, "import status %d\n", int(status));
    return 1;
  }
  vv::QvVorlin* engine = vv::QvVorlin::create();
  unsigned long long points = engine->open(qzv.c_str(), 0) ? engine->totalPointCount() : 0;
  vv::QvVorlin::destroy(engine);
  printf("%.4f %llu %.4f\n", cpuSeconds, points, seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "make" && argc == 6) return Make(atoi(argv[2]), strtoull(argv[3], nullptr, 10), argv[4], argv[5]);
  if (mode == "decode" && (argc == 3 || argc == 4)) return Decode(argv[2], argc == 4 ? atoi(argv[3]) : -1);
  const std::string how = argc == 5 ? argv[4] : "";
  if (mode == "import" && (argc == 4 || argc == 5))
    return Import(argv[2], argv[3], how == "builtin",
                  how.compare(0, 5, "ahead") == 0 ? atoi(how.c_str() + 5) : -1);
  fprintf(stderr,
          "usage: %s make <format> <points> <las> <laz> | decode <file> [threads] | "
          "import <file> <out.qzv> [builtin|ahead[threads]]\n",
          argv[0]);
  return 2;
}
