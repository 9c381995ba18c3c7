#include "tool/link/request_tracker.h"

#include <gtest/gtest.h>

#include <thread>

#include "link_fakes.h"
#include "tool/link/receiver.h"

namespace quillon {
namespace {

using testing::EventLog;
using testing::RecordingOwner;
using testing::RecordingEvents;
using testing::ResponseBytes;

class RequestTrackerTest : public ::testing::Test {
protected:
    // Assembles a response the way the receiver would.
    ResponseFrame& Arrive(std::uint8_t command, std::string_view data)
    {
        ResetResponseFrame(response);
        for (std::uint8_t b : ResponseBytes(command, data))
            AddChar(response, b);
        EXPECT_EQ(response.complete, 1);
        tracker.ResponseArrived(response);
        return response;
    }

    void Send()
    {
        tracker.RequestStarting();
        tracker.RequestWritten();
    }

    EventLog log;
    RecordingOwner owner{log};
    RecordingEvents events{log};
    std::atomic<int> busy{7};
    RequestTracker tracker{busy, owner, events};
    ResponseFrame response;
};

TEST_F(RequestTrackerTest, NewConnectionIsIdleWithSequenceOne)
{
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(tracker.Sequence(), 1);
}

TEST_F(RequestTrackerTest, WrittenRequestIsOutstandingAndArmsTimer)
{
    Send();
    EXPECT_EQ(busy, 1);
    ASSERT_EQ(log.Events().size(), 1u);
    EXPECT_EQ(log.Events()[0].kind, "timer");
}

TEST_F(RequestTrackerTest, AnswerThatArrivesWhileTheRequestIsBeingWrittenIsTaken)
{
    tracker.RequestStarting();
    Arrive(69, "1");
    tracker.RequestWritten();
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(log.Count("answered"), 1);
    EXPECT_EQ(tracker.Sequence(), 2);
}

TEST_F(RequestTrackerTest, AnswerIsReportedWithItsCommandAndAdvancesSequence)
{
    for (std::uint8_t command : {std::uint8_t{69}, std::uint8_t{44}, std::uint8_t{0x80}, std::uint8_t{0xEC}}) {
        Send();
        Arrive(command, "xy");
        const auto events = log.Events();
        EXPECT_EQ(events.back().kind, "answered") << int(command);
        EXPECT_EQ(events.back().command, static_cast<std::int8_t>(command)) << "read as a signed byte";
    }
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(tracker.Sequence(), 5);
}

TEST_F(RequestTrackerTest, TaxRateErrorFollowsTheAnswerOnlyForCommand50WithALeadingF)
{
    Send();
    const ResponseFrame& r = Arrive(50, "F,0,0");
    EXPECT_EQ(r.data[5], 0) << "data terminated after its last byte";
    const auto events = log.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].kind, "answered");
    EXPECT_EQ(events[2].kind, "tax-rate-error");

    for (std::string_view data : {"20.00,9.00", "", "f", "0F"}) {
        Send();
        Arrive(50, data);
    }
    Send();
    Arrive(69, "F");
    EXPECT_EQ(log.Count("tax-rate-error"), 1);
    EXPECT_EQ(log.Count("answered"), 6);
}

TEST_F(RequestTrackerTest, SynExtendsTheWaitAndIsUsedUp)
{
    std::atomic<std::uint8_t> syn{1};
    Send();
    tracker.ResponseTimerFired(syn);
    EXPECT_EQ(busy, 1);
    EXPECT_EQ(syn, 0);
    EXPECT_EQ(log.Count("timer"), 2);
    EXPECT_EQ(log.Count("syn"), 1);

    tracker.ResponseTimerFired(syn);   // no SYN in this period
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(log.Events().back().kind, "no-answer");
    EXPECT_EQ(log.Count("timer"), 2);
}

TEST_F(RequestTrackerTest, TimerWithoutOutstandingRequestDoesNothing)
{
    std::atomic<std::uint8_t> syn{1};
    tracker.ResponseTimerFired(syn);
    EXPECT_TRUE(log.Events().empty());
    EXPECT_EQ(syn, 1) << "a SYN while idle extends the next request's first period";
}

TEST_F(RequestTrackerTest, LateAnswerIsUnsolicitedAndKeepsSequence)
{
    std::atomic<std::uint8_t> syn{0};
    Send();
    tracker.ResponseTimerFired(syn);
    Arrive(69, "1");
    EXPECT_EQ(log.Events().back().kind, "unsolicited");
    EXPECT_EQ(log.Count("answered"), 0);
    EXPECT_EQ(tracker.Sequence(), 1);
    EXPECT_EQ(busy, 0);
}

// The owner may send again the moment the answer is reported: by then the
// request must be over and the next number ready.
class SendingOwner : public LinkOwner, public LinkEvents {
public:
    void StartResponseTimer() override {}
    void OnLinkEvent(const LinkEvent&) override
    {
        busyAtShow = tracker->Sequence() == 2 ? busy->load() : -1;
    }
    RequestTracker* tracker = nullptr;
    std::atomic<int>* busy = nullptr;
    int busyAtShow = 99;
};

// The printer echoes the request's sequence byte; the receiver drops zero
// bytes. A connection that hands out the byte 0x00 would lose that answer
// and, as the number then stays, every answer after it.
TEST_F(RequestTrackerTest, ALongConnectionNeverSendsTheSequenceByteZeroAndLosesNoAnswer)
{
    std::vector<int> passedOver;
    for (int answered = 0; answered < 600; ++answered) {
        const int number = tracker.Sequence();
        RequestFrame request;
        request.command = 69;
        request.sequence = number;
        BuildRequestFrame(request);
        ASSERT_NE(request.frame[2], 0x00) << "sequence number " << number;

        Send();
        ResetResponseFrame(response);
        const std::vector<std::uint8_t> data{'1'};
        for (std::uint8_t b : sim::BuildResponse(69, request.frame[2], data).bytes)
            TakeByte(response, b, events);
        ASSERT_EQ(response.complete, 1) << "answer to sequence number " << number;
        tracker.ResponseArrived(response);
        ASSERT_EQ(busy, 0);
        if (tracker.Sequence() != number + 1)
            passedOver.push_back(number + 1);
    }
    EXPECT_EQ(passedOver, (std::vector<int>{224, 480}));
    EXPECT_EQ(NextSequence(95), 96);   // 0x80 and every other byte stay as they are
    EXPECT_EQ(NextSequence(223), 225);
}

TEST(RequestTrackerOrder, SequenceIsAdvancedBeforeTheAnswerIsShown)
{
    SendingOwner owner;
    std::atomic<int> busy{0};
    RequestTracker tracker(busy, owner, owner);
    owner.tracker = &tracker;
    owner.busy = &busy;
    ResponseFrame r;
    for (std::uint8_t b : ResponseBytes(95, "0001,0002"))
        AddChar(r, b);
    tracker.RequestStarting();
    tracker.RequestWritten();
    tracker.ResponseArrived(r);
    EXPECT_EQ(owner.busyAtShow, 0);
}

// The response and the timer race for the same request: exactly one of them
// ends it, every time.
TEST(RequestTrackerRace, ResponseAndTimerNeverBothEndTheWait)
{
    EventLog log;
    RecordingOwner owner(log);
    RecordingEvents events(log);
    std::atomic<int> busy{0};
    RequestTracker tracker(busy, owner, events);
    std::atomic<std::uint8_t> syn{0};
    ResponseFrame answered;
    for (std::uint8_t b : ResponseBytes(69, "2"))
        AddChar(answered, b);

    constexpr int kRounds = 300;
    for (int i = 0; i < kRounds; ++i) {
        tracker.RequestStarting();
        tracker.RequestWritten();
        std::thread receiver([&] { tracker.ResponseArrived(answered); });
        tracker.ResponseTimerFired(syn);
        receiver.join();
        EXPECT_EQ(busy, 0);
    }
    const int shown = log.Count("answered");
    const int notAnswering = log.Count("no-answer");
    const int unsolicited = log.Count("unsolicited");
    EXPECT_EQ(shown + notAnswering, kRounds);
    EXPECT_EQ(unsolicited, notAnswering);
    int expected = 1;   // one step per answer
    for (int i = 0; i < shown; ++i)
        expected = NextSequence(expected);
    EXPECT_EQ(tracker.Sequence(), expected);
}

}  // namespace
}  // namespace quillon
