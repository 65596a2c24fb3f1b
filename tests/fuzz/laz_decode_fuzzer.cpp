// A LAS or LAZ file through the source reader: open, every record raw, a
// pass of points as the import reads them, then batches decoded ahead on two
// threads. Damaged data may refuse to open
// or stop a pass with an error, never crash, hang or grow without bound.
#include <vector>

#include "fuzz_support.h"
#include "vorlin/las_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace vs = Zelvane::Vorlin;
  vorlin_fuzz::Workspace& ws = vorlin_fuzz::Workspace::Get();
  if (!vorlin_fuzz::Workspace::WriteFile(ws.file("in.laz"), data, size)) abort();
  vs::SourceReader reader;
  if (reader.Open(ws.wfile("in.laz").c_str())) {
    const vs::LasSourceInfo& info = reader.info();
    if (info.presentCount > info.announcedCount) abort();
    std::vector<uint8_t> record(info.recordLength);
    uint64_t records = 0;
    while (reader.NextRecord(record.data())) ++records;
    if (records > info.presentCount) abort();
    const bool damaged = reader.failed();
    if (!damaged && records != info.presentCount) abort();
    double x, y, z;
    unsigned char r, g, b, intensity, custom;
    float nx, ny, nz;
    uint64_t points = 0;
    try {
      for (bool more = reader.ReadFirstPointEx(x, y, z, r, g, b, intensity, nx, ny, nz, custom);
           more; more = reader.ReadNextPointEx(x, y, z, r, g, b, intensity, nx, ny, nz, custom))
        ++points;
      if (points != records) abort();  // a pass repeats the records exactly
    } catch (const vs::SourceReadError&) {
      if (!reader.failed()) abort();
    }
    // Decoding ahead meets the same records and the same damage.
    reader.SetDecodeAhead(true, 2);
    if (reader.RewindRecords()) {
      std::vector<vs::LasPoint> batch(512);
      uint64_t batched = 0;
      bool threw = false;
      try {
        for (size_t n; (n = reader.ReadNextPoints(batch.data(), batch.size()));) batched += n;
      } catch (const vs::SourceReadError&) {
        threw = true;
      }
      if (batched != records || threw != damaged) abort();
    }
    reader.Close();
  }
  ws.CheckAndReset();
  return 0;
}
