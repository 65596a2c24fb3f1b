// The coordinate system of a LAS file as text: the OGC WKT record, or the
// GeoTIFF key directory with its double and ASCII parameters resolved.
#include <stdio.h>

#include <algorithm>
#include <string>

#include "format/little_endian.h"
#include "readers/las/las_header.h"

namespace vorlin {
namespace las {

namespace {

using Zelvane::Vorlin::LasSourceInfo;
using Zelvane::Vorlin::LasVlr;

constexpr uint16_t kWktRecord = 2112;
constexpr uint16_t kGeoKeyDirectory = 34735;
constexpr uint16_t kGeoDoubleParams = 34736;
constexpr uint16_t kGeoAsciiParams = 34737;

const char* GeoKeyName(uint16_t id) {
  switch (id) {
    case 1024: return "GTModelTypeGeoKey";
    case 1025: return "GTRasterTypeGeoKey";
    case 1026: return "GTCitationGeoKey";
    case 2048: return "GeographicTypeGeoKey";
    case 2049: return "GeogCitationGeoKey";
    case 2050: return "GeogGeodeticDatumGeoKey";
    case 2051: return "GeogPrimeMeridianGeoKey";
    case 2052: return "GeogLinearUnitsGeoKey";
    case 2054: return "GeogAngularUnitsGeoKey";
    case 2055: return "GeogAngularUnitSizeGeoKey";
    case 2056: return "GeogEllipsoidGeoKey";
    case 2057: return "GeogSemiMajorAxisGeoKey";
    case 2058: return "GeogSemiMinorAxisGeoKey";
    case 2059: return "GeogInvFlatteningGeoKey";
    case 2061: return "GeogPrimeMeridianLongGeoKey";
    case 2062: return "GeogTOWGS84GeoKey";
    case 3072: return "ProjectedCSTypeGeoKey";
    case 3073: return "PCSCitationGeoKey";
    case 3074: return "ProjectionGeoKey";
    case 3075: return "ProjCoordTransGeoKey";
    case 3076: return "ProjLinearUnitsGeoKey";
    case 3077: return "ProjLinearUnitSizeGeoKey";
    case 3078: return "ProjStdParallel1GeoKey";
    case 3079: return "ProjStdParallel2GeoKey";
    case 3080: return "ProjNatOriginLongGeoKey";
    case 3081: return "ProjNatOriginLatGeoKey";
    case 3082: return "ProjFalseEastingGeoKey";
    case 3083: return "ProjFalseNorthingGeoKey";
    case 3088: return "ProjCenterLongGeoKey";
    case 3089: return "ProjCenterLatGeoKey";
    case 3092: return "ProjScaleAtNatOriginGeoKey";
    case 4096: return "VerticalCSTypeGeoKey";
    case 4097: return "VerticalCitationGeoKey";
    case 4098: return "VerticalDatumGeoKey";
    case 4099: return "VerticalUnitsGeoKey";
    default: return "GeoKey";
  }
}

const LasVlr* FindProjectionRecord(const LasSourceInfo& info, uint16_t id) {
  for (const LasVlr& vlr : info.vlrs)
    if (vlr.userId == "LASF_Projection" && vlr.recordId == id) return &vlr;
  return nullptr;
}

std::string TrimmedText(const std::vector<uint8_t>& data) {
  size_t n = data.size();
  while (n > 0 && (data[n - 1] == 0 || data[n - 1] == ' ' || data[n - 1] == '\n')) --n;
  std::string text(data.begin(), data.begin() + long(n));
  for (char& c : text)
    if (c == 0) c = ' ';
  return text;
}

std::string GeoKeysText(const LasVlr& keys, const LasVlr* doubles, const LasVlr* ascii) {
  const std::vector<uint8_t>& d = keys.data;
  if (d.size() < 8) return std::string();
  const size_t count = format::GetU16(d.data() + 6);
  std::string text;
  for (size_t k = 0; k < count && 8 + 8 * (k + 1) <= d.size(); ++k) {
    const uint8_t* e = d.data() + 8 + 8 * k;
    const uint16_t id = format::GetU16(e), location = format::GetU16(e + 2);
    const uint16_t n = format::GetU16(e + 4), value = format::GetU16(e + 6);
    std::string shown;
    if (location == 0) {
      shown = std::to_string(value);
    } else if (location == kGeoDoubleParams && doubles) {
      for (size_t i = 0; i < n && (size_t(value) + i + 1) * 8 <= doubles->data.size(); ++i) {
        char number[32];
        snprintf(number, sizeof number, "%.17g",
                 format::GetF64(doubles->data.data() + (size_t(value) + i) * 8));
        shown += (i ? " " : "") + std::string(number);
      }
    } else if (location == kGeoAsciiParams && ascii) {
      const size_t from = std::min<size_t>(value, ascii->data.size());
      const size_t to = std::min<size_t>(from + n, ascii->data.size());
      for (size_t i = from; i < to; ++i) {
        const char c = char(ascii->data[i]);
        if (c != '|' && c != 0) shown += c;
        else if (i + 1 < to) shown += ' ';
      }
    }
    text += std::string(GeoKeyName(id)) + " (" + std::to_string(id) + ") = " + shown + "\n";
  }
  return text;
}

}  // namespace

void DescribeGeoreferencing(LasSourceInfo& info) {
  info.georeferencingKind.clear();
  info.georeferencing.clear();
  if (const LasVlr* wkt = FindProjectionRecord(info, kWktRecord)) {
    info.georeferencing = TrimmedText(wkt->data);
    if (!info.georeferencing.empty()) {
      info.georeferencingKind = "wkt";
      return;
    }
  }
  if (const LasVlr* keys = FindProjectionRecord(info, kGeoKeyDirectory)) {
    info.georeferencing = GeoKeysText(*keys, FindProjectionRecord(info, kGeoDoubleParams),
                                      FindProjectionRecord(info, kGeoAsciiParams));
    if (!info.georeferencing.empty()) info.georeferencingKind = "geotiff";
  }
}

}  // namespace las
}  // namespace vorlin
