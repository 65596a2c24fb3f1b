#include "dataset/offset_filter.h"

#include <new>

using namespace Zelvane::Vorlin;

namespace vorlin {
namespace dataset {

OffsetFilter::OffsetFilter(IPointCloudFilter* inner, const double shift[3]) : m_inner(inner) {
  for (int a = 0; a < 3; ++a) m_shift[a] = shift[a];
}

OffsetFilter::~OffsetFilter() {
  if (m_inner) m_inner->release();
}

OffsetFilter* OffsetFilter::Wrap(IPointCloudFilter* inner, const double shift[3]) {
  if (!inner) return nullptr;
  OffsetFilter* f = new (std::nothrow) OffsetFilter(inner, shift);
  if (!f) inner->release();
  return f;
}

int OffsetFilter::classifyBox(double minX, double minY, double minZ, double maxX, double maxY,
                              double maxZ) {
  return m_inner->classifyBox(minX, minY, minZ, maxX, maxY, maxZ);
}

bool OffsetFilter::containsPoint(float x, float y, float z) {
  return m_inner->containsPoint(float(double(x) + m_shift[0]), float(double(y) + m_shift[1]),
                                float(double(z) + m_shift[2]));
}

void OffsetFilter::prepareCell(const double* minX, const double* minY, const double* minZ,
                               const double* maxX, const double* maxY, const double* maxZ,
                               unsigned int pointCount) {
  m_inner->prepareCell(minX, minY, minZ, maxX, maxY, maxZ, pointCount);
}

IPointCloudFilter* OffsetFilter::clone() { return Wrap(m_inner->clone(), m_shift); }

void OffsetFilter::release() { delete this; }

bool OffsetFilter::reservedQuery() { return m_inner->reservedQuery(); }

void OffsetFilter::reservedNotify(unsigned int value) { m_inner->reservedNotify(value); }

}  // namespace dataset
}  // namespace vorlin
