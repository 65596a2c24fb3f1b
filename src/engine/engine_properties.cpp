#include <wchar.h>

#include "engine/point_cloud_query.h"
#include "engine/qv_vorlin_imp.h"
#include "format/qzv_layout.h"
#include "platform/wide_string.h"

namespace format = vorlin::format;

bool QvVorlinImp::isOpen() { return m_file.IsValid(); }

double QvVorlinImp::unitsToFeetFactor() { return m_unitsFactor; }

const wchar_t* QvVorlinImp::getFileName() { return m_fileName.get(); }

bool QvVorlinImp::getVersion(unsigned int& version, unsigned int& revision) {
  if (!isOpen()) return false;
  version = unsigned(m_version);
  revision = m_revision;
  return true;
}

bool QvVorlinImp::getCentre(double& x, double& y, double& z) {
  if (!isOpen()) return false;
  x = m_grid.centre[0];
  y = m_grid.centre[1];
  z = m_grid.centre[2];
  // A NaN compares unequal, so it counts as a centre.
  return !(x == 0.0) || !(y == 0.0) || !(z == 0.0);
}

bool QvVorlinImp::getExtents(double& minX, double& minY, double& minZ, double& maxX,
                             double& maxY, double& maxZ) {
  if (!isOpen()) return false;
  minX = m_grid.boundsMin[0];
  minY = m_grid.boundsMin[1];
  minZ = m_grid.boundsMin[2];
  maxX = m_grid.boundsMax[0];
  maxY = m_grid.boundsMax[1];
  maxZ = m_grid.boundsMax[2];
  return true;
}

bool QvVorlinImp::setClipFilter(IPointCloudFilter* filter) {
  if (m_clipFilter) {
    m_clipFilter->release();
    m_clipFilter = nullptr;
  }
  if (filter) m_clipFilter = filter->clone();
  return true;
}

QvVorlinImp::IPointCloudFilter* QvVorlinImp::getClipFilter() { return m_clipFilter; }

bool QvVorlinImp::getQueryCounts(IPointCloudQuery* query, unsigned long long& first,
                                 unsigned long long& second) {
  PointCloudQuery* q = query ? dynamic_cast<PointCloudQuery*>(query) : nullptr;
  if (!q) {
    first = 0;
    second = 0;
    return false;
  }
  first = q->visiblePoints;
  second = q->totalPoints;
  return first > 0;
}

unsigned long long QvVorlinImp::totalPointCount() { return m_totalPoints; }

bool QvVorlinImp::hasAttribute(const wchar_t* name, bool& present) {
  static const struct {
    const wchar_t* name;
    uint32_t bit;
  } kAttributes[] = {
      {L"RGB", format::kFlagRgb},
      {L"Intensity", format::kFlagIntensity},
      {L"Normal", format::kFlagNormal},
      {L"NormalGenerated", format::kFlagNormalGenerated},
      {L"CustomAttribute", format::kFlagCustomAttribute},
  };
  present = false;
  if (!name) return false;
  const size_t length = wcslen(name);
  for (const auto& attribute : kAttributes) {
    if (wcslen(attribute.name) == length &&
        vorlin::platform::EqualsNoCase(name, attribute.name, length)) {
      present = (m_attributeFlags & attribute.bit) != 0;
      return true;
    }
  }
  return false;
}
