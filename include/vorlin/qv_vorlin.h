#ifndef VORLIN_QV_VORLIN_H
#define VORLIN_QV_VORLIN_H

#include <wchar.h>

#include "vorlin/cell_point.h"
#include "vorlin/export.h"
#include "vorlin/filter.h"
#include "vorlin/progress.h"
#include "vorlin/query.h"
#include "vorlin/reader.h"
#include "vorlin/status.h"
#include "vorlin/view_frustum.h"

namespace Zelvane {
namespace Vorlin {

// The library's facade. Engine objects come from create() and end with
// destroy() or release(); the static import overloads write a QZV file from
// source files without an engine.
//
// Threads: every call runs on the calling thread. An engine serves one caller
// at a time: calls on the same engine, and on the handles it made, must not
// overlap; separate engines are independent. The only thread the library
// starts is an open engine's background loader, which close() stops.
//
// Failures: engine calls answer false, null or 0. Any call that allocates
// (create, open, the factories, the fetches, saveAsVersion, the imports) may
// throw std::bad_alloc, which the library does not catch; the engine stays
// usable afterwards and an import leaves no file behind.
class VORLIN_API QvVorlin {
 public:
  QvVorlin() {}
  QvVorlin(const QvVorlin&) {}
  QvVorlin& operator=(const QvVorlin&) { return *this; }
  virtual ~QvVorlin() {}

  // Opens a QZV file (versions 3 to 5), closing any file open before, and
  // starts preloading up to preloadBudget bytes of records in the background
  // (none when below 1). Three outcomes: true, open; false with isOpen()
  // false, the file could not be opened; false with isOpen() true, the file
  // is not a usable QZV file: its handle and name are held, it has no cells,
  // and close() lets it go.
  //
  // Memory beyond the preload budget: fetches that come back to records
  // already read copy them from a read-only mapping of the file (local disk
  // file systems only), whose pages, up to 512 MiB, count towards the
  // process's resident size until close; the system may reclaim them. The
  // file must not be cut short by another process while it is open: a read
  // would fail, a mapped copy stops the process.
  virtual bool open(const wchar_t* fileName, int preloadBudget) = 0;
  // Stops the loader (waiting for it) and closes the file; queries, point
  // sets and cursors of the file must be released before.
  virtual void close() = 0;
  virtual bool isOpen() = 0;
  virtual double unitsToFeetFactor() = 0;
  // The name given to open, owned by the engine until close; null if none.
  virtual const wchar_t* getFileName() = 0;
  // false when no file is open.
  virtual bool getVersion(unsigned int& version, unsigned int& revision) = 0;
  // The centre of the file's bounds; false when no file is open and also
  // when the centre is exactly the origin (the values are then still set).
  virtual bool getCentre(double& x, double& y, double& z) = 0;
  // false when no file is open.
  virtual bool getExtents(double& minX, double& minY, double& minZ, double& maxX,
                          double& maxY, double& maxZ) = 0;
  // A new filter owned by the caller (end it with its release()); null when
  // it cannot be allocated.
  virtual IPointCloudFilter* createViewFrustumFilter(const VorlinViewFrustum& frustum) = 0;
  // Classifies every cell against filter (null: every cell is visible) and
  // the clip filter; clip asks for single points of partly covered cells to
  // be tested. The query keeps a clone of filter, never filter itself. The
  // caller ends the query with release(); null when the query object cannot
  // be allocated.
  virtual IPointCloudQuery* createQuery(IPointCloudFilter* filter, bool clip) = 0;
  // Keeps a clone of filter (null: none) for the queries made afterwards;
  // the caller keeps its own filter. Always true.
  virtual bool setClipFilter(IPointCloudFilter* filter) = 0;
  // The engine's clone, owned by the engine; null when none is set.
  virtual IPointCloudFilter* getClipFilter() = 0;
  // first: the points of the query's visible cells; second: the points of
  // all cells. True only when first is above 0; a null or foreign query
  // sets both to 0.
  virtual bool getQueryCounts(IPointCloudQuery* query, unsigned long long& first,
                              unsigned long long& second) = 0;
  virtual unsigned long long totalPointCount() = 0;
  // Fills buffer with up to bufferSize records sampled evenly over the
  // query's visible cells. Returns the count written; 0 means nothing to
  // deliver or a failure (null or foreign query, null buffer, no file).
  virtual unsigned int getPoints(IPointCloudQuery* query, CellPoint* buffer,
                                 unsigned int bufferSize) = 0;
  // The batch calls (point sets and cursors) return the number of records
  // they took from the cells, 0 once nothing is left (or for a bufferSize of
  // 0, or on a failure). With point clipping some of those records may fail
  // the filters: the accepted ones come first, and the rest of the returned
  // count are filler records whose x, y and z are NaN.
  // The point set and cursor handles belong to the query and end with their
  // release(), before the query's.
  virtual unsigned int createPointSet(IPointCloudQuery* query, CellPoint* buffer,
                                      unsigned int bufferSize, unsigned long long pointCount,
                                      IPointSetData** set) = 0;
  virtual unsigned int getPointSetPoints(IPointCloudQuery* query, CellPoint* buffer,
                                         unsigned int bufferSize, IPointSetData* set) = 0;
  virtual unsigned int createCursor(IPointCloudQuery* query, CellPoint* buffer,
                                    unsigned int bufferSize, IPointCloudCursor** cursor) = 0;
  virtual unsigned int getCursorPoints(IPointCloudQuery* query, CellPoint* buffer,
                                       unsigned int bufferSize, IPointCloudCursor* cursor) = 0;
  // False for a name other than RGB, Intensity, Normal, NormalGenerated and
  // CustomAttribute (any case); present then says whether the file has it.
  virtual bool hasAttribute(const wchar_t* name, bool& present) = 0;
  // Writes a version-3 copy of the open file; only version 4 to version 3 is
  // supported, anything else is false. A failed copy leaves no file.
  virtual bool saveAsVersion(const wchar_t* fileName, unsigned int version) = 0;

  // A new engine object owned by the caller; null (or std::bad_alloc) when
  // it cannot be allocated. It ends with destroy(engine) or engine->release(), which
  // close it first; never with delete.
  static QvVorlin* create();
  static void destroy(QvVorlin* engine);
  void release();

  // The imports run on the calling thread from start to end and return a
  // VorlinStatus; they never throw one. The caller keeps the readers and the
  // progress object it passes (the import opens and closes the readers but
  // never destroys them) and may pass a null progress; attributes is the mask
  // of attributes to keep. On Ok the output holds exactly the sources'
  // points; on any other status it is deleted. Failing to allocate the
  // import's state gives OutOfMemory; a later std::bad_alloc reaches the
  // caller after the import has cleaned up.
  //
  // Memory: an import's temporary data lives in memory up to 64 MiB for the
  // whole process and beyond that in unlinked files in TMPDIR (or /tmp),
  // which need about 20 bytes per point of free space. The rest is bounded:
  // while binning, the cell buffers (32 MiB, or 5 KiB per non-empty cell on
  // grids of more than 6,000 cells); while writing, the ordering of one cell
  // (about 100 MiB, reached only for cells of more than 2,000,000 points,
  // with at most 64 MiB of its sub-volumes' blocks resident and 48 MiB to
  // shuffle one sub-volume, a more crowded one going through a temporary
  // file in windows); and a few bytes per grid cell and per 512 points of
  // the largest cell. About 130 MB at the peak for 50 million points spread
  // over a grid, 220 MB for 100 million points in one cell.

  // One source read by reader (null: a built-in reader chosen by the name).
  static VorlinStatus import(const wchar_t* sourceFile, const wchar_t* outputFile,
                             IReader* reader, IVorlinProgress* progress,
                             unsigned int attributes);
  // count sources; readers[i] reads sourceFiles[i] (null entries: built-in).
  static VorlinStatus import(const wchar_t** sourceFiles, const wchar_t* outputFile,
                             IReader** readers, unsigned int count,
                             IVorlinProgress* progress, unsigned int attributes);
  // One source read by the built-in reader for its extension (.las or .xyb).
  static VorlinStatus import(const wchar_t* sourceFile, const wchar_t* outputFile,
                             IVorlinProgress* progress, unsigned int attributes);
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
