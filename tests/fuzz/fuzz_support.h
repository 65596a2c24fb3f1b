#ifndef VORLIN_TESTS_FUZZ_FUZZ_SUPPORT_H
#define VORLIN_TESTS_FUZZ_FUZZ_SUPPORT_H

// Shared by the fuzz targets: a private working folder with its own TMPDIR,
// removed at exit, a check that nothing is left behind between runs, and one
// full import of an input through the built-in reader for its extension.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "vorlin/qv_vorlin.h"

namespace vorlin_fuzz {

class Workspace {
 public:
  // Creates <TMPDIR>/vorlin-fuzz-XXXXXX with work/ and tmp/, and points
  // TMPDIR at tmp/ so that the library's own temporary files land there.
  static Workspace& Get() {
    static Workspace* workspace = new Workspace();
    return *workspace;
  }

  std::string file(const char* name) const { return (m_root / "work" / name).string(); }
  std::wstring wfile(const char* name) const { return (m_root / "work" / name).wstring(); }

  // Aborts when the library left a temporary file, then empties work/.
  void CheckAndReset() {
    if (CountEntries(m_root / "tmp") != 0) {
      fprintf(stderr, "temporary files left in %s\n", (m_root / "tmp").c_str());
      abort();
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_root / "work", ec))
      std::filesystem::remove_all(entry.path(), ec);
  }

  static bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = (size == 0 || fwrite(data, 1, size, f) == size);
    return (fclose(f) == 0) && ok;
  }

 private:
  Workspace() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vorlin-fuzz-XXXXXX").string();
    if (!mkdtemp(&pattern[0])) abort();
    m_root = pattern;
    std::filesystem::create_directory(m_root / "work");
    std::filesystem::create_directory(m_root / "tmp");
    setenv("TMPDIR", (m_root / "tmp").c_str(), 1);
    atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(Get().m_root, ec);
    });
  }

  static size_t CountEntries(const std::filesystem::path& dir) {
    size_t n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
      ++n;
    return n;
  }

  std::filesystem::path m_root;
};

inline int FuzzImport(const uint8_t* data, size_t size, const char* sourceName) {
  namespace vs = Zelvane::Vorlin;
  Workspace& ws = Workspace::Get();
  if (!Workspace::WriteFile(ws.file(sourceName), data, size)) abort();
  const std::wstring source = ws.wfile(sourceName);
  const std::wstring output = ws.wfile("out.qzv");
  // Vary the stored attributes with the input so that every writer path runs.
  const unsigned attributes = size % 3 == 0 ? 0u : size % 3 == 1 ? 0x1Fu : 0x05u;
  const vs::VorlinStatus status =
      vs::QvVorlin::import(source.c_str(), output.c_str(), nullptr, attributes);
  const bool outputExists = std::filesystem::exists(ws.file("out.qzv"));
  if (status == vs::Ok) {
    // What the importer wrote, the engine must accept. It may hold no
    // points: a header can promise records that the file does not have.
    vs::QvVorlin* engine = vs::QvVorlin::create();
    if (!engine->open(output.c_str(), 0)) {
      fprintf(stderr, "imported file does not open\n");
      abort();
    }
    vs::QvVorlin::destroy(engine);
  } else if (outputExists && (status == vs::OpenFailed || status == vs::OutOfExtents ||
                              status == vs::UnsupportedFormat)) {
    fprintf(stderr, "status %d left an output file\n", int(status));
    abort();
  }
  ws.CheckAndReset();
  return 0;
}

}  // namespace vorlin_fuzz

#endif
