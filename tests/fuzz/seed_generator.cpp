// Writes the fuzzers' starting corpora into <dir>/{las,laz,xyb,qzv,mount}:
// small synthetic LAS, LAZ and XYB files of several layouts, hand-made QZV files
// of versions 3 to 5, one QZV file from a real import, and mount tables.
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "readers/las_source_support.h"
#include "support/qzv_test_file.h"
#include "synth/synth.h"
#include "vorlin/qv_vorlin.h"

namespace {

namespace fs = std::filesystem;

std::vector<synth::LasPoint> FewPoints(int n, double spread) {
  std::vector<synth::LasPoint> points;
  for (int i = 0; i < n; ++i) {
    synth::LasPoint p;
    p.x = 100.0 + spread * (i % 7);
    p.y = 200.0 + spread * (i % 5);
    p.z = 3.0 + 0.5 * (i % 3);
    p.intensity = uint16_t(i * 97);
    p.classification = uint8_t(i % 8);
    p.red = uint16_t(i * 1000);
    p.green = uint16_t(i * 3000);
    p.blue = uint16_t(i * 7000);
    points.push_back(p);
  }
  return points;
}

bool WriteLasSeeds(const fs::path& dir) {
  bool ok = true;
  for (int format = 0; format <= 5; ++format) {
    synth::LasOptions options;
    options.pointFormat = format;
    ok &= synth::WriteLas((dir / ("format" + std::to_string(format) + ".las")).string(),
                          FewPoints(12, 0.5), options);
  }
  synth::LasOptions wide;
  wide.recordLength = 40;
  wide.eightBitColor = true;
  ok &= synth::WriteLas((dir / "wide_records.las").string(), FewPoints(9, 3.0), wide);
  synth::LasOptions lying;
  lying.overrideBounds = true;
  lying.boundsMax[0] = lying.boundsMax[1] = lying.boundsMax[2] = 1.0;
  lying.headerCountOverride = 50;
  lying.truncateLastRecordBy = 5;
  ok &= synth::WriteLas((dir / "lying_header.las").string(), FewPoints(8, 1.0), lying);
  return ok;
}

// Compressed files of the formats the writer compresses, in chunks of 16
// points so that a few dozen points span several chunks, and one plain LAS
// 1.4 file.
bool WriteLazSeeds(const fs::path& dir) {
  bool ok = true;
  Zelvane::Vorlin::LasWriteOptions options;
  options.compress = true;
  options.chunkSize = 16;
  for (int format : {0, 1, 2, 3, 6, 7, 8}) {
    const auto layout = readers_test::Layout(format);
    const auto records = readers_test::MakeRecords(format, layout.recordLength, 40, uint32_t(format));
    ok &= readers_test::WriteFile((dir / ("format" + std::to_string(format) + ".laz")).wstring(),
                                  layout, records, options);
  }
  const auto layout = readers_test::Layout(6, 33);
  ok &= readers_test::WriteFile((dir / "plain14.las").wstring(), layout,
                                readers_test::MakeRecords(6, 33, 12));
  return ok;
}

bool WriteXybSeeds(const fs::path& dir) {
  std::vector<synth::XybPoint> points(10);
  for (size_t i = 0; i < points.size(); ++i) {
    points[i].x = double(i);
    points[i].y = double(i % 3) * 2.5;
    points[i].z = -1.0 * double(i % 2);
    points[i].grey = uint16_t(i * 4000);
  }
  bool ok = synth::WriteXyb((dir / "plain.xyb").string(), points);
  synth::XybOptions odd;
  odd.lines[2] = "Rows 2";
  odd.lines[3] = "Cols 5";
  odd.omitLastLineFeed = true;
  odd.truncateLastRecordBy = 3;
  ok &= synth::WriteXyb((dir / "odd_header.xyb").string(), points, odd);
  return ok;
}

bool WriteQzvSeeds(const fs::path& dir) {
  bool ok = true;
  for (int version = 3; version <= 5; ++version) {
    qzv_test::TestFile f;
    f.version = version;
    f.nx = 3;
    f.ny = 2;
    f.nz = 2;
    f.boundsMin[0] = 10.0;
    f.cellSize = 2.0;
    for (int a = 0; a < 3 && version == 5; ++a)
      for (int i = 0, n = a == 0 ? f.nx : a == 1 ? f.ny : f.nz; i < n; ++i)
        f.edges[a].push_back(f.boundsMin[a] + (i + 1) * (i + 2) / 2.0);
    if (version == 4) f.flags = 0x3F;  // with the attribute block
    qzv_test::Populate(
        f, [](int x, int y, int z) { return uint32_t((x + 2 * y + z) % 4); },
        [](int x, int, int z) { return float(x + z) * 0.75f; });
    ok &= qzv_test::WriteBytes((dir / ("v" + std::to_string(version) + ".qzv")).string(),
                               qzv_test::Serialize(f));
  }
  // What the importer writes: the smallest grid it lays out, few points.
  const fs::path las = dir / "import_source.las";
  ok &= synth::WriteLas(las.string(), FewPoints(30, 0.2));
  const std::wstring source = las.wstring(), output = (dir / "imported.qzv").wstring();
  ok &= Zelvane::Vorlin::QvVorlin::import(source.c_str(), output.c_str(), nullptr,
                                          Zelvane::Vorlin::AttributeAll) == Zelvane::Vorlin::Ok;
  fs::remove(las);
  return ok;
}

bool WriteMountSeeds(const fs::path& dir) {
  std::ofstream((dir / "sample.txt").string())
      << "21 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
         "22 21 0:20 / /proc rw,nosuid - proc proc rw\n"
         "23 21 8:3 / /home rw,relatime shared:2 - xfs /dev/sda3 rw\n"
         "24 21 0:45 / /mnt/nas rw,relatime - nfs4 fileserver:/export/data rw,addr=10.0.0.5\n"
         "25 21 0:46 / /mnt/win\\040share rw - cifs //winbox/Public rw\n"
         "26 21 0:47 / /mnt/ssh rw shared:9 master:3 - fuse.sshfs alice@devhost:/srv/p rw\n"
         "27 21 8:3 /alice/data /srv/data rw - xfs /dev/sda3 rw\n"
         "29 21 0:51 / /mnt/back rw - cifs \\134\\134oldbox\\134Backups rw\n"
         "30 21 0:52 / /mnt/ceph rw - ceph mon1:6789,mon2:6789:/volumes/a rw\n";
  std::ofstream((dir / "shares.txt").string())
      << "1 0 0:45 / /mnt/nas rw - nfs localhost:/x rw\n"
         "2 0 0:51 / /mnt/back rw - cifs //127.0.0.1/c rw\n"
         "3 0 0:47 / /mnt/ssh rw - fuse.sshfs u@buildhost.lan:/p rw\n";
  // The kernel reports a size of 0 for it, so it is read rather than copied.
  std::ifstream mine("/proc/self/mountinfo");
  if (mine) std::ofstream((dir / "this_machine.txt").string()) << mine.rdbuf();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <corpus-dir>\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  for (const char* sub : {"las", "laz", "xyb", "qzv", "mount"}) fs::create_directories(root / sub);
  const bool ok = WriteLasSeeds(root / "las") && WriteLazSeeds(root / "laz") &&
                  WriteXybSeeds(root / "xyb") &&
                  WriteQzvSeeds(root / "qzv") && WriteMountSeeds(root / "mount");
  if (!ok) fprintf(stderr, "could not write every seed\n");
  return ok ? 0 : 1;
}
