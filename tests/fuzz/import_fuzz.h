#ifndef VORLIN_TESTS_FUZZ_IMPORT_FUZZ_H
#define VORLIN_TESTS_FUZZ_IMPORT_FUZZ_H

// One full import of the fuzz input as a source file of the given extension
// through the built-in reader, then a look at what it produced.

#include <filesystem>

#include "fuzz_support.h"
#include "vorlin/qv_vorlin.h"

namespace vorlin_fuzz {

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
