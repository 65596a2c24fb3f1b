#include <new>

#include "import/point_cloud_importer.h"
#include "vorlin/qv_vorlin.h"

namespace Zelvane {
namespace Vorlin {

// Every overload ends in PointCloudImporter::RunImport. A point whose
// coordinates are not numbers has no cell: the binning pass treats it as
// lying outside the bounds, the bounds are re-measured without it, and when
// the next pass meets it again the import ends with OutOfExtents. Such a
// cloud is refused rather than imported with points silently missing.

namespace {

VorlinStatus Run(const wchar_t** sourceFiles, const wchar_t* outputFile, IReader** readers,
                 unsigned int count, IVorlinProgress* progress, unsigned int attributes) {
  std::unique_ptr<PointCloudImporter> importer;
  try {
    importer.reset(new PointCloudImporter());
  } catch (const std::bad_alloc&) {
    return OutOfMemory;
  }
  return importer->RunImport(sourceFiles, outputFile, readers, count, progress, attributes);
}

}  // namespace

VorlinStatus QvVorlin::import(const wchar_t* sourceFile, const wchar_t* outputFile,
                              IReader* reader, IVorlinProgress* progress,
                              unsigned int attributes) {
  const wchar_t* names[1] = {sourceFile};
  IReader* readers[1] = {reader};
  return Run(names, outputFile, readers, 1, progress, attributes);
}

VorlinStatus QvVorlin::import(const wchar_t** sourceFiles, const wchar_t* outputFile,
                              IReader** readers, unsigned int count, IVorlinProgress* progress,
                              unsigned int attributes) {
  return Run(sourceFiles, outputFile, readers, count, progress, attributes);
}

VorlinStatus QvVorlin::import(const wchar_t* sourceFile, const wchar_t* outputFile,
                              IVorlinProgress* progress, unsigned int attributes) {
  if (!sourceFile) return InvalidArgument;
  std::unique_ptr<IReader> reader;
  try {
    reader = vorlin::CreateBuiltinReader(sourceFile);
  } catch (const std::bad_alloc&) {
    return OutOfMemory;
  }
  if (!reader) return UnsupportedFormat;
  const wchar_t* names[1] = {sourceFile};
  IReader* readers[1] = {reader.get()};
  return Run(names, outputFile, readers, 1, progress, attributes);
}

}  // namespace Vorlin
}  // namespace Zelvane
