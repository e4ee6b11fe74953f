#include "diagnostics/log.h"

#include <gtest/gtest.h>

#include "diagnostics/logging_api.h"

namespace Korvel {
namespace {

TEST(Log, Smoke) {
    LogMessage(LogLevel::Error, kLogCategoryDbg, "hello %d", 5);
    EXPECT_NE(Logging::FindTarget("StdErrLogTarget"), nullptr);
}

} // namespace
} // namespace Korvel
