#include "diagnostics/format_message.h"

#include <gtest/gtest.h>

namespace Korvel {
namespace {

TEST(FormatMessage, NumberedPlaceholders) {
    EXPECT_EQ(FormatMessage("%1 (%2)", "Not Found", 404), "Not Found (404)");
    EXPECT_EQ(FormatMessage("%2 %1", "a", "b"), "b a");
    EXPECT_EQ(FormatMessage("%1.%2.%3", 1, 2, 3), "1.2.3");
}

} // namespace
} // namespace Korvel
