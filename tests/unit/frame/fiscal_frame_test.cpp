#include "tool/link/fiscal_frame.h"

#include "response_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Build(int sequence, int command, const std::string& data)
{
    RequestFrame request;
    request.sequence = sequence;
    request.command = command;
    request.data = reinterpret_cast<const std::uint8_t*>(data.data());
    request.dataLength = static_cast<std::int32_t>(data.size());
    EXPECT_TRUE(BuildRequestFrame(request));
    EXPECT_EQ(request.length, static_cast<std::int32_t>(data.size()) + 4);
    return Bytes(request.frame.begin(), request.frame.begin() + static_cast<long>(request.FrameSize()));
}

// A well-formed response as a printer sends it, status bytes counting up
// from status0.
Bytes Response(std::uint8_t command, const Bytes& data, std::uint8_t status0 = 0x80)
{
    sim::StatusBytes status{};
    for (std::size_t i = 0; i < status.size(); ++i)
        status[i] = static_cast<std::uint8_t>(status0 + i);
    return sim::BuildResponse(command, 0x21, data, {}, status).bytes;
}

struct Assembler {
    ResponseFrame frame;
    std::vector<LengthFault> faults;   // each length byte that gave a frame up
    std::vector<Bytes> delivered;  // data of each completed frame
    std::vector<int> commands;

    // Feeds bytes like the receiver: delivers and resets on completion.
    void Feed(const Bytes& bytes)
    {
        for (auto b : bytes) {
            if (const LengthFault fault = AddChar(frame, b); fault != LengthFault::None)
                faults.push_back(fault);
            if (frame.complete) {
                delivered.emplace_back(frame.data.begin(), frame.data.begin() + frame.dataLength);
                commands.push_back(frame.command);
                ResetResponseFrame(frame);
            }
        }
    }
};

TEST(BuildRequestFrame, MatchesTheWorkedExamples)
{
    EXPECT_EQ(Build(1, 69, "1"), (Bytes{0x01, 0x25, 0x21, 0x45, 0x31, 0x05, 0x30, 0x30, 0x3C, 0x31, 0x03}));
    EXPECT_EQ(Build(1, 44, ""), (Bytes{0x01, 0x24, 0x21, 0x2C, 0x05, 0x30, 0x30, 0x37, 0x36, 0x03}));
    EXPECT_EQ(Build(1, 94, "020402,020403"),
              (Bytes{0x01, 0x31, 0x21, 0x5E, 0x30, 0x32, 0x30, 0x34, 0x30, 0x32, 0x2C, 0x30, 0x32, 0x30,
                     0x34, 0x30, 0x33, 0x05, 0x30, 0x33, 0x33, 0x32, 0x03}));
}

TEST(BuildRequestFrame, SequenceByteKeepsOnlyLowEightBits)
{
    EXPECT_EQ(Build(96, 69, "1")[2], 0x80);
    EXPECT_EQ(Build(224, 69, "1")[2], 0x00);
    EXPECT_EQ(Build(1, 69, "1")[2], 0x21);
}

TEST(BuildRequestFrame, ChecksumCharactersStayInDigitsAndPunctuation)
{
    // Data chosen so that every nibble value 0..15 appears somewhere.
    for (int fill = 0; fill < 256; fill += 17) {
        const auto frame = Build(fill, fill, std::string(13, static_cast<char>(fill)));
        for (std::size_t i = frame.size() - 5; i < frame.size() - 1; ++i) {
            EXPECT_GE(frame[i], 0x30);
            EXPECT_LE(frame[i], 0x3F);
        }
    }
    EXPECT_EQ(ChecksumChars(0xABCD), (std::array<std::uint8_t, 4>{0x3A, 0x3B, 0x3C, 0x3D}));
}

TEST(BuildRequestFrame, WritesNothingAfterTheEndByte)
{
    RequestFrame request;
    request.frame.fill(0xEE);
    request.sequence = 1;
    request.command = 69;
    const std::uint8_t data[] = {'1'};
    request.data = data;
    request.dataLength = 1;
    BuildRequestFrame(request);
    EXPECT_EQ(request.frame[10], 0x03);
    EXPECT_EQ(request.frame[11], 0xEE);
}

TEST(BuildRequestFrame, LongestDataStillFitsTheLengthByte)
{
    const auto frame = Build(1, 50, std::string(FiscalFrame::kMaxRequestData, '9'));
    EXPECT_EQ(frame.size(), 229u);
    EXPECT_EQ(frame[1], 0xFF);
    EXPECT_EQ(frame.back(), 0x03);
}

TEST(AddChar, TakesApartAResponseWithDataAndStatus)
{
    Assembler a;
    const Bytes data{'A', '2', '0', ',', 'B'};
    for (auto b : Response(50, data, 0x90))
        AddChar(a.frame, b);
    ASSERT_TRUE(a.frame.complete);
    EXPECT_EQ(a.frame.command, 50);
    EXPECT_EQ(a.frame.dataLength, 5);
    EXPECT_EQ(Bytes(a.frame.data.begin(), a.frame.data.begin() + 5), data);
    EXPECT_EQ(a.frame.status, (std::array<std::uint8_t, 6>{0x90, 0x91, 0x92, 0x93, 0x94, 0x95}));
    EXPECT_EQ(a.frame.count, 22);
}

TEST(AddChar, ResponseWithoutDataIsSeventeenBytes)
{
    Assembler a;
    const auto r = Response(69, {});
    ASSERT_EQ(r.size(), 17u);
    ASSERT_EQ(r[1], 0x2B);
    a.Feed(r);
    ASSERT_EQ(a.delivered.size(), 1u);
    EXPECT_TRUE(a.delivered[0].empty());
}

TEST(AddChar, LongestResponseCarriesEightyFourDataBytes)
{
    Assembler a;
    Bytes data(84);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i + 1);  // includes 0x01, 0x15 and 0x16 as content
    const auto r = Response(73, data);
    ASSERT_EQ(r[1], 0x7F);
    ASSERT_EQ(r.size(), 101u);
    a.Feed(r);
    ASSERT_EQ(a.delivered.size(), 1u);
    EXPECT_EQ(a.delivered[0], data);
    EXPECT_EQ(a.frame.syn, 0) << "a SYN inside a frame is content";
}

TEST(AddChar, CommandBytePastSevenBitsIsSignExtended)
{
    Assembler a;
    a.Feed(Response(0x85, {'x'}));
    ASSERT_EQ(a.commands.size(), 1u);
    EXPECT_EQ(a.commands[0], -123);
}

TEST(AddChar, OutsideAFrameOnlyStartAndSynCount)
{
    Assembler a;
    a.Feed({0x15, 0x03, 0x41, 0xFF, 0x16});
    EXPECT_EQ(a.frame.syn, 1);
    EXPECT_EQ(a.frame.inFrame, 0);
    EXPECT_EQ(a.frame.count, 0);
    a.Feed(Response(69, {'1'}));
    EXPECT_EQ(a.delivered.size(), 1u);
    EXPECT_EQ(a.frame.syn, 0) << "the reset after delivery clears the SYN flag";
}

TEST(AddChar, BytesAfterACompleteFrameAreIgnoredExceptSyn)
{
    Assembler a;
    auto stream = Response(69, {'1'});
    stream.insert(stream.end(), {0x41, 0x03, 0x16, 0x15});
    const auto second = Response(94, {'2', '3'});
    stream.insert(stream.end(), second.begin(), second.end());
    a.Feed(stream);
    ASSERT_EQ(a.delivered.size(), 2u);
    EXPECT_EQ(a.commands, (std::vector<int>{69, 94}));
    EXPECT_EQ(a.delivered[1], (Bytes{'2', '3'}));
}

TEST(AddChar, SecondStartByteInsideAFrameIsContent)
{
    Assembler a;
    a.Feed(Response(69, {0x01, 0x16, 0x01}));
    ASSERT_EQ(a.delivered.size(), 1u);
    EXPECT_EQ(a.delivered[0], (Bytes{0x01, 0x16, 0x01}));
}

TEST(AddChar, UnusableLengthByteReportsAndDiscardsTheFrame)
{
    for (std::uint8_t length : {0x00, 0x1A, 0x80, 0xFF}) {
        Assembler a;
        a.Feed({0x01, length, 0x21, 0x45});
        EXPECT_EQ(a.faults, std::vector<LengthFault>{LengthFault::Unusable}) << "length " << int(length);
        EXPECT_EQ(a.frame.inFrame, 0);
        a.Feed(Response(69, {'1'}));
        EXPECT_EQ(a.delivered.size(), 1u) << "the assembler waits for the next frame";
    }
}

TEST(AddChar, TooShortLengthIsDiscardedAsTooShort)
{
    // Expected lengths 1..16 leave no room for command and status.
    for (std::uint8_t length = 0x1B; length < 0x2B; ++length) {
        Assembler a;
        a.Feed({0x01, length, 0x21, 0x45, 0x04, 0x80, 0x80, 0x80});
        EXPECT_TRUE(a.delivered.empty()) << "length " << int(length);
        EXPECT_EQ(a.faults, std::vector<LengthFault>{LengthFault::TooShort});
        a.Feed(Response(69, {'4'}));
        ASSERT_EQ(a.delivered.size(), 1u);
        EXPECT_EQ(a.delivered[0], (Bytes{'4'}));
    }
}

TEST(ResetResponseFrame, KeepsExpectedLengthAndStatus)
{
    Assembler a;
    for (auto b : Response(69, {'1'}, 0xA0))
        AddChar(a.frame, b);
    ResetResponseFrame(a.frame);
    EXPECT_EQ(a.frame.count, 0);
    EXPECT_EQ(a.frame.complete, 0);
    EXPECT_EQ(a.frame.expectedLength, 18);
    EXPECT_EQ(a.frame.status[0], 0xA0);
    EXPECT_EQ(a.frame.raw[0], 0);
    EXPECT_EQ(a.frame.data[0], 0);
}

}  // namespace
}  // namespace quillon
