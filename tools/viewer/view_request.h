#ifndef VORLIN_VIEWER_VIEW_REQUEST_H
#define VORLIN_VIEWER_VIEW_REQUEST_H

// The viewer's two request bodies, parsed strictly. A body is a list of
// name=value pairs joined by '&'; every name is required exactly once, and
// numbers lists are comma separated. Nothing here touches an engine.

#include <stdint.h>

#include <string>
#include <vector>

namespace vorlin {
namespace viewer {

// Requests larger than this are refused before they are read.
constexpr size_t kMaxRequestBytes = 4096;
constexpr uint64_t kMinBudget = 1000;
constexpr uint64_t kMaxBudget = 20000000;
constexpr uint64_t kMaxRefineBatch = 2000000;
// The first answer to a camera is built in one piece; this bounds its memory.
constexpr uint64_t kMaxFirstSample = 5000000;

// A camera in file coordinates; the server turns it into a frustum with the
// library's camera helper.
struct CameraRequest {
  std::string session;  // 1 to 64 of [A-Za-z0-9_-], chosen by the page
  uint32_t seq = 0;     // grows with every camera of a session
  double eye[3] = {0, 0, 0};
  double target[3] = {0, 0, 0};
  double up[3] = {0, 0, 1};
  double fov = 60;  // vertical, degrees
  double aspect = 1;
  double nearDistance = 1;
  double farDistance = 1000;
  uint64_t budget = 0;  // points wanted for this camera in all
  uint64_t first = 0;   // of which the first answer brings at most this many
                        // (at most kMaxFirstSample)
};

// More points for the camera seq of a session.
struct RefineRequest {
  std::string session;
  uint32_t seq = 0;
  uint64_t count = 0;
};

// Each returns an empty string and fills out, or the reason the body is
// refused (out is then unspecified). The camera's geometry is checked by the
// camera helper itself, not here.
std::string ParseCameraRequest(const std::string& body, CameraRequest& out);
std::string ParseRefineRequest(const std::string& body, RefineRequest& out);

// Divides count points over tiles in proportion to their visible points,
// never giving a tile more than it has: the shares add up to
// min(count, sum of visible), remainders going to the largest fractions.
std::vector<uint64_t> SplitBudget(uint64_t count, const std::vector<uint64_t>& visible);

}  // namespace viewer
}  // namespace vorlin

#endif
