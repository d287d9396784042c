// System error texts: known numbers have text without a line break, unknown ones none.
#include "Platform/SystemError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

namespace Platform {
namespace {

TEST(SystemErrorTest, TextForKnownAndUnknownNumbers) {
    EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
    EXPECT_FALSE(SystemErrorText(EACCES).empty());
    EXPECT_EQ(SystemErrorText(-32767), "");
    EXPECT_EQ(SystemErrorText(12002), "");
}

}  // namespace
}  // namespace Platform
