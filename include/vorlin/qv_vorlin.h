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
class VORLIN_API QvVorlin {
 public:
  QvVorlin() {}
  QvVorlin(const QvVorlin&) {}
  QvVorlin& operator=(const QvVorlin&) { return *this; }
  virtual ~QvVorlin() {}

  // Opens a QZV file (versions 3 to 5) and starts preloading up to
  // preloadBudget bytes of records in the background (none when below 1).
  virtual bool open(const wchar_t* fileName, int preloadBudget) = 0;
  virtual void close() = 0;
  virtual bool isOpen() = 0;
  virtual double unitsToFeetFactor() = 0;
  virtual const wchar_t* getFileName() = 0;
  virtual bool getVersion(unsigned int& version, unsigned int& revision) = 0;
  virtual bool getCentre(double& x, double& y, double& z) = 0;
  virtual bool getExtents(double& minX, double& minY, double& minZ, double& maxX,
                          double& maxY, double& maxZ) = 0;
  virtual IPointCloudFilter* createViewFrustumFilter(const VorlinViewFrustum& frustum) = 0;
  virtual IPointCloudQuery* createQuery(IPointCloudFilter* filter, bool clip) = 0;
  virtual bool setClipFilter(IPointCloudFilter* filter) = 0;
  virtual IPointCloudFilter* getClipFilter() = 0;
  virtual bool getQueryCounts(IPointCloudQuery* query, unsigned long long& first,
                              unsigned long long& second) = 0;
  virtual unsigned long long totalPointCount() = 0;
  virtual unsigned int getPoints(IPointCloudQuery* query, CellPoint* buffer,
                                 unsigned int bufferSize) = 0;
  // The batch calls (point sets and cursors) return the number of records
  // they took from the cells, 0 once nothing is left (or for a bufferSize of
  // 0, or on a failure). With point clipping some of those records may fail
  // the filters: the accepted ones come first, and the rest of the returned
  // count are filler records whose x, y and z are NaN.
  virtual unsigned int createPointSet(IPointCloudQuery* query, CellPoint* buffer,
                                      unsigned int bufferSize, unsigned long long pointCount,
                                      IPointSetData** set) = 0;
  virtual unsigned int getPointSetPoints(IPointCloudQuery* query, CellPoint* buffer,
                                         unsigned int bufferSize, IPointSetData* set) = 0;
  virtual unsigned int createCursor(IPointCloudQuery* query, CellPoint* buffer,
                                    unsigned int bufferSize, IPointCloudCursor** cursor) = 0;
  virtual unsigned int getCursorPoints(IPointCloudQuery* query, CellPoint* buffer,
                                       unsigned int bufferSize, IPointCloudCursor* cursor) = 0;
  virtual bool hasAttribute(const wchar_t* name, bool& present) = 0;
  virtual bool saveAsVersion(const wchar_t* fileName, unsigned int version) = 0;

  // A new engine object, or null when it cannot be allocated.
  static QvVorlin* create();
  static void destroy(QvVorlin* engine);
  void release();

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
