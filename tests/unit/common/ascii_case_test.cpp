#include <gtest/gtest.h>

#include "common/ascii_case.h"

namespace {

using lorvane::EqualsNoCase;

TEST(AsciiCase, LettersMatchInEitherCase)
{
    EXPECT_TRUE(EqualsNoCase("ForceRemove", "FORCEREMOVE"));
    EXPECT_TRUE(EqualsNoCase("com4", "COM4"));
    EXPECT_TRUE(EqualsNoCase("", ""));
}

TEST(AsciiCase, OtherBytesAndLengthsMustMatchExactly)
{
    EXPECT_FALSE(EqualsNoCase("COM1", "COM10"));
    EXPECT_FALSE(EqualsNoCase("[", "{"));  // 0x5B and 0x7B are 32 apart, yet no letters
    EXPECT_FALSE(EqualsNoCase("\xC4", "\xE4"));  // Windows-1251 capital and small De
}

}  // namespace
