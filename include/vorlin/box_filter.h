#ifndef VORLIN_BOX_FILTER_H
#define VORLIN_BOX_FILTER_H

#include "vorlin/export.h"
#include "vorlin/filter.h"

namespace Zelvane {
namespace Vorlin {

// A filter that sees an axis-aligned box given in world coordinates, for
// QvVorlin::createQuery and setClipFilter like the frustum filter.
//
// corner0 and corner1 are opposite corners in any order (three doubles each);
// centre is the centre of the file the filter will query (QvVorlin::getCentre),
// because points reach containsPoint as offsets from it. A point is inside
// when centre + offset, summed in double precision, lies in the closed box.
//
// Returns null when a value is not finite or the allocation fails. The caller
// owns the filter and ends it with release(); clone() gives independent
// copies. A filter object may be used by one thread at a time; it never
// calls into the library.
VORLIN_API IPointCloudFilter* createBoxFilter(const double corner0[3], const double corner1[3],
                                              const double centre[3]);

}  // namespace Vorlin
}  // namespace Zelvane

#endif
