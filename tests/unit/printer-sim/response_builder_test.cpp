#include "response_builder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "request_parser.h"
#include "sim_test_bytes.h"
#include "tool/link/fiscal_frame.h"

namespace quillon::sim {
namespace {

using test::Bytes;
using test::Hex;

// Counts the length bytes the tool reports as unusable.
struct CountingSink {
    int shown = 0;
};

// Feeds the bytes to the tool's own response assembler as its receiver does
// (zero bytes never reach it); returns whether a frame completed.
bool AssembleAsTheTool(const std::vector<std::uint8_t>& bytes, ResponseFrame& frame, CountingSink& sink)
{
    ResetResponseFrame(frame);
    for (const std::uint8_t b : bytes) {
        if (b == 0)
            continue;
        sink.shown += AddChar(frame, b) == LengthFault::Unusable ? 1 : 0;
        if (frame.complete)
            return true;
    }
    return false;
}

TEST(ResponseBuilder, LaysOutTheFrameAroundTheData)
{
    const auto data = Bytes("1,0.00");
    const Response r = BuildResponse(69, 0x21, data);
    const auto& b = r.bytes;
    const std::size_t n = data.size();
    ASSERT_EQ(b.size(), n + 17);
    EXPECT_EQ(b[0], 0x01);
    EXPECT_EQ(b[1], 0x20 + n + 11);
    EXPECT_EQ(b[2], 0x21);
    EXPECT_EQ(b[3], 69);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), b.begin() + 4));
    EXPECT_EQ(b[4 + n], 0x04);
    EXPECT_EQ(std::vector(b.begin() + 5 + n, b.begin() + 11 + n), Hex("80 80 80 80 80 80"));
    EXPECT_EQ(b[11 + n], 0x05);
    unsigned sum = 0;
    for (std::size_t i = 1; i <= 11 + n; ++i)
        sum += b[i];
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(b[12 + n + i], 0x30 + ((sum >> (12 - 4 * i)) & 0xF)) << "checksum character " << i;
    EXPECT_EQ(b[16 + n], 0x03);
}

TEST(ResponseBuilder, TheToolTakesTheResponseApart)
{
    for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{25}, ResponseLayout::kMaxData}) {
        std::vector<std::uint8_t> data(n);
        for (std::size_t i = 0; i < n; ++i)
            data[i] = static_cast<std::uint8_t>('0' + i % 10);
        const Response r = BuildResponse(94, 0x25, data);
        ResponseFrame frame;
        CountingSink sink;
        ASSERT_TRUE(AssembleAsTheTool(r.bytes, frame, sink)) << n;
        EXPECT_EQ(frame.command, 94);
        EXPECT_EQ(std::vector(frame.data.begin(), frame.data.begin() + frame.dataLength), data);
        EXPECT_EQ(frame.status[0], 0x80);
        EXPECT_EQ(sink.shown, 0);
    }
    EXPECT_EQ(BuildResponse(94, 0x25, std::vector<std::uint8_t>(ResponseLayout::kMaxData)).bytes[1], 0x7F);
    EXPECT_EQ(BuildResponse(94, 0x25, {}).bytes[1], 0x2B);
}

TEST(ResponseBuilder, CutsDataThatTheLengthByteCannotCarry)
{
    const Response r = BuildResponse(69, 0x21, std::vector<std::uint8_t>(200, 'x'));
    EXPECT_EQ(r.data.size(), ResponseLayout::kMaxData);
    EXPECT_EQ(r.bytes[1], 0x7F);
    EXPECT_TRUE(ChecksumMatches(r.bytes));
}

TEST(ResponseBuilder, FaultsBreakTheFrameAsAsked)
{
    const auto data = Bytes("P");
    ResponseFrame frame;
    CountingSink sink;

    const Response badLength = BuildResponse(69, 0x21, data, {.badLength = true});
    EXPECT_EQ(badLength.bytes[1], ResponseLayout::kBadLengthByte);
    EXPECT_FALSE(AssembleAsTheTool(badLength.bytes, frame, sink));
    EXPECT_EQ(sink.shown, 1);   // the tool reports the unusable length

    // The zero is counted in the length but dropped by the tool's receiver,
    // so the frame stays one byte short.
    const Response zero = BuildResponse(69, 0x21, data, {.zeroInFrame = true});
    EXPECT_NE(std::find(zero.bytes.begin() + 1, zero.bytes.end() - 1, 0x00), zero.bytes.end() - 1);
    EXPECT_EQ(zero.bytes[1], 0x20 + zero.data.size() + 11);
    EXPECT_TRUE(ChecksumMatches(zero.bytes));
    EXPECT_FALSE(AssembleAsTheTool(zero.bytes, frame, sink));

    const Response wrong = BuildResponse(69, 0x21, data, {.wrongCommand = true});
    ASSERT_TRUE(AssembleAsTheTool(wrong.bytes, frame, sink));
    EXPECT_NE(frame.command, 69);
    EXPECT_LT(frame.command, 0);   // sign-extended: no command of the tool
    EXPECT_EQ(WrongCommand(0xC5), 0x7F);

    const Response full = BuildResponse(69, 0x21, std::vector<std::uint8_t>(100, 'x'), {.zeroInFrame = true});
    EXPECT_EQ(full.bytes[1], 0x7F);

    // Only the checksum characters differ, and each still looks like one.
    const auto good = BuildResponse(69, 0x21, data).bytes;
    const auto badSum = BuildResponse(69, 0x21, data, {.badChecksum = true}).bytes;
    EXPECT_FALSE(ChecksumMatches(badSum));
    EXPECT_TRUE(std::equal(good.begin(), good.end() - 5, badSum.begin(), badSum.end() - 5));
    EXPECT_TRUE(std::all_of(badSum.end() - 5, badSum.end() - 1, [](std::uint8_t c) { return (c & 0xF0) == 0x30; }));

    EXPECT_EQ(BuildResponse(69, 0x21, data, {.wrongSequence = true}).bytes[2], 0x22);
    for (int sequence = 0; sequence <= 0xFF; ++sequence) {
        const std::uint8_t sent = WrongSequence(static_cast<std::uint8_t>(sequence));
        EXPECT_TRUE(sent != sequence && sent != 0x00) << sequence;   // the tool's receiver drops zero bytes
    }
}

TEST(ResponseBuilder, AnswerBytesSetsTheDataSizeUpToLengthByteFF)
{
    const auto answer = Bytes("A0.00,B20.00");
    const Response longest = BuildResponse(50, 0x21, answer, {.answerBytes = ResponseLayout::kMaxAnswerBytes});
    ASSERT_EQ(longest.bytes.size(), 229u);
    EXPECT_EQ(longest.bytes[1], 0xFF);
    EXPECT_TRUE(ChecksumMatches(longest.bytes));
    EXPECT_EQ(std::string(longest.data.begin(), longest.data.begin() + 14), "A0.00,B20.0000");
    EXPECT_EQ(BuildResponse(50, 0x21, answer, {.answerBytes = 3}).data, Bytes("A0."));
    // A zero in full data takes a byte's place, so the count holds.
    EXPECT_EQ(BuildResponse(50, 0x21, answer, {.zeroInFrame = true, .answerBytes = 212}).bytes.size(), 229u);
}

TEST(AnswerData, AnswersEachCommandPlausibly)
{
    const auto answer = [](std::uint8_t command, const std::string& data, bool taxError = false) {
        return AnswerData(command, Bytes(data), taxError);
    };
    EXPECT_EQ(answer(50, "010125,311225").substr(0, 1), "A");
    EXPECT_EQ(answer(50, "010125,311225", true).substr(0, 1), "F");
    EXPECT_EQ(answer(69, "2").substr(0, 2), "2,");
    EXPECT_EQ(answer(69, "\x01").substr(0, 2), "0,");
    for (const std::uint8_t command : {73, 79, 94, 95, 108})
        EXPECT_FALSE(answer(command, "0").empty()) << int{command};
}

}  // namespace
}  // namespace quillon::sim
