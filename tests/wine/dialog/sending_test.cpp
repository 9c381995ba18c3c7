// Sending from the dialog against the printer simulator on COM1: every
// operation, the refusals before anything goes out, the busy link, and how
// long an answer stays shown.
#include <gtest/gtest.h>

#include <thread>

#include "dialog_harness.h"
#include "tool/dialog/link_texts.h"

namespace quillon::testing {
namespace {

using namespace remote;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool RangeFieldsVisible(const QuillonProcess& quillon)
{
    return ::IsWindowVisible(quillon.Item(kRangeFirst)) && ::IsWindowVisible(quillon.Item(kRangeSecond));
}

TEST(DialogSend, EveryOperationGoesOutWithItsRangeAndShowsItsAnswer)
{
    const Trace trace(TracePath(1));
    QuillonProcess quillon(QuillonExe());
    ASSERT_TRUE(StartDialog(quillon));
    const std::string_view answers[11] = {
        texts::kAnswer50, texts::kAnswer69, texts::kAnswer69, texts::kAnswer69, texts::kAnswer69, texts::kAnswer73,
        texts::kAnswer94, texts::kAnswer108, texts::kAnswer108, texts::kAnswer79, texts::kAnswer95,
    };
    int sequence = 0x21;
    for (int index = 0; index < 11; ++index) {
        const std::string what = "operation " + std::to_string(index);
        // What the operator typed is replaced on every switch to a range operation.
        quillon.SetItemText(kRangeFirst, L"111");
        quillon.SetItemText(kRangeSecond, L"222");
        quillon.PickAndWait(kOperationList, index);
        const RangeDefaults* range = FindRangeDefaults(index);
        std::string data(FindReportOperation(index)->dataText);
        if (range) {
            EXPECT_TRUE(RangeFieldsVisible(quillon)) << what << ": range fields shown";
            EXPECT_TRUE(quillon.ItemText(kRangeFirst) == Wide(range->firstText) &&
                        quillon.ItemText(kRangeSecond) == Wide(range->secondText))
                << what << ": range defaults";
            EXPECT_EQ(quillon.FocusedControl(), quillon.Item(kRangeFirst)) << what << ": focus in the first field";
            data = std::string(range->firstText) + "," + std::string(range->secondText);
        } else {
            EXPECT_TRUE(!::IsWindowVisible(quillon.Item(kRangeFirst)) && !::IsWindowVisible(quillon.Item(kRangeSecond)))
                << what << ": range fields hidden";
            EXPECT_EQ(quillon.ItemText(kRangeFirst), L"111") << what << ": hidden fields keep their text";
        }
        if (index == 4) {
            ::SetForegroundWindow(quillon.Dialog());
            quillon.SetItemText(kOutput, L"");
            const auto before = trace.Requests().size();
            quillon.PressKey(VK_RETURN);   // Enter is OK
            TraceRequest request;
            EXPECT_TRUE(trace.WaitForRequest(before, request) && request.command == 69 && request.data == "4")
                << "Enter sends the operation";
            EXPECT_TRUE(WaitFor([&] { return quillon.ItemText(kOutput) == Wide(answers[index]); })) << "Enter: answer";
        } else {
            ExpectSent(quillon, trace, index, sequence, data, answers[index], what);
        }
        ++sequence;
    }
    // Also from one date operation to another the fields are reset.
    quillon.PickAndWait(kOperationList, 0);
    quillon.SetItemText(kRangeFirst, L"311299");
    quillon.PickAndWait(kOperationList, 6);
    EXPECT_EQ(quillon.ItemText(kRangeFirst), L"020402") << "date to date: defaults again";
    // Number defaults, labelled and typed.
    quillon.PickAndWait(kOperationList, 5);
    quillon.SetItemText(kRangeFirst, L"00001");
    quillon.SetItemText(kRangeSecond, L"020");
    ExpectSent(quillon, trace, 5, sequence, "00001,020", texts::kAnswer73, "numbers 5 + 3 digits");
    EXPECT_TRUE(::IsWindow(quillon.Dialog())) << "the dialog stays open after sending";

    quillon.Click(IDCANCEL);   // Exit
    ExpectExit(quillon, "Exit");
}

TEST(DialogSend, WrongLengthsAndUnknownOperationsAreToldAndNothingGoesOut)
{
    const Trace trace(TracePath(1));
    QuillonProcess quillon(QuillonExe());
    ASSERT_TRUE(StartDialog(quillon));
    quillon.SetItemText(kRangeFirst, L"02040");
    quillon.Click(IDOK);
    ExpectMessage(quillon, MessageFor(0, "", ""), "date message");
    EXPECT_EQ(quillon.ItemText(kRangeFirst), L"02040") << "date message: the field keeps its text";

    quillon.PickAndWait(kOperationList, 5);
    quillon.SetItemText(kRangeFirst, L"1");
    quillon.SetItemText(kRangeSecond, L"20");
    quillon.Click(IDOK);
    ExpectMessage(quillon, MessageFor(5, "", ""), "first number message");

    quillon.PickAndWait(kOperationList, 10);
    quillon.SetItemText(kRangeFirst, L"1");
    quillon.SetItemText(kRangeSecond, L"20");
    quillon.Click(IDOK);
    ExpectMessage(quillon, MessageFor(10, "", ""), "second number message");

    // No selection: the list reports -1.
    quillon.Pick(kOperationList, -1);
    ExpectMessageBox(quillon, kLatinNoOperation, L"Lorvane Kelmora: Error", IconColour::Red, "unknown operation (list)");
    quillon.Click(IDOK);
    ExpectMessage(quillon, kNoOperationMessage, "unknown operation (OK)");

    // Nothing went out: the first request the printer sees is this one.
    quillon.PickAndWait(kOperationList, 1);
    ExpectSent(quillon, trace, 1, 0x21, "1", texts::kAnswer69, "after the messages");
    EXPECT_EQ(trace.Requests().size(), 1u) << "only one request reached the printer";

    ::PostMessageW(quillon.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);   // the close box
    ExpectExit(quillon, "close box");
}

namespace {

// secondOkAfter: against a paced answer, the second OK comes while its
// bytes are still arriving.
void SecondOkIsRefusedAndTheLateAnswerStillShows(std::chrono::milliseconds secondOkAfter)
{
    const Trace trace(TracePath(1));
    QuillonProcess quillon(QuillonExe());
    ASSERT_TRUE(StartDialog(quillon));
    quillon.PickAndWait(kOperationList, 2);
    quillon.Click(IDOK);
    std::this_thread::sleep_for(secondOkAfter);
    quillon.Click(IDOK);   // before the (slow) answer is complete
    // The late answer comes from the receiver thread while the busy box is
    // open on the window's thread: it is shown all the same, box still open.
    ExpectMessage(quillon, kBusyMessage, "busy message", [&] {
        EXPECT_TRUE(WaitFor([&] { return quillon.ItemText(kOutput) == Wide(texts::kAnswer69); }))
            << "busy: the late answer is shown while the box is open";
    });
    EXPECT_EQ(trace.Requests().size(), 1u) << "busy: one request only";
    quillon.Click(IDCANCEL);
    ExpectExit(quillon, "Exit");
}

}  // namespace

TEST(DialogSend, SecondOkWhileBusyIsRefusedAndTheLateAnswerStillShows)
{
    SecondOkIsRefusedAndTheLateAnswerStillShows(std::chrono::milliseconds(0));
}

// Run against the longest answer at 9600 baud: about 105 ms on the wire.
TEST(DialogSend, SecondOkWhileAPacedAnswerArrivesIsRefusedAndTheAnswerShows)
{
    SecondOkIsRefusedAndTheLateAnswerStillShows(std::chrono::milliseconds(50));
}

TEST(DialogSend, AnAnswerStaysFiveSecondsFromTheLastOne)
{
    const Trace trace(TracePath(1));
    QuillonProcess quillon(QuillonExe());
    ASSERT_TRUE(StartDialog(quillon));
    quillon.PickAndWait(kOperationList, 1);
    ExpectSent(quillon, trace, 1, 0x21, "1", texts::kAnswer69, "first answer");
    const auto first = Clock::now();
    std::this_thread::sleep_for(3s);   // the second answer comes 3 s after the first
    quillon.PickAndWait(kOperationList, 7);
    ExpectSent(quillon, trace, 7, 0x22, "0", texts::kAnswer108, "second answer");
    const auto second = Clock::now();
    const std::wstring shown = Wide(texts::kAnswer108);
    // 5.5 s after the first answer the second one still stands...
    std::this_thread::sleep_until(first + 5500ms);
    EXPECT_EQ(quillon.ItemText(kOutput), shown) << "the second answer restarts the 5 s";
    // ...and goes about 5 s after its own arrival.
    EXPECT_TRUE(WaitFor([&] { return quillon.ItemText(kOutput).empty(); }, 5s)) << "the output field is emptied";
    const auto cleared = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - second).count();
    std::printf("output emptied %lld ms after the second answer\n", static_cast<long long>(cleared));
    EXPECT_TRUE(cleared >= 4500 && cleared <= 6500) << "emptied 5 s after the last answer, took " << cleared << " ms";
    quillon.Click(IDCANCEL);
    ExpectExit(quillon, "Exit");
}

}  // namespace
}  // namespace quillon::testing
