#include "tool/link/link_settings.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

TEST(LinkNames, PortsTwoToFourAreTheirOwnAndEveryOtherNumberIsCom1)
{
    EXPECT_STREQ(PortName(2), "COM2");
    EXPECT_STREQ(PortName(3), "COM3");
    EXPECT_STREQ(PortName(4), "COM4");
    for (int other : {1, 0, 5, -1, 100})
        EXPECT_STREQ(PortName(other), "COM1") << other;
}

TEST(LinkNames, ReceiverEventFollowsThePortName)
{
    for (int n : {0, 1, 2, 3, 4, 5, -7})
        EXPECT_EQ(std::string(ReceiverEventName(n)), std::string(PortName(n)) + "sss") << n;
}

}  // namespace
}  // namespace quillon
