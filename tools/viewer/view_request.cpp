#include "view_request.h"

#include <errno.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace vorlin {
namespace viewer {

namespace {

using Fields = std::map<std::string, std::string>;

std::string SplitFields(const std::string& body, const std::vector<const char*>& names,
                        Fields& fields) {
  if (body.size() > kMaxRequestBytes) return "request body too large";
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string pair = body.substr(start, end - start);
    const size_t eq = pair.find('=');
    if (eq == std::string::npos) return "expected name=value, got '" + pair.substr(0, 40) + "'";
    const std::string name = pair.substr(0, eq);
    if (std::find_if(names.begin(), names.end(), [&](const char* n) { return name == n; }) ==
        names.end()) {
      return "unknown field '" + name.substr(0, 40) + "'";
    }
    if (!fields.emplace(name, pair.substr(eq + 1)).second) return "field '" + name + "' given twice";
    start = end + 1;
  }
  for (const char* name : names) {
    if (!fields.count(name)) return std::string("missing field '") + name + "'";
  }
  return "";
}

bool ParseNumber(const std::string& text, double& value) {
  if (text.empty() || text.size() > 40 ||
      text.find_first_not_of("0123456789+-.eE") != std::string::npos) {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  value = strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

bool ParseWhole(const std::string& text, uint64_t max, uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

bool ParseTriple(const std::string& text, double out[3]) {
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    size_t end = text.find(',', start);
    if ((i < 2) != (end != std::string::npos)) return false;
    if (end == std::string::npos) end = text.size();
    if (!ParseNumber(text.substr(start, end - start), out[i])) return false;
    start = end + 1;
  }
  return true;
}

std::string ParseSessionAndSeq(const Fields& fields, std::string& session, uint32_t& seq) {
  session = fields.at("session");
  if (session.empty() || session.size() > 64) return "session must be 1 to 64 characters";
  for (char c : session) {
    if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') {
      return "session may hold only letters, digits, '-' and '_'";
    }
  }
  uint64_t value = 0;
  if (!ParseWhole(fields.at("seq"), 0xFFFFFFFFu, value) || value == 0) {
    return "seq must be a whole number from 1 to 4294967295";
  }
  seq = static_cast<uint32_t>(value);
  return "";
}

}  // namespace

std::string ParseCameraRequest(const std::string& body, CameraRequest& out) {
  Fields fields;
  std::string error = SplitFields(body,
                                  {"session", "seq", "eye", "target", "up", "fov", "aspect",
                                   "near", "far", "budget", "first"},
                                  fields);
  if (error.empty()) error = ParseSessionAndSeq(fields, out.session, out.seq);
  if (!error.empty()) return error;
  if (!ParseTriple(fields["eye"], out.eye)) return "eye must be three finite numbers";
  if (!ParseTriple(fields["target"], out.target)) return "target must be three finite numbers";
  if (!ParseTriple(fields["up"], out.up)) return "up must be three finite numbers";
  if (!ParseNumber(fields["fov"], out.fov)) return "fov must be a finite number";
  if (!ParseNumber(fields["aspect"], out.aspect)) return "aspect must be a finite number";
  if (!ParseNumber(fields["near"], out.nearDistance)) return "near must be a finite number";
  if (!ParseNumber(fields["far"], out.farDistance)) return "far must be a finite number";
  if (!ParseWhole(fields["budget"], kMaxBudget, out.budget) || out.budget < kMinBudget) {
    return "budget must be a whole number from " + std::to_string(kMinBudget) + " to " +
           std::to_string(kMaxBudget);
  }
  if (!ParseWhole(fields["first"], std::min(out.budget, kMaxFirstSample), out.first) ||
      out.first == 0) {
    return "first must be a whole number from 1 to the budget and at most " +
           std::to_string(kMaxFirstSample);
  }
  return "";
}

std::string ParseRefineRequest(const std::string& body, RefineRequest& out) {
  Fields fields;
  std::string error = SplitFields(body, {"session", "seq", "count"}, fields);
  if (error.empty()) error = ParseSessionAndSeq(fields, out.session, out.seq);
  if (!error.empty()) return error;
  if (!ParseWhole(fields["count"], kMaxRefineBatch, out.count) || out.count == 0) {
    return "count must be a whole number from 1 to " + std::to_string(kMaxRefineBatch);
  }
  return "";
}

std::vector<uint64_t> SplitBudget(uint64_t count, const std::vector<uint64_t>& visible) {
  std::vector<uint64_t> shares(visible.size(), 0);
  unsigned __int128 total = 0;
  for (uint64_t v : visible) total += v;
  if (total == 0) return shares;
  if (count >= total) return visible;
  std::vector<std::pair<uint64_t, size_t>> remainders;  // (fraction numerator, tile)
  uint64_t given = 0;
  for (size_t i = 0; i < visible.size(); ++i) {
    const unsigned __int128 product = static_cast<unsigned __int128>(count) * visible[i];
    shares[i] = static_cast<uint64_t>(product / total);
    remainders.emplace_back(static_cast<uint64_t>(product % total), i);
    given += shares[i];
  }
  // Largest remainders first; ties to the earlier tile, so the split is stable.
  std::stable_sort(remainders.begin(), remainders.end(),
                   [](const std::pair<uint64_t, size_t>& a, const std::pair<uint64_t, size_t>& b) {
                     return a.first > b.first;
                   });
  for (size_t k = 0; given < count && k < remainders.size(); ++k) {
    const size_t i = remainders[k].second;
    if (shares[i] < visible[i]) {
      ++shares[i];
      ++given;
    }
  }
  return shares;
}

}  // namespace viewer
}  // namespace vorlin
