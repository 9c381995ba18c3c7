#include "request_parser.h"

#include <gtest/gtest.h>

#include "sim_test_bytes.h"
#include "tool/link/fiscal_frame.h"

namespace quillon::sim {
namespace {

using test::Bytes;
using test::Hex;

std::vector<ReceivedFrame> FeedAll(RequestParser& parser, const std::vector<std::uint8_t>& bytes, std::int64_t now = 0)
{
    return parser.Feed(bytes, now);
}

TEST(RequestParser, AcceptsTheWorkedExamples)
{
    struct Case { std::string hex; std::uint8_t command; std::string data; } cases[] = {
        {test::kRequest69, 69, "1"},
        {test::kRequest44, 44, ""},
        {test::kRequest94, 94, "020402,020403"},
    };
    for (const auto& c : cases) {
        RequestParser parser;
        const auto frames = FeedAll(parser, Hex(c.hex));
        ASSERT_EQ(frames.size(), 1u) << c.hex;
        EXPECT_EQ(frames[0].verdict, Verdict::Good) << c.hex;
        EXPECT_EQ(frames[0].bytes, Hex(c.hex));
        const Request r = DecodeRequest(frames[0]);
        EXPECT_EQ(r.command, c.command);
        EXPECT_EQ(r.sequence, 0x21);
        EXPECT_EQ(r.data, Bytes(c.data));
        EXPECT_FALSE(parser.InFrame());
    }
}

TEST(RequestParser, RejectsCorruptRequestsWithTheReason)
{
    struct Case { std::string hex; Verdict verdict; } cases[] = {
        {"01 10 21 45 31 05 30 30 3C 31 03", Verdict::BadLength},      // length byte below 0x24
        {"01 26 21 45 31 05 30 30 3C 31 03 00", Verdict::BadLength},   // 0x05 not where the length puts it
        {"01 25 21 45 31 05 30 30 3C 32 03", Verdict::BadChecksum},
        {"01 25 21 45 32 05 30 30 3C 31 03", Verdict::BadChecksum},    // data changed on the way
        {"01 25 21 45 31 05 30 30 3C 31 04", Verdict::BadEnd},
    };
    for (const auto& c : cases) {
        RequestParser parser;
        const auto frames = FeedAll(parser, Hex(c.hex));
        ASSERT_FALSE(frames.empty()) << c.hex;
        EXPECT_EQ(frames[0].verdict, c.verdict) << c.hex;
        EXPECT_FALSE(parser.InFrame()) << c.hex;
    }
}

TEST(RequestParser, ReportsStrayBytesAndStillFindsTheRequests)
{
    RequestParser parser;
    const auto input = Hex("41 16 15 " + test::kRequest69 + " 7E 7F " + test::kRequest44 + " 00");
    const auto frames = FeedAll(parser, input);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].verdict, Verdict::OutsideFrame);
    EXPECT_EQ(frames[0].bytes, Hex("41 16 15"));
    EXPECT_EQ(frames[1].verdict, Verdict::Good);
    EXPECT_EQ(frames[2].verdict, Verdict::OutsideFrame);
    EXPECT_EQ(DecodeRequest(frames[3]).command, 44);
    EXPECT_EQ(frames[4].bytes, Hex("00"));
}

TEST(RequestParser, AssemblesARequestDeliveredInPieces)
{
    const auto request = Hex(test::kRequest94);
    RequestParser parser;
    std::vector<ReceivedFrame> frames;
    for (std::size_t i = 0; i < request.size(); ++i) {
        auto part = parser.Feed(std::span(&request[i], 1), static_cast<std::int64_t>(i));
        frames.insert(frames.end(), part.begin(), part.end());
        EXPECT_EQ(frames.empty(), i + 1 < request.size()) << "after byte " << i;
    }
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].verdict, Verdict::Good);
}

TEST(RequestParser, GivesUpARequestThatStopsHalfWay)
{
    RequestParser parser;
    EXPECT_TRUE(parser.Feed(Hex("01 25 21 45"), 1000).empty());
    ASSERT_EQ(parser.Deadline(), 1000 + RequestParser::kByteGapMs);
    EXPECT_TRUE(parser.Expire(1000 + RequestParser::kByteGapMs - 1).empty());
    const auto frames = parser.Expire(1000 + RequestParser::kByteGapMs);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].verdict, Verdict::Incomplete);
    EXPECT_FALSE(parser.Deadline());
    // The next request is read normally.
    const auto next = parser.Feed(Hex(test::kRequest69), 5000);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].verdict, Verdict::Good);
}

TEST(RequestParser, ARequestCutShortDoesNotSwallowTheNextOne)
{
    // The first request lost its tail, so its length byte counts the start of
    // the second request as its own bytes.
    RequestParser parser;
    auto frames = FeedAll(parser, Hex("01 26 21 5E 30 " + test::kRequest69));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].verdict, Verdict::BadLength);
    EXPECT_EQ(frames[0].bytes, Hex("01 26 21 5E 30"));
    EXPECT_EQ(frames[1].verdict, Verdict::Good);
    EXPECT_EQ(frames[1].bytes, Hex(test::kRequest69));

    // Here the length byte asks for more than follows: the gap ends the wait.
    EXPECT_TRUE(FeedAll(parser, Hex("01 31 21 5E 30 32 " + test::kRequest69)).empty());
    frames = parser.Expire(RequestParser::kByteGapMs);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].verdict, Verdict::Incomplete);
    EXPECT_EQ(frames[0].bytes, Hex("01 31 21 5E 30 32"));
    EXPECT_EQ(frames[1].verdict, Verdict::Good);
}

TEST(RequestParser, AStartByteInsideTheDataIsContent)
{
    RequestFrame request;
    const std::uint8_t data[] = {'1', 0x01, '2'};
    request.sequence = 1;
    request.command = 69;
    request.data = data;
    request.dataLength = 3;
    BuildRequestFrame(request);
    RequestParser parser;
    const auto frames = parser.Feed(std::span(request.frame.data(), request.FrameSize()), 0);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].verdict, Verdict::Good);
    EXPECT_EQ(DecodeRequest(frames[0]).data, std::vector<std::uint8_t>(data, data + 3));
}

TEST(RequestParser, TakesTheLongestRequestTheLengthByteAllows)
{
    std::vector<std::uint8_t> data(FiscalFrame::kMaxRequestData, '7');
    RequestFrame request;
    request.command = 95;
    request.data = data.data();
    request.dataLength = static_cast<std::int32_t>(data.size());
    BuildRequestFrame(request);
    ASSERT_EQ(request.frame[1], 0xFF);
    RequestParser parser;
    const auto frames = parser.Feed(std::span(request.frame.data(), request.FrameSize()), 0);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].verdict, Verdict::Good);
    EXPECT_EQ(frames[0].bytes.size(), RequestParser::kMaxFrame);
}

}  // namespace
}  // namespace quillon::sim
