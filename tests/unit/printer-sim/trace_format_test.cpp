#include "trace_format.h"

#include <gtest/gtest.h>

#include "sim_test_bytes.h"

namespace quillon::sim {
namespace {

using test::Hex;

// Other tests grep these lines, so their exact form is pinned here.
TEST(TraceFormat, ReceivedRequests)
{
    EXPECT_EQ(ReceivedLine({Hex(test::kRequest69), Verdict::Good}),
              "RX 01 25 21 45 31 05 30 30 3C 31 03 | cmd=69 seq=0x21 data=\"1\" checksum=good");
    EXPECT_EQ(ReceivedLine({Hex("01 25 21 45 31 05 30 30 3C 32 03"), Verdict::BadChecksum}),
              "RX BAD 01 25 21 45 31 05 30 30 3C 32 03 | cmd=69 seq=0x21 data=\"1\" checksum=bad reason=checksum");
    EXPECT_EQ(ReceivedLine({Hex("01 10"), Verdict::BadLength}), "RX BAD 01 10 | reason=length");
    EXPECT_EQ(ReceivedLine({Hex("7E 0D"), Verdict::OutsideFrame}), "RX BAD 7E 0D | reason=outside-frame");
}

TEST(TraceFormat, SentBytes)
{
    const Response r = BuildResponse(50, 0x2A, test::Bytes("A\"\\\x01"));
    EXPECT_EQ(ResponseLine(r, "wrong-command").substr(0, 6), "TX 01 ");
    EXPECT_NE(ResponseLine(r).find(" | cmd=50 seq=0x2A data=\"A\\\"\\\\\\x01\" checksum=good"), std::string::npos);
    EXPECT_TRUE(ResponseLine(r, "wrong-command").ends_with("checksum=good fault=wrong-command"));
    EXPECT_EQ(NakLine("checksum"), "TX NAK 15 | reason=checksum");
    EXPECT_EQ(SynLine(), "TX SYN 16");
    EXPECT_EQ(NoiseLine(Hex("FF 0a")), "TX NOISE FF 0A");
}

}  // namespace
}  // namespace quillon::sim
