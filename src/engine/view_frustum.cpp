#include <string.h>

#include "vorlin/view_frustum.h"

namespace Zelvane {
namespace Vorlin {
namespace {

enum Corner {
  kNearUpperRight,
  kNearUpperLeft,
  kNearLowerLeft,
  kNearLowerRight,
  kFarUpperRight,
  kFarUpperLeft,
  kFarLowerLeft,
  kFarLowerRight
};

constexpr int kCornerValues = 24;

}  // namespace

VorlinViewFrustum::VorlinViewFrustum()
    : m_corners(new double[kCornerValues]()), m_nearClip(false), m_farClip(false) {}

VorlinViewFrustum::VorlinViewFrustum(const VorlinViewFrustum& other)
    : m_corners(new double[kCornerValues]),
      m_nearClip(other.m_nearClip),
      m_farClip(other.m_farClip) {
  memcpy(m_corners, other.m_corners, sizeof(double) * kCornerValues);
}

VorlinViewFrustum& VorlinViewFrustum::operator=(const VorlinViewFrustum& other) {
  if (this != &other) {
    memcpy(m_corners, other.m_corners, sizeof(double) * kCornerValues);
    m_nearClip = other.m_nearClip;
    m_farClip = other.m_farClip;
  }
  return *this;
}

VorlinViewFrustum::~VorlinViewFrustum() { delete[] m_corners; }

void VorlinViewFrustum::setCorner(int index, double x, double y, double z) {
  m_corners[index * 3] = x;
  m_corners[index * 3 + 1] = y;
  m_corners[index * 3 + 2] = z;
}

void VorlinViewFrustum::corner(int index, double& x, double& y, double& z) const {
  x = m_corners[index * 3];
  y = m_corners[index * 3 + 1];
  z = m_corners[index * 3 + 2];
}

void VorlinViewFrustum::setNearUpperRight(double x, double y, double z) { setCorner(kNearUpperRight, x, y, z); }
void VorlinViewFrustum::setNearUpperLeft(double x, double y, double z) { setCorner(kNearUpperLeft, x, y, z); }
void VorlinViewFrustum::setNearLowerLeft(double x, double y, double z) { setCorner(kNearLowerLeft, x, y, z); }
void VorlinViewFrustum::setNearLowerRight(double x, double y, double z) { setCorner(kNearLowerRight, x, y, z); }
void VorlinViewFrustum::setFarUpperRight(double x, double y, double z) { setCorner(kFarUpperRight, x, y, z); }
void VorlinViewFrustum::setFarUpperLeft(double x, double y, double z) { setCorner(kFarUpperLeft, x, y, z); }
void VorlinViewFrustum::setFarLowerLeft(double x, double y, double z) { setCorner(kFarLowerLeft, x, y, z); }
void VorlinViewFrustum::setFarLowerRight(double x, double y, double z) { setCorner(kFarLowerRight, x, y, z); }

void VorlinViewFrustum::nearUpperRight(double& x, double& y, double& z) const { corner(kNearUpperRight, x, y, z); }
void VorlinViewFrustum::nearUpperLeft(double& x, double& y, double& z) const { corner(kNearUpperLeft, x, y, z); }
void VorlinViewFrustum::nearLowerLeft(double& x, double& y, double& z) const { corner(kNearLowerLeft, x, y, z); }
void VorlinViewFrustum::nearLowerRight(double& x, double& y, double& z) const { corner(kNearLowerRight, x, y, z); }
void VorlinViewFrustum::farUpperRight(double& x, double& y, double& z) const { corner(kFarUpperRight, x, y, z); }
void VorlinViewFrustum::farUpperLeft(double& x, double& y, double& z) const { corner(kFarUpperLeft, x, y, z); }
void VorlinViewFrustum::farLowerLeft(double& x, double& y, double& z) const { corner(kFarLowerLeft, x, y, z); }
void VorlinViewFrustum::farLowerRight(double& x, double& y, double& z) const { corner(kFarLowerRight, x, y, z); }

void VorlinViewFrustum::setNearClip(bool clip) { m_nearClip = clip; }
bool VorlinViewFrustum::nearClip() const { return m_nearClip; }
void VorlinViewFrustum::setFarClip(bool clip) { m_farClip = clip; }
bool VorlinViewFrustum::farClip() const { return m_farClip; }

}  // namespace Vorlin
}  // namespace Zelvane
