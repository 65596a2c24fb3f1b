#ifndef VORLIN_QUERY_H
#define VORLIN_QUERY_H

#include "vorlin/export.h"

namespace Zelvane {
namespace Vorlin {

// Handles made by the engine; each ends with release(), never with delete,
// and is used by one thread at a time, with its engine. A handle belongs to
// the file that was open when it was made and must not outlive it.
class VORLIN_API IPointCloudQuery {
 public:
  IPointCloudQuery() {}
  IPointCloudQuery(const IPointCloudQuery&) {}
  IPointCloudQuery& operator=(const IPointCloudQuery&) { return *this; }
  virtual void release() = 0;

 protected:
  ~IPointCloudQuery() {}
};

class VORLIN_API IPointSetData {
 public:
  IPointSetData() {}
  IPointSetData(const IPointSetData&) {}
  IPointSetData& operator=(const IPointSetData&) { return *this; }
  virtual void release() = 0;

 protected:
  ~IPointSetData() {}
};

class VORLIN_API IPointCloudCursor {
 public:
  IPointCloudCursor() {}
  IPointCloudCursor(const IPointCloudCursor&) {}
  IPointCloudCursor& operator=(const IPointCloudCursor&) { return *this; }
  virtual void release() = 0;

 protected:
  ~IPointCloudCursor() {}
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
