#include "tool/link/receiver.h"

#include <gtest/gtest.h>

#include <deque>
#include <thread>

#include "link_fakes.h"

namespace quillon {
namespace {

using testing::EventLog;
using testing::RecordingSink;
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
        byte = value;
        return result;
    }
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

private:
    std::atomic<bool>& m_stop;
};

class ReceiverTest : public ::testing::Test {
protected:
    void Run() { RunReceiver(port, response, sink, stop); }

    EventLog log;
    RecordingSink sink{log};
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
    EXPECT_TRUE(log.Events().empty());
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
    std::atomic<long> reads{0};
};

TEST(ReceiverStop, StopFlagEndsTheLoopFromAnotherThread)
{
    EventLog log;
    RecordingSink sink(log);
    ResponseFrame response;
    std::atomic<bool> stop{false};
    EndlessPort port;
    std::thread receiver([&] { RunReceiver(port, response, sink, stop); });
    while (port.reads < 1000)
        std::this_thread::yield();
    stop = true;
    receiver.join();
    EXPECT_GE(port.reads, 1000);
}

}  // namespace
}  // namespace quillon
