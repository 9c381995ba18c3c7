#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fake_desktop.h"
#include "server/protocol/detector_protocol.h"

namespace orbalin {
namespace {

using testing::FakeDesktop;

constexpr const char* kProgram = "C:\\Wendrix\\Wendrix.exe";

// Every hand-over runs under the lock, no box is shown while it is held, and
// it is free when the call returns.
void ExpectLockKept(const FakeDesktop& desktop)
{
    EXPECT_EQ(desktop.unlockedHandOvers, 0u);
    EXPECT_EQ(desktop.lockedMessages, 0u);
    EXPECT_FALSE(desktop.handOver.held);
}

class InitialiseDetectorTest : public ::testing::Test {
protected:
    void TearDown() override { ExpectLockKept(desktop); }
    FakeDesktop desktop;
};

TEST_F(InitialiseDetectorTest, WithoutProfileValueLooksNothingUpEvenWhenTheProgramRuns)
{
    desktop.AddForm("Lorvane Tessaly");
    desktop.AddForm("Wendrix");
    InitialiseDetector(desktop, desktop.handOver);
    ASSERT_EQ(desktop.profileReads.size(), 1u);
    EXPECT_EQ(desktop.profileReads[0].text, "Orbalin/Orbalin");
    EXPECT_TRUE(desktop.lookups.empty());
    EXPECT_TRUE(desktop.opened.empty());
    EXPECT_TRUE(desktop.titles.empty());
}

TEST_F(InitialiseDetectorTest, RunningProgramGetsTheTextAndTheSignalAtOnce)
{
    desktop.SetProfileValue(kProgram);
    desktop.AddForm("Lorvane Tessaly");
    desktop.AddForm("Wendrix");
    InitialiseDetector(desktop, desktop.handOver);
    EXPECT_TRUE(desktop.opened.empty());
    ASSERT_EQ(desktop.titles.size(), 1u);
    EXPECT_EQ(desktop.titles[0].text, "1|0|0|0|0|0");
    ASSERT_EQ(desktop.keyDowns.size(), 1u);
    EXPECT_EQ(desktop.keyDowns[0].text, "1|0|0|0|0|0 key 255");
    EXPECT_EQ(desktop.keyDowns[0].at, 0u);
    EXPECT_TRUE(desktop.pauses.empty());
}

TEST_F(InitialiseDetectorTest, RunningProgramWaitsThirtySecondsForTheDetectorForm)
{
    desktop.SetProfileValue(kProgram);
    desktop.AddForm("Lorvane Tessaly");
    desktop.AddForm("Wendrix", 30'000);
    InitialiseDetector(desktop, desktop.handOver);
    ASSERT_EQ(desktop.titles.size(), 1u);
    EXPECT_EQ(desktop.titles[0].at, 30'000u);

    FakeDesktop late;
    late.SetProfileValue(kProgram);
    late.AddForm("Lorvane Tessaly");
    late.AddForm("Wendrix", 30'001);
    InitialiseDetector(late, late.handOver);
    EXPECT_TRUE(late.titles.empty());
    EXPECT_TRUE(late.keyDowns.empty());
    EXPECT_EQ(late.now(), 30'000u);
}

TEST_F(InitialiseDetectorTest, WaitForTheLockCountsAgainstTheDetectorLimit)
{
    desktop.SetProfileValue(kProgram);
    desktop.AddForm("Lorvane Tessaly");
    desktop.AddForm("Wendrix");
    desktop.handOver.HeldByPeerUntil(29'000);
    InitialiseDetector(desktop, desktop.handOver);
    ASSERT_EQ(desktop.keyDowns.size(), 1u);
    EXPECT_EQ(desktop.keyDowns[0].at, 29'000u);

    FakeDesktop started;
    started.SetProfileValue(kProgram);
    started.AddForm("Lorvane Tessaly", 1'000);
    started.AddForm("Wendrix", 1'000);
    started.handOver.HeldByPeerUntil(31'000);
    InitialiseDetector(started, started.handOver);
    EXPECT_EQ(started.handOver.acquireLimits, (std::vector<std::uint32_t>{29'000}));
    EXPECT_EQ(started.now(), 30'000u);
    EXPECT_TRUE(started.titles.empty());
    EXPECT_EQ(started.LookupsOf("Wendrix"), 0u);
    ExpectLockKept(started);
}

TEST_F(InitialiseDetectorTest, WaitsPauseBetweenLookUps)
{
    desktop.SetProfileValue(kProgram);
    desktop.AddForm("Lorvane Tessaly");
    InitialiseDetector(desktop, desktop.handOver);
    EXPECT_EQ(desktop.MostLookupsAtOneInstant(), 1u);
    EXPECT_LE(desktop.LookupsOf("Wendrix"), 30'000u / kLookupPauseMs + 1);
    EXPECT_GE(desktop.LookupsOf("Wendrix"), 30'000u / kLookupPauseMs);
}

TEST_F(InitialiseDetectorTest, StartsTheProgramAndPausesBeforeTheSignal)
{
    desktop.SetProfileValue(kProgram);
    desktop.AddForm("Lorvane Tessaly", 1'000);
    desktop.AddForm("Wendrix", 1'500);
    InitialiseDetector(desktop, desktop.handOver);
    ASSERT_EQ(desktop.opened.size(), 1u);
    EXPECT_EQ(desktop.opened[0].text, kProgram);
    ASSERT_EQ(desktop.titles.size(), 1u);
    EXPECT_EQ(desktop.titles[0].text, "1|0|0|0|0|0");
    EXPECT_EQ(desktop.titles[0].at, 1'500u);
    ASSERT_EQ(desktop.keyDowns.size(), 1u);
    EXPECT_EQ(desktop.keyDowns[0].at, 3'500u);
}

TEST_F(InitialiseDetectorTest, HungDetectorEndsTheStartWithoutTheSignal)
{
    desktop.SetProfileValue(kProgram);
    desktop.AddForm("Lorvane Tessaly", 1'000);
    desktop.AddForm("Wendrix", 1'500);
    desktop.HangFromTitle(0);
    InitialiseDetector(desktop, desktop.handOver);
    ASSERT_EQ(desktop.unanswered.size(), 1u);
    EXPECT_EQ(desktop.unanswered[0].text, "title 1|0|0|0|0|0");
    EXPECT_EQ(desktop.now(), 1'500u + kDetectorAnswerLimitMs);
    EXPECT_TRUE(desktop.keyDowns.empty());
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(InitialiseDetectorTest, MainFormFoundLateGivesTheDetectorFormOneLookUp)
{
    desktop.SetProfileValue(kProgram);
    desktop.AddForm("Lorvane Tessaly", 35'000);
    desktop.AddForm("Wendrix", 35'010);
    InitialiseDetector(desktop, desktop.handOver);
    EXPECT_EQ(desktop.LookupsOf("Wendrix"), 1u);
    EXPECT_TRUE(desktop.titles.empty());

    FakeDesktop ready;
    ready.SetProfileValue(kProgram);
    ready.AddForm("Lorvane Tessaly", 35'000);
    ready.AddForm("Wendrix", 35'000);
    InitialiseDetector(ready, ready.handOver);
    EXPECT_EQ(ready.LookupsOf("Wendrix"), 1u);
    ASSERT_EQ(ready.keyDowns.size(), 1u);
    EXPECT_EQ(ready.keyDowns[0].at, 37'000u);
}

TEST_F(InitialiseDetectorTest, DetectorDeadlineCountsFromTheStartRequest)
{
    desktop.SetProfileValue(kProgram);
    desktop.AddForm("Lorvane Tessaly", 20'000);
    desktop.AddForm("Wendrix", 30'001);
    InitialiseDetector(desktop, desktop.handOver);
    EXPECT_TRUE(desktop.titles.empty());
    EXPECT_EQ(desktop.now(), 30'000u);
}

TEST_F(InitialiseDetectorTest, GivesUpFiftySecondsAfterTheStartRequest)
{
    desktop.SetProfileValue(kProgram);
    desktop.AddForm("Lorvane Tessaly", 50'001);
    desktop.AddForm("Wendrix");
    InitialiseDetector(desktop, desktop.handOver);
    EXPECT_EQ(desktop.now(), 50'000u);
    EXPECT_EQ(desktop.LookupsOf("Wendrix"), 0u);
    EXPECT_TRUE(desktop.titles.empty());
    // The look-up before the start request, then one every pause.
    EXPECT_LE(desktop.LookupsOf("Lorvane Tessaly"), 50'000u / kLookupPauseMs + 2);

    FakeDesktop justInTime;
    justInTime.SetProfileValue(kProgram);
    justInTime.AddForm("Lorvane Tessaly", 50'000);
    justInTime.AddForm("Wendrix");
    InitialiseDetector(justInTime, justInTime.handOver);
    EXPECT_EQ(justInTime.LookupsOf("Wendrix"), 1u);
    EXPECT_EQ(justInTime.titles.size(), 1u);
}

class SendCommandTextTest : public ::testing::Test {
protected:
    void TearDown() override { ExpectLockKept(desktop); }
    FakeDesktop desktop;
};

TEST_F(SendCommandTextTest, ReadyDetectorGetsTheTextAndTheSignal)
{
    desktop.AddForm("Wendrix");
    EXPECT_EQ(SendCommandText(desktop, desktop.handOver, "5|0|||0.000000|0.000000"), SendResult::Delivered);
    ASSERT_EQ(desktop.titles.size(), 1u);
    EXPECT_EQ(desktop.titles[0].text, "5|0|||0.000000|0.000000");
    ASSERT_EQ(desktop.keyDowns.size(), 1u);
    EXPECT_EQ(desktop.keyDowns[0].text, "5|0|||0.000000|0.000000 key 255");
    EXPECT_TRUE(desktop.pauses.empty());
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(desktop.answerLimits, (std::vector<std::uint32_t>{kDetectorAnswerLimitMs, kDetectorAnswerLimitMs}));
}

// A detector form whose thread has stopped answers neither the title nor the
// key: after the answer limit the command ends as a busy one does.
TEST_F(SendCommandTextTest, HungDetectorShowsTheBoxAfterTheAnswerLimit)
{
    desktop.AddForm("Wendrix");
    desktop.HangFromTitle(0);
    EXPECT_EQ(SendCommandText(desktop, desktop.handOver, "x"), SendResult::NotResponding);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].at, kDetectorAnswerLimitMs);
    EXPECT_EQ(desktop.messages[0].text, "Tessaly: " + std::string(kNotRespondingText));
    ASSERT_EQ(desktop.unanswered.size(), 1u);
    EXPECT_TRUE(desktop.keyDowns.empty());

    FakeDesktop keyHung;
    keyHung.AddForm("Wendrix");
    keyHung.HangAtKeyDown();
    EXPECT_EQ(SendCommandText(keyHung, keyHung.handOver, "x"), SendResult::NotResponding);
    EXPECT_EQ(keyHung.titles.size(), 1u);
    ASSERT_EQ(keyHung.unanswered.size(), 1u);
    EXPECT_EQ(keyHung.unanswered[0].text, "x key 255");
    EXPECT_EQ(keyHung.messages.size(), 1u);
}

TEST_F(SendCommandTextTest, BusyBeyondTenSecondsShowsTheBoxAndWritesNothing)
{
    desktop.AddForm("Busy");
    desktop.AddForm("Wendrix");
    EXPECT_EQ(SendCommandText(desktop, desktop.handOver, "1|0|||0.000000|0.000000"), SendResult::NotResponding);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].at, 10'000u);
    EXPECT_EQ(desktop.messages[0].text, "Tessaly: " + std::string(kNotRespondingText));
    EXPECT_TRUE(desktop.titles.empty());
    EXPECT_TRUE(desktop.keyDowns.empty());
    EXPECT_EQ(desktop.LookupsOf("Wendrix"), 0u);
    EXPECT_EQ(desktop.MostLookupsAtOneInstant(), 1u);
}

// Another sender's hand-over is waited out within the busy form's limit; a
// sender that keeps the lock longer ends the call as a busy detector does.
TEST_F(SendCommandTextTest, WaitForTheLockCountsAgainstTheBusyLimit)
{
    desktop.AddForm("Busy", 0, 6'000);
    desktop.AddForm("Wendrix");
    desktop.handOver.HeldByPeerUntil(4'000);
    EXPECT_EQ(SendCommandText(desktop, desktop.handOver, "x"), SendResult::Delivered);
    EXPECT_EQ(desktop.handOver.acquireLimits, (std::vector<std::uint32_t>{kBusyLimitMs}));
    ASSERT_EQ(desktop.titles.size(), 1u);
    EXPECT_EQ(desktop.titles[0].at, 6'000u);

    FakeDesktop stuck;
    stuck.AddForm("Wendrix");
    stuck.handOver.HeldByPeerUntil(10'001);
    EXPECT_EQ(SendCommandText(stuck, stuck.handOver, "x"), SendResult::NotResponding);
    ASSERT_EQ(stuck.messages.size(), 1u);
    EXPECT_EQ(stuck.messages[0].at, 10'000u);
    EXPECT_TRUE(stuck.lookups.empty());
    EXPECT_TRUE(stuck.titles.empty());
    ExpectLockKept(stuck);
}

TEST_F(SendCommandTextTest, BusyFormGoneAtTheDeadlineStillCounts)
{
    desktop.AddForm("Busy", 0, 10'000);
    desktop.AddForm("Wendrix");
    EXPECT_EQ(SendCommandText(desktop, desktop.handOver, "x"), SendResult::Delivered);
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(SendCommandTextTest, DetectorSearchStartsWhenTheBusyFormGoes)
{
    desktop.AddForm("Busy", 0, 3'000);
    desktop.AddForm("Wendrix", 8'000);
    EXPECT_EQ(SendCommandText(desktop, desktop.handOver, "x"), SendResult::Delivered);
    ASSERT_EQ(desktop.titles.size(), 1u);
    EXPECT_EQ(desktop.titles[0].at, 8'000u);

    FakeDesktop late;
    late.AddForm("Busy", 0, 3'000);
    late.AddForm("Wendrix", 8'001);
    EXPECT_EQ(SendCommandText(late, late.handOver, "x"), SendResult::DetectorMissing);
    EXPECT_EQ(late.now(), 8'000u);
    EXPECT_TRUE(late.titles.empty());
}

TEST_F(SendCommandTextTest, MissingDetectorDropsTheCommandAfterFiveSeconds)
{
    EXPECT_EQ(SendCommandText(desktop, desktop.handOver, "x"), SendResult::DetectorMissing);
    EXPECT_EQ(desktop.now(), 5'000u);
    EXPECT_TRUE(desktop.titles.empty());
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(desktop.MostLookupsAtOneInstant(), 1u);
}

TEST_F(SendCommandTextTest, SecondCommandBeforeTheTitleComesBackIsDropped)
{
    desktop.AddForm("Wendrix");
    EXPECT_EQ(SendCommandText(desktop, desktop.handOver, "first"), SendResult::Delivered);
    EXPECT_EQ(SendCommandText(desktop, desktop.handOver, "second"), SendResult::DetectorMissing);
    ASSERT_EQ(desktop.titles.size(), 1u);
    EXPECT_EQ(desktop.titles[0].text, "first");
}

TEST(ReadStatus, LowestStatusFormCounts)
{
    FakeDesktop desktop;
    desktop.AddForm("FPStatus=7");
    desktop.AddForm("FPStatus=3");
    EXPECT_EQ(ReadStatus(desktop), 3);

    FakeDesktop other;
    other.AddForm("FPStatus=200");
    other.AddForm("FPStatus=9");
    EXPECT_EQ(ReadStatus(other), 9);
}

TEST(ReadStatus, NoStatusFormReadsZeroAfterAllTitlesWithoutWaiting)
{
    FakeDesktop desktop;
    desktop.AddForm("FPStatus=256");
    desktop.AddFormOfClass("Static", "FPStatus=4");
    EXPECT_EQ(ReadStatus(desktop), 0);
    ASSERT_EQ(desktop.lookups.size(), 256u);
    EXPECT_EQ(desktop.lookups.front().title, "FPStatus=0");
    EXPECT_EQ(desktop.lookups.back().title, "FPStatus=255");
    EXPECT_TRUE(desktop.pauses.empty());

    FakeDesktop highest;
    highest.AddForm("FPStatus=255");
    EXPECT_EQ(ReadStatus(highest), 255);
}

}  // namespace
}  // namespace orbalin
