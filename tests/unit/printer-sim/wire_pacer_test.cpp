#include "wire_pacer.h"

#include <gtest/gtest.h>

#include "sim_test_bytes.h"

namespace quillon::sim {
namespace {

using test::Hex;

struct Sent {
    std::string trace;
    std::int64_t firstUs, lastUs;
};

class RecordingLine : public PacedLine {
public:
    void SendByte(std::uint8_t byte) override { bytes.push_back(byte); }
    void ChunkSent(const std::string& traceLine, std::int64_t firstUs, std::int64_t lastUs) override
    {
        chunks.push_back({traceLine, firstUs, lastUs});
    }
    std::vector<std::uint8_t> bytes;
    std::vector<Sent> chunks;
};

TEST(WirePacer, ByteTimeIsTenBitsAtTheLineSpeed)
{
    EXPECT_EQ(ByteTimeUs(9600), 1042);
    EXPECT_EQ(ByteTimeUs(115200), 87);
    EXPECT_EQ(ByteTimeUs(0), 0);
}

TEST(WirePacer, SendsOneByteAByteTimeAfterTheOneBefore)
{
    WirePacer pacer(1000);
    RecordingLine line;
    pacer.Queue(Hex("01 02"));
    pacer.Queue(Hex("16"));
    pacer.Release(5000, line);   // an idle line sends at once
    pacer.Release(5000, line);
    EXPECT_EQ(line.bytes, Hex("01"));
    EXPECT_EQ(pacer.NextDueUs(), 6000);
    pacer.Release(5999, line);
    EXPECT_EQ(line.bytes, Hex("01"));
    pacer.Release(6000, line);
    EXPECT_EQ(line.bytes, Hex("01 02"));   // the next chunk follows without a gap of its own
    pacer.Release(7000, line);
    EXPECT_EQ(line.bytes, Hex("01 02 16"));
    EXPECT_TRUE(pacer.Idle());
    EXPECT_FALSE(pacer.NextDueUs());
}

TEST(WirePacer, ALateByteDoesNotMakeTheNextOneBurst)
{
    WirePacer pacer(1000);
    RecordingLine line;
    pacer.Queue(Hex("01 02 03"));
    pacer.Release(0, line);
    pacer.Release(4500, line);   // woken late
    EXPECT_EQ(line.bytes, Hex("01 02"));
    pacer.Release(4500, line);
    EXPECT_EQ(line.bytes, Hex("01 02"));
    EXPECT_EQ(pacer.NextDueUs(), 5500);
    // New output after a quiet spell still keeps one byte time from the last byte.
    pacer.Release(5500, line);
    pacer.Queue(Hex("04"));
    EXPECT_EQ(pacer.NextDueUs(), 6500);
}

TEST(WirePacer, TellsEachTracedChunkWithTheTimesOfItsFirstAndLastByte)
{
    WirePacer pacer(1042);
    RecordingLine line;
    pacer.Queue(Hex("FF 7E"));   // untraced chunks are sent but not told
    pacer.Queue(Hex("01 2B 21"));
    pacer.AttachTrace("TX frame");
    pacer.Queue(Hex("16"));
    pacer.AttachTrace("TX SYN 16");
    for (std::int64_t t = 0; !pacer.Idle(); t += 100)
        pacer.Release(t, line);
    EXPECT_EQ(line.bytes, Hex("FF 7E 01 2B 21 16"));
    ASSERT_EQ(line.chunks.size(), 2u);
    EXPECT_EQ(line.chunks[0].trace, "TX frame");
    // Bytes at 0, 1100, 2200, 3300, 4400, 5500 on a 100 us tick.
    EXPECT_EQ(line.chunks[0].firstUs, 2200);
    EXPECT_EQ(line.chunks[0].lastUs, 4400);
    EXPECT_EQ(line.chunks[1].firstUs, 5500);
    EXPECT_EQ(line.chunks[1].lastUs, 5500);
}

}  // namespace
}  // namespace quillon::sim
