// The platform the whole suite is tested on: catches a harness that runs the
// tests in the wrong code page.
#include <windows.h>

#include <gtest/gtest.h>

TEST(Platform, RunsWithTheJapaneseAnsiCodePage) { EXPECT_EQ(932u, GetACP()); }
