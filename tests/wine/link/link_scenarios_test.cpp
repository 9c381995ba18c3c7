// A real CCommunication against the printer simulator on COM1. Each suite is
// one simulator behaviour; run-link-scenarios starts the simulator with the
// matching options and runs the suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "link_wine_harness.h"
#include "tool/link/byte_text.h"
#include "tool/dialog/link_texts.h"
#include "tool/dialog/win32/message_box_sink.h"
#include "tool/link/win32/port_link.h"

namespace quillon::testing {
namespace {

class LinkScenario : public SimulatorTest {
protected:
    std::unique_ptr<CCommunication> Connect(int port = 1)
    {
        auto link = std::make_unique<CCommunication>(port, dialog, events);
        EXPECT_TRUE(link->MakeConection());
        return link;
    }

    // Sends command with data and returns the request's bytes as built.
    std::string Send(CCommunication& link, int command, std::string_view data = {})
    {
        Request(link, command, data);
        return HexBytes(std::span<const std::uint8_t>(request.frame.data(), request.FrameSize()));
    }

    int TimesShown(std::string_view text) const
    {
        const auto events = log.Events();
        return static_cast<int>(std::count_if(events.begin(), events.end(),
                                              [&](const LoggedCall& e) { return e.text == text; }));
    }
};

// Simulator with no faults, answering at once.
using Plain = LinkScenario;

TEST_F(Plain, RequestsReachTheWireAndEveryAnswerShowsItsText)
{
    auto link = Connect();
    const struct { int command; std::string_view data; std::string_view answer; } requests[] = {
        {69, "1", texts::kAnswer69},
        {94, "020402,020403", texts::kAnswer94},
        {73, "0001,0009", texts::kAnswer73},
        {50, "010124,311224", texts::kAnswer50},
        {79, "010124,311224", texts::kAnswer79},
        {95, "0001,0009", texts::kAnswer95},
        {108, "0", texts::kAnswer108},
    };
    std::vector<std::string> sent;
    for (const auto& r : requests) {
        sent.push_back(Send(*link, r.command, r.data));
        ASSERT_TRUE(dialog.RunUntilAnswered(*link)) << r.command;
        ASSERT_TRUE(WaitForEvents(log, "response", static_cast<int>(sent.size())));
        EXPECT_EQ(Of("response").back().text, r.answer) << r.command;
    }
    EXPECT_EQ(sent[0], "01 25 21 45 31 05 30 30 3C 31 03");
    EXPECT_EQ(sent[1], "01 31 22 5E 30 32 30 34 30 32 2C 30 32 30 34 30 33 05 30 33 33 33 03");
    EXPECT_EQ(trace.WaitForRequests(mark, sent.size()), sent);
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(sent[i].substr(6, 2), HexByte(static_cast<std::uint8_t>(0x21 + i)));
    EXPECT_TRUE(Of("message").empty());
}

TEST_F(Plain, AnswerTo44IsAQuillonBox)
{
    auto link = Connect();
    EXPECT_EQ(Send(*link, 44), "01 24 21 2C 05 30 30 37 36 03");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    ASSERT_TRUE(WaitForEvents(log, "message", 1));
    const auto box = Of("message").at(0);
    EXPECT_EQ(box.text, texts::kAnswer44);
    EXPECT_EQ(box.caption, kCaptionQuillon);
    EXPECT_EQ(box.icon, MessageIcon::Information);
    EXPECT_TRUE(Of("response").empty());
}

TEST_F(Plain, UnknownCommandsAndHighCommandBytesShowTheUnknownText)
{
    auto link = Connect();
    for (int command : {45, 0xC8}) {
        Send(*link, command, "7");
        ASSERT_TRUE(dialog.RunUntilAnswered(*link)) << command;
    }
    ASSERT_TRUE(WaitForEvents(log, "response", 2)) << Describe(log);
    for (const auto& e : Of("response"))
        EXPECT_EQ(e.text, texts::kAnswerUnknown);
    const auto wire = trace.WaitForRequests(mark, 2);
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(wire[1].substr(9, 2), "C8");
}

TEST_F(Plain, NewConnectionStartsAgainAtSequence21)
{
    {
        auto first = Connect();
        Send(*first, 69, "1");
        ASSERT_TRUE(dialog.RunUntilAnswered(*first));
        Send(*first, 69, "2");
        ASSERT_TRUE(dialog.RunUntilAnswered(*first));
        first->Disconection();
    }
    auto second = Connect();
    Send(*second, 69, "3");
    ASSERT_TRUE(dialog.RunUntilAnswered(*second));
    const auto wire = trace.WaitForRequests(mark, 3);
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_EQ(wire[0].substr(6, 2), "21");
    EXPECT_EQ(wire[1].substr(6, 2), "22");
    EXPECT_EQ(wire[2].substr(6, 2), "21");
}

// The simulator echoes the sequence byte, as printers do. The 224th number
// would make it 0x00, which the receiver drops from the answer.
TEST_F(Plain, ConnectionAnsweredPastTheSequenceByteZeroKeepsGettingItsAnswers)
{
    auto link = Connect();
    constexpr std::size_t kRequests = 230;
    for (std::size_t i = 0; i < kRequests; ++i) {
        Send(*link, 69, "1");
        ASSERT_TRUE(dialog.RunUntilAnswered(*link)) << "request " << i + 1;
    }
    EXPECT_TRUE(WaitForEvents(log, "response", static_cast<int>(kRequests)));
    EXPECT_EQ(TimesShown(texts::kAnswer69), static_cast<int>(kRequests));
    EXPECT_TRUE(Of("message").empty());
    const auto wire = trace.WaitForRequests(mark, kRequests);
    ASSERT_EQ(wire.size(), kRequests);
    EXPECT_EQ(wire[222].substr(6, 2), "FF");   // number 223
    EXPECT_EQ(wire[223].substr(6, 2), "01");   // 224 passed over
}

// An event of this process, by name, if it exists.
bool EventExists(const char* name)
{
    lorvane::win::UniqueHandle event(::OpenEventA(SYNCHRONIZE, FALSE, name));
    return event.IsValid();
}

TEST_F(Plain, PortNumbersZeroAndFiveOpenCom1)
{
    // Only COM1 leads to the simulator; COM2..COM4 cannot be opened.
    for (int port : {0, 5}) {
        auto link = Connect(port);
        Send(*link, 69, "1");
        EXPECT_TRUE(dialog.RunUntilAnswered(*link)) << port;
        EXPECT_TRUE(EventExists("eventName"));
        EXPECT_TRUE(EventExists("COM1sss")) << port;
        EXPECT_FALSE(EventExists(port == 0 ? "COM0sss" : "COM5sss"));
    }
    ASSERT_TRUE(WaitForEvents(log, "response", 2));
    EXPECT_EQ(trace.WaitForRequests(mark, 2).size(), 2u);
}

TEST_F(Plain, LineSettingsAreApplied)
{
    auto link = Connect();
    // Wine does not enforce the exclusive open, which lets the test look at
    // the line from a second handle (time-outs and event mask belong to the
    // link's own handle and are not visible from there).
    lorvane::win::UniqueHandle view(::CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!view)
        GTEST_SKIP() << "the port is held exclusively";
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(::GetCommState(view.Get(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    // Never sent with flow control off, yet some drivers refuse equal ones.
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_NE(dcb.XonChar, dcb.XoffChar);
}

TEST_F(Plain, PortThatCannotBeOpenedFailsWithoutMessage)
{
    CCommunication link(2, dialog, events);
    EXPECT_FALSE(link.MakeConection());
    EXPECT_TRUE(log.Events().empty()) << Describe(log);
}

TEST_F(Plain, MakeConectionOnAnOpenConnectionStartsAfresh)
{
    auto link = Connect();
    // The port is opened without sharing: this only succeeds if it was released first.
    EXPECT_TRUE(link->MakeConection());
    EXPECT_TRUE(link->MakeConection());
    Send(*link, 95, "0001,0002");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    ASSERT_TRUE(WaitForEvents(log, "response", 1));
    dialog.RunFor(*link, 100ms);
    EXPECT_EQ(Of("response").size(), 1u) << "one receiver, one delivery";
    EXPECT_TRUE(Of("message").empty());
}

// Simulator: --tax-error (command 50 answers "F").
using TaxError = LinkScenario;

TEST_F(TaxError, TextThenErrorBox)
{
    auto link = Connect();
    Send(*link, 50, "010124,311224");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    ASSERT_TRUE(WaitForEvents(log, "message", 1));
    const auto events = log.Events();
    const auto text = std::find_if(events.begin(), events.end(), [](const LoggedCall& e) { return e.kind == "response"; });
    const auto box = std::find_if(events.begin(), events.end(), [](const LoggedCall& e) { return e.kind == "message"; });
    ASSERT_NE(text, events.end());
    EXPECT_EQ(text->text, texts::kAnswer50);
    EXPECT_LT(text - events.begin(), box - events.begin());
    EXPECT_EQ(box->text, texts::kTaxRateError);
    EXPECT_EQ(box->caption, kCaptionError);
    EXPECT_EQ(box->icon, MessageIcon::Error);
}

// Simulator: --delay 800 (answers after the response time-out).
using Late = LinkScenario;

TEST_F(Late, TimeOutThenTheLateAnswerIsUnsolicited)
{
    auto link = Connect();
    Send(*link, 69, "1");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    EXPECT_EQ(link->m_busy, 0);
    ASSERT_EQ(Of("message").size(), 1u);
    EXPECT_EQ(Of("message")[0].text, texts::kPrinterNotAnswering);
    EXPECT_EQ(Of("message")[0].caption, kCaptionNotice);
    EXPECT_EQ(Of("message")[0].icon, MessageIcon::Information);

    ASSERT_TRUE(WaitForEvents(log, "message", 2));
    EXPECT_EQ(Of("message")[1].text, texts::kUnsolicitedResponse);
    EXPECT_EQ(Of("message")[1].caption, kCaptionError);
    EXPECT_TRUE(Of("response").empty());

    Send(*link, 69, "2");
    const auto wire = trace.WaitForRequests(mark, 2);
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(wire[1].substr(6, 2), "21") << "an unsolicited answer does not advance the sequence";
    dialog.RunUntilAnswered(*link);
}

// Simulator: --delay 1700 --syn-every 150.
using Syn = LinkScenario;

TEST_F(Syn, SynKeepsTheWaitOpenAcrossPeriods)
{
    auto link = Connect();
    Send(*link, 69, "1");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    ASSERT_TRUE(WaitForEvents(log, "response", 1));
    EXPECT_EQ(Of("response")[0].text, texts::kAnswer69);
    EXPECT_GE(log.Count("timer"), 4) << "the send and at least three extensions";
    EXPECT_TRUE(Of("message").empty());
}

TEST_F(Syn, TimeOutWhenSynStops)
{
    auto link = Connect();
    Send(*link, 69, "1");
    dialog.RunFor(*link, 1100ms);
    ASSERT_EQ(link->m_busy, 1);
    ASSERT_GE(log.Count("timer"), 3);
    StopSimulator();
    ASSERT_TRUE(dialog.RunUntilAnswered(*link, 3000ms));
    ASSERT_EQ(Of("message").size(), 1u);
    EXPECT_EQ(Of("message")[0].text, texts::kPrinterNotAnswering);
    EXPECT_TRUE(Of("response").empty());
}

// Simulator: --nak (every request answered by NAK only).
using Nak = LinkScenario;

TEST_F(Nak, NakIsIgnoredAndTheWaitTimesOut)
{
    auto link = Connect();
    Send(*link, 69, "1");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    ASSERT_EQ(Of("message").size(), 1u);
    EXPECT_EQ(Of("message")[0].text, texts::kPrinterNotAnswering);
    EXPECT_EQ(trace.WaitForRequests(mark, 1).size(), 1u) << "nothing resent";
    dialog.RunFor(*link, 300ms);
    EXPECT_EQ(trace.RequestsSince(mark).size(), 1u);
}

// Simulator: --noise (stray bytes around every answer).
using Noise = LinkScenario;

TEST_F(Noise, StrayBytesAroundTheAnswerAreIgnored)
{
    auto link = Connect();
    for (const char* data : {"1", "2", "3"}) {
        Send(*link, 69, data);
        ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    }
    ASSERT_TRUE(WaitForEvents(log, "response", 3));
    for (const auto& e : Of("response"))
        EXPECT_EQ(e.text, texts::kAnswer69);
    EXPECT_TRUE(Of("message").empty());
}

// Simulator: --wrong-command (answers carry command | 0x80).
using WrongCommand = LinkScenario;

TEST_F(WrongCommand, HighCommandByteShowsTheUnknownText)
{
    auto link = Connect();
    Send(*link, 69, "1");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    ASSERT_TRUE(WaitForEvents(log, "response", 1));
    EXPECT_EQ(Of("response")[0].text, texts::kAnswerUnknown);
}

// Simulator: --zero-in-frame (a zero byte inside every answer's data).
using ZeroInFrame = LinkScenario;

TEST_F(ZeroInFrame, ZeroIsDroppedSoTheFrameIsOneByteShort)
{
    auto link = Connect();
    Send(*link, 94, "020402,020403");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    ASSERT_EQ(Of("message").size(), 1u);
    EXPECT_EQ(Of("message")[0].text, texts::kPrinterNotAnswering);
    // The short frame is dropped once the line has gone quiet, so the next
    // answer is not completed by it (and shown as the previous command's):
    // it is one byte short again and times out on its own.
    Send(*link, 73, "0001,0020");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    dialog.RunFor(*link, 300ms);
    EXPECT_TRUE(Of("response").empty()) << Describe(log);
    EXPECT_EQ(TimesShown(texts::kPrinterNotAnswering), 2);
}

TEST_F(ZeroInFrame, CloseWhileTheReceiverIsMidFrame)
{
    auto link = Connect();
    Send(*link, 69, "1");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));   // the frame stays one byte short
    const auto start = Clock::now();
    link->Disconection();
    EXPECT_LT(Clock::now() - start, 300ms) << "the receiver ended by itself, not by force";

    // Reopened, the cut-off frame is gone: the next short answer is not completed by it.
    ASSERT_TRUE(link->MakeConection());
    Send(*link, 69, "1");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    EXPECT_EQ(TimesShown(texts::kPrinterNotAnswering), 2);
    EXPECT_TRUE(Of("response").empty());
    EXPECT_EQ(trace.WaitForRequests(mark, 2).size(), 2u);
}

// Simulator: --bad-length (length byte 0x20).
using BadLength = LinkScenario;

TEST_F(BadLength, UnusableLengthIsReportedAndTheFrameDropped)
{
    auto link = Connect();
    Send(*link, 69, "1");
    ASSERT_TRUE(dialog.RunUntilAnswered(*link));
    ASSERT_GE(Of("message").size(), 2u);
    EXPECT_EQ(Of("message")[0].text, "AddChar");
    EXPECT_EQ(Of("message")[0].caption, kCaptionError);
    EXPECT_EQ(Of("message").back().text, texts::kPrinterNotAnswering);
    EXPECT_TRUE(Of("response").empty());
}

// Shows real boxes, as the tool does, on every thread but the test's (a box
// there would block the test), and records each box as it opens and as it
// returns, with the thread that opened the last one.
class ReceiverBoxSink : public MessageSink {
public:
    explicit ReceiverBoxSink(EventLog& log) : m_log(log), m_testThread(::GetCurrentThreadId()) {}

    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override
    {
        const DWORD thread = ::GetCurrentThreadId();
        if (thread != m_testThread)
            m_boxThread = thread;
        m_log.Add({"message", std::string(text), std::string(caption), icon});
        if (thread == m_testThread)
            return;
        MessageBoxSink().ShowMessage(text, caption, icon);
        m_log.Add({"box returned", std::string(text), std::string(caption), icon});
    }
    DWORD BoxThread() const { return m_boxThread; }

private:
    EventLog& m_log;
    const DWORD m_testThread;
    std::atomic<DWORD> m_boxThread{0};
};

// Simulator: --unsolicited 100 (an answer nobody asked for every 100 ms).
// The receiver shows each in a real box, owned by the foreground window: a
// window of this thread, which closes the link, as another program's window
// or the dialog would own it.
class Unsolicited : public LinkScenario {
protected:
    void SetUp() override
    {
        LinkScenario::SetUp();
        if (IsSkipped())
            return;
        owner = ForegroundOwner();
        ASSERT_TRUE(owner);
        PumpMessages();
        ASSERT_EQ(::GetForegroundWindow(), owner.Get());
        link = std::make_unique<CCommunication>(1, dialog, boxEvents);
        ASSERT_TRUE(link->MakeConection());
    }

    // The receiver thread, while it still runs (its id names nothing once it ended).
    static lorvane::win::UniqueHandle OpenReceiver(DWORD threadId)
    {
        return lorvane::win::UniqueHandle(
            ::OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId));
    }

    // After the close: the receiver has left by itself, every box it opened
    // returned, and the owner takes input again.
    void ExpectReceiverLeftAndOwnerEnabled(HANDLE receiver) const
    {
        ASSERT_EQ(::WaitForSingleObject(receiver, 0), WAIT_OBJECT_0) << "the receiver outlived the close";
        DWORD exitCode = STILL_ACTIVE;
        ASSERT_TRUE(::GetExitCodeThread(receiver, &exitCode));
        EXPECT_EQ(exitCode, PortLink::kReceiverLeft) << "ended by force";
        EXPECT_GE(log.Count("message"), 1);
        EXPECT_EQ(log.Count("box returned"), log.Count("message")) << Describe(log);
        EXPECT_TRUE(::IsWindowEnabled(owner.Get())) << "a box ended by force leaves its owner disabled";
    }

    UniqueWindow owner;
    ReceiverBoxSink boxes{log};
    DialogLinkEvents boxEvents{dialog, boxes};
    std::unique_ptr<CCommunication> link;
};

TEST_F(Unsolicited, CloseEndsTheReceiversOpenBox)
{
    HWND box = nullptr;
    for (const auto end = Clock::now() + 3s; !box && Clock::now() < end; std::this_thread::sleep_for(5ms)) {
        PumpMessages();
        box = ::FindWindowW(L"#32770", L"Lorvane Kelmora: Error");
    }
    ASSERT_NE(box, nullptr) << Describe(log);
    EXPECT_EQ(::GetWindow(box, GW_OWNER), owner.Get());
    EXPECT_FALSE(::IsWindowEnabled(owner.Get())) << "the open box disables its owner";
    const auto receiver = OpenReceiver(::GetWindowThreadProcessId(box, nullptr));
    ASSERT_TRUE(receiver);

    link->Disconection();
    EXPECT_FALSE(::IsWindow(box));
    ExpectReceiverLeftAndOwnerEnabled(receiver.Get());
}

// This thread does not pump while it waits for the first box, so the
// receiver is held on its way into the box (disabling the owner takes this
// thread) when the close begins: the box appears only after the close has
// first looked for it.
TEST_F(Unsolicited, CloseEndsABoxThatOpensWhileItWaits)
{
    ASSERT_TRUE(WaitForEvents(log, "message", 1)) << Describe(log);
    const auto receiver = OpenReceiver(boxes.BoxThread());
    ASSERT_TRUE(receiver);
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(::FindWindowW(L"#32770", L"Lorvane Kelmora: Error"), nullptr) << "the box opened already";

    link->Disconection();
    EXPECT_EQ(::FindWindowW(L"#32770", L"Lorvane Kelmora: Error"), nullptr);
    ExpectReceiverLeftAndOwnerEnabled(receiver.Get());
}

}  // namespace
}  // namespace quillon::testing
