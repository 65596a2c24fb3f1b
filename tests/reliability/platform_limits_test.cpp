// The limits of this platform: a full disk, the open-file limit, unusual
// names and kinds of files, and (by hand) a file past 4 GiB. Limits are set
// in child processes so that the test binary keeps its own.

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "import/point_cloud_importer.h"
#include "platform/spill_store.h"
#include "platform/wide_string.h"
#include "readers/las_reader.h"
#include "synth/synth.h"
#include "vorlin/qv_vorlin.h"

using namespace Zelvane::Vorlin;
using vorlin::platform::FromUtf8;

namespace {

// Runs body in a child process; its result becomes the exit code (128 plus
// the signal when it dies, 255 when it hangs past the alarm).
int InChild(const std::function<int()>& body, unsigned timeoutSeconds = 120) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGALRM, [](int) { _exit(255); });
    alarm(timeoutSeconds);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool LowerLimit(int resource, rlim_t value) {
  rlimit limit;
  if (getrlimit(resource, &limit) != 0) return false;
  limit.rlim_cur = value;
  return setrlimit(resource, &limit) == 0;
}

// Points on an integer lattice; the colour of each is a hash of its position,
// so that any record read back can be checked on its own.
class LatticeReader : public IReader {
 public:
  LatticeReader(int perAxis, unsigned long long announced, uint64_t limit = 0)
      : m_side(uint64_t(perAxis)), m_announced(announced), m_limit(limit ? limit : m_side * m_side * m_side) {}
  static uint32_t Colour(int64_t x, int64_t y, int64_t z) {
    uint64_t h = uint64_t(x) * 0x9E3779B97F4A7C15ull ^ uint64_t(y) * 0xC2B2AE3D27D4EB4Full ^ uint64_t(z) * 0x165667B19E3779F9ull;
    return uint32_t(h ^ (h >> 31)) & 0xFFFFFF;
  }
  bool Open(const wchar_t*) override { return true; }
  void Close() override {}
  bool FileStats(double* lo, double* hi, unsigned long long& count, unsigned& attributes) override {
    for (int a = 0; a < 3; ++a) lo[a] = 0, hi[a] = double(m_side - 1);
    count = m_announced;
    attributes = AttributeColor;
    return true;
  }
  bool ReadFirstPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g, unsigned char& b) override {
    m_next = 0;
    return ReadNextPoint(x, y, z, r, g, b);
  }
  bool ReadNextPoint(double& x, double& y, double& z, unsigned char& r, unsigned char& g, unsigned char& b) override {
    if (m_next >= m_limit) return false;
    const uint64_t i = m_next++ % (m_side * m_side * m_side);
    x = double(i % m_side), y = double(i / m_side % m_side), z = double(i / m_side / m_side);
    const uint32_t c = Colour(int64_t(x), int64_t(y), int64_t(z));
    r = uint8_t(c >> 16), g = uint8_t(c >> 8), b = uint8_t(c);
    return true;
  }
  double UnitsToFeetConversionFactor() override { return 1.0; }

 private:
  uint64_t m_side;
  unsigned long long m_announced;
  uint64_t m_limit, m_next = 0;
};

class PlatformLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    tmp = dir.file("tmp");
    ::mkdir(tmp.c_str(), 0700);
  }
  size_t TmpEntries() const { return vorlin_test::Entries(tmp); }
  void WriteScene(const std::string& path, uint64_t points) {
    synth::SceneOptions options;
    options.points = points;
    ASSERT_TRUE(synth::WriteSceneLas(path, options));
  }

  vorlin_test::TempDir dir;
  std::string tmp;
};

}  // namespace

// The spill store is written during binning, long before the output, and
// takes at least an extent per cell: once its memory budget is spent, a
// full disk shows there first, as a temporary file failure. A version-3 copy on a full disk fails and leaves
// nothing.
TEST_F(PlatformLimits, FullDisk) {
  WriteScene(dir.file("scene.las"), 200000);
  const std::wstring source = dir.wfile("scene.las"), output = dir.wfile("scene.qzv");
  const int status = InChild([&] {
    vorlin_test::ScopedTmpDir scoped(tmp);
    signal(SIGXFSZ, SIG_IGN);
    vorlin::platform::SetSpillMemoryBudget(0);
    if (!LowerLimit(RLIMIT_FSIZE, 1 << 20)) return 100;
    return int(QvVorlin::import(source.c_str(), output.c_str(), nullptr, AttributeAll));
  });
  EXPECT_EQ(status, int(TempFileFailed));
  EXPECT_FALSE(std::filesystem::exists(dir.file("scene.qzv")));
  EXPECT_EQ(TmpEntries(), 0u);

  {
    vorlin_test::ScopedTmpDir scoped(tmp);
    ASSERT_EQ(QvVorlin::import(source.c_str(), output.c_str(), nullptr, AttributeAll), Ok);
  }
  const std::wstring copy = dir.wfile("copy.qzv");
  const int saved = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    QvVorlin* engine = QvVorlin::create();
    if (!engine->open(output.c_str(), 0) || !LowerLimit(RLIMIT_FSIZE, 1 << 20)) return 100;
    return engine->saveAsVersion(copy.c_str(), 3) ? 1 : 0;
  });
  EXPECT_EQ(saved, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.file("copy.qzv")));
}

// With every point in one cell of a large grid, the spill store holds just
// the records while the output also carries a table entry per cell: a limit
// between the two sizes lets the binning through and stops the writer.
TEST_F(PlatformLimits, FullDiskAtTheOutput) {
  const uint64_t points = 100000;
  const std::wstring output = dir.wfile("one-cell.qzv");
  auto import = [&] {
    vorlin_test::ScopedTmpDir scoped(tmp);
    LatticeReader reader(1, 10000000000ull, points);
    return int(QvVorlin::import(L"corner", output.c_str(), &reader, nullptr, AttributeAll));
  };
  ASSERT_EQ(import(), int(Ok));
  const uint64_t spill = 20 * points, whole = std::filesystem::file_size(dir.file("one-cell.qzv"));
  ASSERT_GT(whole, spill + (64 << 10));
  std::filesystem::remove(dir.file("one-cell.qzv"));

  const int status = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    if (!LowerLimit(RLIMIT_FSIZE, (spill + whole) / 2)) return 100;
    return import();
  });
  EXPECT_EQ(status, int(WriteFailed));
  EXPECT_FALSE(std::filesystem::exists(dir.file("one-cell.qzv")));
  EXPECT_EQ(TmpEntries(), 0u);
}

// A cell larger than the copy buffer is ordered through the temporary folder
// a second time (here with no spill memory): a folder with room for the binning but not for that ends
// the import with a temporary file failure, promptly and leaving nothing.
TEST_F(PlatformLimits, FullTemporaryFolderDuringADenseCell) {
  const uint64_t points = 300000;
  const std::wstring output = dir.wfile("dense.qzv");
  const int status = InChild(
      [&] {
        vorlin_test::ScopedTmpDir scoped(tmp);
        signal(SIGXFSZ, SIG_IGN);
        vorlin::platform::SetSpillMemoryBudget(0);
        if (!LowerLimit(RLIMIT_FSIZE, 20 * points * 3 / 2)) return 100;
        LatticeReader reader(1, points, points);
        IReader* readers[1] = {&reader};
        const wchar_t* names[1] = {L"dense"};
        PointCloudImporter importer;
        importer.copyBufferRecords = 1000;
        importer.ordering.residentBlockBytes = 0;
        return int(importer.RunImport(names, output.c_str(), readers, 1, nullptr, AttributeAll));
      },
      30);
  EXPECT_EQ(status, int(TempFileFailed));
  EXPECT_FALSE(std::filesystem::exists(dir.file("dense.qzv")));
  EXPECT_EQ(TmpEntries(), 0u);
}

// An announced count of 10^10 asks for 100,000 cells; a lattice finer than
// the cells puts points in every one, and each needs a spill file, far more
// than 256 descriptors would allow.
TEST_F(PlatformLimits, MoreSpillFilesThanDescriptors) {
  const std::wstring output = dir.wfile("cells.qzv");
  const int status = InChild([&] {
    vorlin_test::ScopedTmpDir scoped(tmp);
    if (!LowerLimit(RLIMIT_NOFILE, 256)) return 100;
    LatticeReader reader(60, 10000000000ull);
    return int(QvVorlin::import(L"lattice", output.c_str(), &reader, nullptr, AttributeAll));
  }, 600);
  ASSERT_EQ(status, int(Ok));
  qzv_test::ReadBack t;
  ASSERT_TRUE(qzv_test::Read(vorlin::platform::ToUtf8(output), t));
  size_t nonEmpty = 0;
  uint64_t total = 0;
  for (uint32_t c : t.tables.counts) nonEmpty += c != 0, total += c;
  EXPECT_GE(nonEmpty, 100000u);
  EXPECT_EQ(total, 60u * 60u * 60u);
  EXPECT_EQ(TmpEntries(), 0u);
}

// Names are UTF-8 on disk and wide in the interface: every one must survive
// the round trip through import, open and save; what the system refuses
// (names past NAME_MAX or PATH_MAX) fails cleanly.
TEST_F(PlatformLimits, Names) {
  vorlin_test::ScopedTmpDir scoped(tmp);
  WriteScene(dir.file("plain.las"), 3000);
  // The longest output name is exactly NAME_MAX bytes.
  std::string stem;
  while (stem.size() + 3 <= 247) stem += "\xE7\x82\xB9";  // a three-byte character
  stem.resize(247, 'a');
  std::string deep = dir.file("");
  while (deep.size() + 201 < PATH_MAX - 40) {
    deep += std::string(200, 'd') + "/";
    ::mkdir(deep.c_str(), 0700);
  }
  const std::vector<std::string> accepted{dir.file("\xC3\xBCn\xC3\xAF c\xC3\xB8" "d\xC3\xA9 \xE7\x82\xB9\xE4\xBA\x91"),
                                          dir.file("  spaced  name "), dir.file(stem), deep + "x"};
  for (const std::string& name : accepted) {
    SCOPED_TRACE(name);
    std::filesystem::copy_file(dir.file("plain.las"), name + ".las");
    const std::wstring source = FromUtf8(name + ".las"), output = FromUtf8(name + ".las.qzv"),
                       copy = FromUtf8(name + ".v3.qzv");
    ASSERT_EQ(QvVorlin::import(source.c_str(), output.c_str(), nullptr, AttributeAll), Ok);
    QvVorlin* engine = QvVorlin::create();
    EXPECT_TRUE(engine->open(output.c_str(), INT_MAX));
    EXPECT_EQ(std::wstring(engine->getFileName()), output);
    EXPECT_EQ(engine->totalPointCount(), 3000u);
    EXPECT_TRUE(engine->saveAsVersion(copy.c_str(), 3));
    QvVorlin::destroy(engine);
  }
  const std::wstring tooLong = FromUtf8(dir.file(stem + "-longer.las"));
  const std::wstring pastPathMax = FromUtf8(deep + std::string(200, 'e') + "/x.las");
  const std::wstring plain = dir.wfile("plain.las");
  for (const std::wstring& name : {tooLong, pastPathMax}) {
    EXPECT_EQ(QvVorlin::import(name.c_str(), dir.wfile("out.qzv").c_str(), nullptr, AttributeAll), OpenFailed);
    EXPECT_EQ(QvVorlin::import(plain.c_str(), (name + L".qzv").c_str(), nullptr, AttributeAll), CreateFailed);
  }
  EXPECT_EQ(TmpEntries(), 0u);
}

// Things that are not regular files are refused, a FIFO without waiting for
// a writer; a file unlinked while open is read to its end.
TEST_F(PlatformLimits, SourcesThatAreNotPlainFiles) {
  vorlin_test::ScopedTmpDir scoped(tmp);
  ::mkdir(dir.file("folder.las").c_str(), 0700);
  ::mkdir(dir.file("folder.qzv").c_str(), 0700);
  ASSERT_EQ(::mkfifo(dir.file("pipe.las").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(dir.file("pipe.qzv").c_str(), 0600), 0);
  for (const char* name : {"folder", "pipe"}) {
    const std::wstring las = dir.wfile(std::string(name) + ".las"), qzv = dir.wfile(std::string(name) + ".qzv");
    const int status = InChild([&] {
      QvVorlin* engine = QvVorlin::create();
      const bool opened = engine->open(qzv.c_str(), INT_MAX);
      QvVorlin::destroy(engine);
      return opened ? 99 : int(QvVorlin::import(las.c_str(), dir.wfile("out.qzv").c_str(), nullptr, AttributeAll));
    }, 20);
    EXPECT_EQ(status, int(OpenFailed)) << name;
  }

  // A host reader over the built-in one that unlinks its file once open.
  WriteScene(dir.file("gone.las"), 5000);
  struct Unlinking : LasReader {
    std::string path;
    bool Open(const wchar_t* name) override {
      const bool opened = LasReader::Open(name);
      ::unlink(path.c_str());
      return opened;
    }
  } reader;
  reader.path = dir.file("gone.las");
  const std::wstring source = dir.wfile("gone.las"), output = dir.wfile("gone.qzv");
  ASSERT_EQ(QvVorlin::import(source.c_str(), output.c_str(), &reader, nullptr, AttributeAll), Ok);
  EXPECT_FALSE(std::filesystem::exists(reader.path));

  // The engine keeps reading a file unlinked after open.
  QvVorlin* engine = QvVorlin::create();
  ASSERT_TRUE(engine->open(output.c_str(), 0));
  ::unlink(dir.file("gone.qzv").c_str());
  engine_test::Released<IPointCloudQuery> query{engine->createQuery(nullptr, false)};
  std::vector<CellPoint> buffer(6000);
  EXPECT_EQ(engine->getPoints(query.handle, buffer.data(), 6000), 5000u);
  query.handle->release();
  query.handle = nullptr;
  QvVorlin::destroy(engine);
}
