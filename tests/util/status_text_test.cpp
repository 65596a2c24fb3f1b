#include <gtest/gtest.h>

#include <set>
#include <string>

#include "vorlin/status.h"

namespace {

using namespace Zelvane::Vorlin;

TEST(StatusText, EveryStatusHasItsOwnTextAndStrangersAreNamedUnknown) {
  std::set<std::string> texts;
  for (int s = Ok; s <= InvalidArgument; ++s) {
    const char* text = statusText(VorlinStatus(s));
    ASSERT_NE(text, nullptr);
    EXPECT_NE(std::string(text), "unknown status") << s;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), size_t(InvalidArgument) + 1);
  EXPECT_STREQ(statusText(VorlinStatus(42)), "unknown status");
  EXPECT_STREQ(statusText(VorlinStatus(-1)), "unknown status");
}

}  // namespace
