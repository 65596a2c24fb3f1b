#ifndef VORLIN_PROGRESS_H
#define VORLIN_PROGRESS_H

#include "vorlin/export.h"

namespace Zelvane {
namespace Vorlin {

// Implemented by the host to watch an import and cancel it. Binning reports
// in the range 20..70 per cent and writing in 70..100; setRange announces the
// span onto which the following setProgress values (0..100) map. Called on
// the importing thread only; the host keeps ownership.
class VORLIN_API IVorlinProgress {
 public:
  IVorlinProgress() {}
  IVorlinProgress(const IVorlinProgress&) {}
  IVorlinProgress& operator=(const IVorlinProgress&) { return *this; }

  virtual void setProgress(double percent) = 0;
  // Never called by the library; kept so that the interface layout is stable.
  virtual void reserved() = 0;
  virtual bool isCancelled() = 0;
  virtual void setRange(double from, double to) = 0;

 protected:
  // The library never destroys a progress object.
  ~IVorlinProgress() {}
};

}  // namespace Vorlin
}  // namespace Zelvane

#endif
