#include "tool/link/receiver.h"

#include <gtest/gtest.h>

#include <deque>
#include <thread>

#include "link_fakes.h"
#include "tool/link/link_settings.h"

namespace quillon {
namespace {

using testing::EventLog;
using testing::RecordingEvents;
using testing::ResponseBytes;

// Plays back scripted read results, then asks the loop to stop.
class ScriptedPort : public ReceiverPort {
public:
    explicit ScriptedPort(std::atomic<bool>& stop) : m_stop(stop) {}

    void Bytes(const std::vector<std::uint8_t>& bytes)
    {
        for (auto b : bytes)
            script.push_back({ReadResult::Byte, b});
    }
    // Reads that find nothing, each a read wait long, for about ms.
    void Quiet(std::uint64_t ms)
    {
        for (std::uint64_t t = 0; t < ms; t += kReadWaitMs)
            script.push_back({ReadResult::Nothing, 1});
    }

    ReadResult ReadByte(std::uint8_t& byte) override
    {
        if (script.empty()) {
            m_stop = true;
            return ReadResult::Nothing;
        }
        if (failing)
            return ReadResult::Failed;   // as after a line error, until cleared
        const auto [result, value] = script.front();
        script.pop_front();
        if (result == ReadResult::Failed)
            failing = true;
        // A byte takes a millisecond on the line; an empty read a read wait.
        clockMs += result == ReadResult::Nothing && value == 1 ? kReadWaitMs : 1;
        byte = value;
        return result;
    }
    std::uint64_t NowMs() override { return clockMs; }
    void RecoverFromReadFailure() override
    {
        ++recoveries;
        failing = false;
    }
    void DeliverFrame(ResponseFrame& response) override
    {
        delivered.push_back(
            {response.command, std::string(response.data.begin(), response.data.begin() + response.dataLength)});
        ResetResponseFrame(response);
    }

    std::deque<std::pair<ReadResult, std::uint8_t>> script;
    std::vector<std::pair<int, std::string>> delivered;
    bool failing = false;
    int recoveries = 0;
    std::uint64_t clockMs = 1000;

private:
    std::atomic<bool>& m_stop;
};

class ReceiverTest : public ::testing::Test {
protected:
    void Run() { RunReceiver(port, response, events, stop); }

    EventLog log;
    RecordingEvents events{log};
    ResponseFrame response;
    std::atomic<bool> stop{false};
    ScriptedPort port{stop};
};

TEST_F(ReceiverTest, DeliversEachResponseOnceAndIgnoresBytesBetween)
{
    port.Bytes({0x15, 0x33});               // NAK and noise
    port.Bytes(ResponseBytes(69, "1"));
    port.script.push_back({ReadResult::Nothing, 0});
    port.Bytes({0x15, 0x7E, 0x03});
    port.Bytes(ResponseBytes(73, "0001,0009"));
    Run();
    ASSERT_EQ(port.delivered.size(), 2u);
    EXPECT_EQ(port.delivered[0], (std::pair<int, std::string>{69, "1"}));
    EXPECT_EQ(port.delivered[1], (std::pair<int, std::string>{73, "0001,0009"}));
    EXPECT_EQ(log.Events().size(), 2u);
    EXPECT_EQ(log.Count("nak"), 2) << "a NAK is reported and nothing else happens";
}

TEST_F(ReceiverTest, ZeroBytesNeverReachTheAssembler)
{
    // The frame that carries the zero arrives one byte short; the next
    // frame's first byte completes it.
    const auto withZero = ResponseBytes(69, std::string_view("1\0" "2", 3));
    port.Bytes(withZero);
    port.Bytes({0x00, 0x00});
    Run();
    EXPECT_TRUE(port.delivered.empty());
    EXPECT_EQ(response.count, static_cast<int>(withZero.size()) - 1);
    EXPECT_EQ(response.inFrame, 1);
    port.Bytes(ResponseBytes(69, "1"));
    stop = false;
    Run();
    ASSERT_EQ(port.delivered.size(), 1u);
    EXPECT_EQ(port.delivered[0].second, "12\x04");
}

TEST_F(ReceiverTest, AFrameWhoseBytesStopIsDroppedSoTheNextAnswerArrivesWhole)
{
    // One byte short (its zero was dropped), then the line goes quiet: the
    // next answer must not complete the old frame.
    port.Bytes({0x16});
    port.Bytes(ResponseBytes(69, std::string_view("1\0" "2", 3)));
    port.Quiet(kFrameGapMs);
    port.Bytes(ResponseBytes(73, "0001,0009"));
    Run();
    ASSERT_EQ(port.delivered.size(), 1u);
    EXPECT_EQ(port.delivered[0], (std::pair<int, std::string>{73, "0001,0009"}));
    EXPECT_EQ(response.inFrame, 0);
    EXPECT_EQ(log.Count("stalled"), 1);
}

TEST_F(ReceiverTest, ASynBeforeADroppedFrameStillExtendsTheWait)
{
    port.Bytes({0x16, 0x01, 0x2C, 0x21});
    port.Quiet(kFrameGapMs);
    Run();
    EXPECT_EQ(response.inFrame, 0);
    EXPECT_EQ(response.count, 0);
    EXPECT_EQ(response.syn, 1);
}

TEST_F(ReceiverTest, AFrameWithShortPausesIsKeptWhole)
{
    const auto bytes = ResponseBytes(94, "020402,020403");
    port.Bytes({bytes.begin(), bytes.begin() + 10});
    port.Quiet(kFrameGapMs - 2 * kReadWaitMs);   // a slow line, still within the gap
    port.Bytes({bytes.begin() + 10, bytes.end()});
    Run();
    ASSERT_EQ(port.delivered.size(), 1u);
    EXPECT_EQ(port.delivered[0].first, 94);
}

TEST_F(ReceiverTest, SynOutsideFrameSetsTheFlag)
{
    port.Bytes({0x16});
    Run();
    EXPECT_EQ(response.syn, 1);
}

TEST_F(ReceiverTest, LineErrorIsClearedAndTheNextAnswerArrives)
{
    port.script.push_back({ReadResult::Failed, 0});
    port.Bytes(ResponseBytes(95, "0001,0002"));
    Run();
    EXPECT_EQ(port.recoveries, 1);
    ASSERT_EQ(port.delivered.size(), 1u) << "reads fail until the error is cleared";
}

// A byte source that never runs dry, read by the loop on its own thread.
class EndlessPort : public ReceiverPort {
public:
    ReadResult ReadByte(std::uint8_t& byte) override
    {
        byte = 0x15;
        ++reads;
        return ReadResult::Byte;
    }
    void RecoverFromReadFailure() override {}
    void DeliverFrame(ResponseFrame&) override {}
    std::uint64_t NowMs() override { return 0; }
    std::atomic<long> reads{0};
};

TEST(ReceiverStop, StopFlagEndsTheLoopFromAnotherThread)
{
    EventLog log;
    RecordingEvents events(log);
    ResponseFrame response;
    std::atomic<bool> stop{false};
    EndlessPort port;
    std::thread receiver([&] { RunReceiver(port, response, events, stop); });
    while (port.reads < 1000)
        std::this_thread::yield();
    stop = true;
    receiver.join();
    EXPECT_GE(port.reads, 1000);
}

}  // namespace
}  // namespace quillon
