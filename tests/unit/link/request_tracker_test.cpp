#include "tool/link/request_tracker.h"

#include <gtest/gtest.h>

#include <thread>

#include "link_fakes.h"
#include "tool/link/link_texts.h"
#include "tool/link/receiver.h"

namespace quillon {
namespace {

using testing::EventLog;
using testing::RecordingOwner;
using testing::RecordingSink;
using testing::ResponseBytes;

class RequestTrackerTest : public ::testing::Test {
protected:
    // Assembles a response the way the receiver would.
    ResponseFrame& Arrive(std::uint8_t command, std::string_view data)
    {
        ResetResponseFrame(response);
        for (std::uint8_t b : ResponseBytes(command, data))
            AddChar(response, b, sink);
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
    RecordingSink sink{log};
    std::atomic<int> busy{7};
    RequestTracker tracker{busy, owner, sink};
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
    EXPECT_EQ(log.Count("message"), 0);
    EXPECT_EQ(log.Count("response"), 1);
    EXPECT_EQ(tracker.Sequence(), 2);
}

TEST_F(RequestTrackerTest, AnswerGoesToOutputFieldAndAdvancesSequence)
{
    Send();
    Arrive(69, "1");
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(tracker.Sequence(), 2);
    const auto events = log.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, "response");
    EXPECT_EQ(events[1].text, texts::kAnswer69);
}

TEST_F(RequestTrackerTest, EveryKnownCommandHasItsOwnText)
{
    // Two blanks before the number; 73 ends without a blank, 108 with two.
    const std::string prefix(texts::kAnswer44.substr(0, texts::kAnswer44.size() - 3));
    const struct { int command; const char* tail; } known[] = {
        {50, "50 "}, {69, "69 "}, {73, "73"}, {79, "79 "}, {94, "94 "}, {95, "95 "}, {108, "108  "}};
    EXPECT_EQ(prefix.substr(prefix.size() - 2), "  ");
    for (const auto& k : known) {
        const Answer answer = AnswerFor(k.command);
        EXPECT_FALSE(answer.inMessageBox) << k.command;
        EXPECT_EQ(answer.text, prefix + k.tail) << k.command;
        EXPECT_EQ(answer.text.data()[answer.text.size()], '\0') << "texts are handed on as C strings";
    }
}

TEST_F(RequestTrackerTest, AnswerTo44IsAQuillonBox)
{
    Send();
    Arrive(44, "");
    const auto events = log.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, "message");
    EXPECT_EQ(events[1].text, texts::kAnswer44);
    EXPECT_EQ(events[1].caption, kCaptionQuillon);
    EXPECT_EQ(events[1].icon, MessageIcon::Information);
    EXPECT_EQ(log.Count("response"), 0);
}

TEST_F(RequestTrackerTest, UnknownAndHighCommandBytesShowTheUnknownText)
{
    for (std::uint8_t command : {std::uint8_t{1}, std::uint8_t{45}, std::uint8_t{0x80}, std::uint8_t{0xEC}}) {
        Send();
        Arrive(command, "xy");
        const auto events = log.Events();
        EXPECT_EQ(events.back().kind, "response") << int(command);
        EXPECT_EQ(events.back().text, texts::kAnswerUnknown) << int(command);
    }
    EXPECT_EQ(tracker.Sequence(), 5);
}

TEST_F(RequestTrackerTest, TaxRateErrorFollowsTheOutputText)
{
    Send();
    const ResponseFrame& r = Arrive(50, "F,0,0");
    EXPECT_EQ(r.data[5], 0) << "data terminated after its last byte";
    const auto events = log.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].kind, "response");
    EXPECT_EQ(events[1].text, texts::kAnswer50);
    EXPECT_EQ(events[2].kind, "message");
    EXPECT_EQ(events[2].text, texts::kTaxRateError);
    EXPECT_EQ(events[2].caption, kCaptionError);
    EXPECT_EQ(events[2].icon, MessageIcon::Error);
}

TEST_F(RequestTrackerTest, TaxRatesWithoutLeadingFOrWithoutDataAreFine)
{
    for (std::string_view data : {"20.00,9.00", "", "f", "0F"}) {
        Send();
        Arrive(50, data);
    }
    EXPECT_EQ(log.Count("message"), 0);
    EXPECT_EQ(log.Count("response"), 4);
}

TEST_F(RequestTrackerTest, OnlyCommand50ChecksForF)
{
    Send();
    Arrive(69, "F");
    EXPECT_EQ(log.Count("message"), 0);
}

TEST_F(RequestTrackerTest, SynExtendsTheWaitAndIsUsedUp)
{
    std::atomic<std::uint8_t> syn{1};
    Send();
    tracker.ResponseTimerFired(syn);
    EXPECT_EQ(busy, 1);
    EXPECT_EQ(syn, 0);
    EXPECT_EQ(log.Count("timer"), 2);
    EXPECT_EQ(log.Count("message"), 0);

    tracker.ResponseTimerFired(syn);   // no SYN in this period
    EXPECT_EQ(busy, 0);
    const auto events = log.Events();
    EXPECT_EQ(events.back().text, texts::kPrinterNotAnswering);
    EXPECT_EQ(events.back().caption, kCaptionNotice);
    EXPECT_EQ(events.back().icon, MessageIcon::Information);
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
    const auto events = log.Events();
    EXPECT_EQ(events.back().text, texts::kUnsolicitedResponse);
    EXPECT_EQ(events.back().caption, kCaptionError);
    EXPECT_EQ(events.back().icon, MessageIcon::Error);
    EXPECT_EQ(log.Count("response"), 0);
    EXPECT_EQ(tracker.Sequence(), 1);
    EXPECT_EQ(busy, 0);
}

// The owner may send again the moment the output text appears: by then the
// request must be over and the next number ready.
class SendingOwner : public LinkOwner {
public:
    void StartResponseTimer() override {}
    void ShowResponse(const char*) override
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
            TakeByte(response, b, sink);
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
    EventLog log;
    RecordingSink sink(log);
    SendingOwner owner;
    std::atomic<int> busy{0};
    RequestTracker tracker(busy, owner, sink);
    owner.tracker = &tracker;
    owner.busy = &busy;
    ResponseFrame r;
    for (std::uint8_t b : ResponseBytes(95, "0001,0002"))
        AddChar(r, b, sink);
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
    RecordingSink sink(log);
    std::atomic<int> busy{0};
    RequestTracker tracker(busy, owner, sink);
    std::atomic<std::uint8_t> syn{0};
    ResponseFrame answered;
    for (std::uint8_t b : ResponseBytes(69, "2"))
        AddChar(answered, b, sink);

    constexpr int kRounds = 300;
    for (int i = 0; i < kRounds; ++i) {
        tracker.RequestStarting();
        tracker.RequestWritten();
        std::thread receiver([&] { tracker.ResponseArrived(answered); });
        tracker.ResponseTimerFired(syn);
        receiver.join();
        EXPECT_EQ(busy, 0);
    }
    const int shown = log.Count("response");
    int notAnswering = 0;
    int unsolicited = 0;
    for (const auto& e : log.Events()) {
        notAnswering += e.text == texts::kPrinterNotAnswering ? 1 : 0;
        unsolicited += e.text == texts::kUnsolicitedResponse ? 1 : 0;
    }
    EXPECT_EQ(shown + notAnswering, kRounds);
    EXPECT_EQ(unsolicited, notAnswering);
    int expected = 1;   // one step per answer
    for (int i = 0; i < shown; ++i)
        expected = NextSequence(expected);
    EXPECT_EQ(tracker.Sequence(), expected);
}

}  // namespace
}  // namespace quillon
