#include "view_request.h"

#include <gtest/gtest.h>

namespace vorlin {
namespace viewer {
namespace {

const std::string kCamera =
    "session=ab-1_Z&seq=7&eye=1.5,-2,3e2&target=0,0,0&up=0,0,1&fov=60&aspect=1.5&near=0.5"
    "&far=900&budget=2000000&first=1000000";

std::string Replace(const std::string& field, const std::string& value,
                    const std::string& body = kCamera) {
  const size_t at = body.find(field + "=");
  const size_t end = body.find('&', at);
  return body.substr(0, at) + field + "=" + value +
         (end == std::string::npos ? "" : body.substr(end));
}

TEST(ViewRequest, ParsesACamera) {
  CameraRequest request;
  ASSERT_EQ(ParseCameraRequest(kCamera, request), "");
  EXPECT_EQ(request.session, "ab-1_Z");
  EXPECT_EQ(request.seq, 7u);
  EXPECT_DOUBLE_EQ(request.eye[0], 1.5);
  EXPECT_DOUBLE_EQ(request.eye[2], 300.0);
  EXPECT_DOUBLE_EQ(request.nearDistance, 0.5);
  EXPECT_EQ(request.budget, 2000000u);
  EXPECT_EQ(request.first, 1000000u);
}

TEST(ViewRequest, RefusesMalformedOrOutOfRangeCameras) {
  const struct {
    std::string body;
    const char* reasonMentions;
  } cases[] = {
      {"", "name=value"},
      {kCamera + "&extra=1", "unknown field 'extra'"},
      {kCamera + "&seq=8", "given twice"},
      {kCamera.substr(0, kCamera.find("&first")), "missing field 'first'"},
      {Replace("session", ""), "session"},
      {Replace("session", "../etc"), "session"},
      {Replace("session", std::string(65, 'a')), "session"},
      {Replace("seq", "0"), "seq"},
      {Replace("seq", "4294967296"), "seq"},
      {Replace("seq", "-1"), "seq"},
      {Replace("eye", "1,2"), "eye"},
      {Replace("eye", "1,2,3,4"), "eye"},
      {Replace("eye", "1,nan,3"), "eye"},
      {Replace("target", "1,inf,3"), "target"},
      {Replace("up", "0,0,"), "up"},
      {Replace("fov", "1e999"), "fov"},
      {Replace("aspect", " 1"), "aspect"},
      {Replace("near", "0x10"), "near"},
      {Replace("budget", "999"), "budget"},
      {Replace("budget", "20000001"), "budget"},
      {Replace("budget", "99999999999999999999999"), "budget"},
      {Replace("first", "0"), "first"},
      {Replace("first", "2000001"), "first"},
      {Replace("first", "6000000", Replace("budget", "9000000")), "first"},
      {kCamera + "&pad=" + std::string(kMaxRequestBytes, 'x'), "too large"},
  };
  for (const auto& c : cases) {
    CameraRequest request;
    const std::string reason = ParseCameraRequest(c.body, request);
    EXPECT_NE(reason.find(c.reasonMentions), std::string::npos)
        << "body: " << c.body.substr(0, 120) << "\nreason: " << reason;
  }
}

TEST(ViewRequest, RefinementsNeedACountInRange) {
  RefineRequest request;
  ASSERT_EQ(ParseRefineRequest("session=s&seq=3&count=500000", request), "");
  EXPECT_EQ(request.seq, 3u);
  EXPECT_EQ(request.count, 500000u);
  EXPECT_NE(ParseRefineRequest("session=s&seq=3&count=0", request), "");
  EXPECT_NE(ParseRefineRequest("session=s&seq=3&count=2000001", request), "");
  EXPECT_NE(ParseRefineRequest("session=s&seq=3", request), "");
}

TEST(BudgetSplit, FollowsVisiblePointsAndAddsUpExactly) {
  EXPECT_EQ(SplitBudget(1000, {3000, 1000}), (std::vector<uint64_t>{750, 250}));
  // Remainders go to the largest fractions: 10 over 1:1:1 gives 4, 3, 3.
  EXPECT_EQ(SplitBudget(10, {5, 5, 5}), (std::vector<uint64_t>{4, 3, 3}));
  // A tile that sees nothing gets nothing; more than is visible gives all.
  EXPECT_EQ(SplitBudget(100, {0, 40}), (std::vector<uint64_t>{0, 40}));
  EXPECT_EQ(SplitBudget(100, {0, 0}), (std::vector<uint64_t>{0, 0}));
  EXPECT_EQ(SplitBudget(0, {7, 9}), (std::vector<uint64_t>{0, 0}));
  const std::vector<uint64_t> visible = {4000000000ull, 1, 123456789, 77};
  for (uint64_t count : {1ull, 2ull, 999ull, 20000000ull}) {
    const std::vector<uint64_t> shares = SplitBudget(count, visible);
    uint64_t sum = 0;
    for (size_t i = 0; i < shares.size(); ++i) {
      EXPECT_LE(shares[i], visible[i]);
      sum += shares[i];
    }
    EXPECT_EQ(sum, count);
  }
}

}  // namespace
}  // namespace viewer
}  // namespace vorlin
