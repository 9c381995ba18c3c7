#include "tool/report/wire_text.h"

#include <gtest/gtest.h>

#include "report_fakes.h"
#include "tests/unit/link/link_fakes.h"
#include "tool/link/receiver.h"
#include "tool/report/utf8_text.h"

namespace quillon::report {
namespace {

TEST(WireText, HexAndDataText)
{
    const std::vector<std::uint8_t> bytes{0x01, 0xAB, 0x3C};
    EXPECT_EQ(HexBytes(bytes), "01 AB 3C");
    EXPECT_EQ(HexBytes({}), "");
    const std::vector<std::uint8_t> data{'A', '"', '\\', 0x04, 0xC4, 0x98};
    EXPECT_EQ(DataText(data, CyrillicLetterUtf8), "A\\\"\\\\\\x04\xD0\x94\\x98");
}

TEST(WireText, RequestLineOfTheWorkedExample)
{
    RequestFrame frame;
    const std::string data = "1";
    frame.sequence = 1;
    frame.command = 69;
    frame.data = reinterpret_cast<const std::uint8_t*>(data.data());
    frame.dataLength = 1;
    BuildRequestFrame(frame);
    EXPECT_EQ(RequestLine(frame), "TX 01 25 21 45 31 05 30 30 3C 31 03 | cmd=69 seq=0x21 data=\"1\"");
}

TEST(WireTrace, OneLinePerFrameAndControlByte)
{
    std::vector<std::string> lines;
    WireTrace trace([&](const std::string& line) { lines.push_back(line); });
    quillon::testing::EventLog log;
    quillon::testing::RecordingEvents events{log};
    ResponseFrame response;
    ResetResponseFrame(response);
    std::vector<std::uint8_t> wire{0x16, 0x7A, 0x7B, 0x15};
    const std::vector<std::uint8_t> frame = testing::Response(0xC5, "P");
    wire.insert(wire.end(), frame.begin(), frame.end());
    wire.insert(wire.end(), {0x01, 0x10, 0x33});
    for (std::uint8_t b : wire) {
        const bool wasInFrame = response.inFrame != 0;
        const bool complete = quillon::TakeByte(response, b, events);
        trace.Received(b, wasInFrame, response);
        if (complete)
            ResetResponseFrame(response);
    }
    trace.Finish();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "RX SYN 16");
    EXPECT_EQ(lines[1], "RX NOISE 7A 7B");
    EXPECT_EQ(lines[2], "RX NAK 15");
    EXPECT_EQ(lines[3], "RX " + HexBytes(frame) + " | cmd=197 seq=0x21 data=\"P\" status=80 81 82 83 84 85");
    EXPECT_EQ(lines[4], "RX BAD 01 10 | reason=length");
    EXPECT_EQ(lines[5], "RX NOISE 33");
}

}  // namespace
}  // namespace quillon::report
