// A stand-in for the control dialog around a real CCommunication: it runs the
// response timer on the test's thread as the window's thread would, records
// every ShowResponse and message box, and reads the simulator's trace; and
// the fixture of the tests against the simulator.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/win/unique_any.h"
#include "common/win/unique_handle.h"
#include "tests/unit/link/link_fakes.h"
#include "tool/dialog/link_notices.h"
#include "tool/link/win32/communication.h"

namespace quillon::testing {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline std::string Env(const char* name)
{
    char value[1024];
    const DWORD n = ::GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// A window of the test's thread, e.g. the owner of the link's message boxes.
struct WindowTraits {
    using Type = HWND;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type window) noexcept { return window != nullptr; }
    static void Close(Type window) noexcept { ::DestroyWindow(window); }
};
using UniqueWindow = lorvane::win::UniqueAny<WindowTraits>;

// A top-level window of this thread, made the foreground window, so that a
// box shown on another thread is owned by it.
inline UniqueWindow ForegroundOwner()
{
    UniqueWindow owner(::CreateWindowExW(0, L"STATIC", L"link owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200,
                                         100, nullptr, nullptr, nullptr, nullptr));
    if (owner)
        ::SetForegroundWindow(owner.Get());
    return owner;
}

// A box on another thread disables and enables its owner with messages sent
// to the owner's thread, which must keep them flowing meanwhile.
inline void PumpMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

class FakeDialog : public LinkOwner, public AnswerField {
public:
    explicit FakeDialog(EventLog& log) : m_log(log) {}

    // Window's thread only, like the real timer.
    void StartResponseTimer() override
    {
        m_timerDue = Clock::now() + 500ms;
        m_timerArmed = true;
        m_log.Add({"timer", {}, {}, {}});
    }
    // Receiver thread.
    void ShowResponse(const char* text) override { m_log.Add({"response", text, {}, {}}); }

    // Plays the window's thread until the outstanding request has ended (by
    // its answer or by the time-out) or limit has passed. Returns whether it
    // ended.
    bool RunUntilAnswered(CCommunication& link, std::chrono::milliseconds limit = 5000ms)
    {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            if (m_timerArmed && Clock::now() >= m_timerDue) {
                m_timerArmed = false;   // the dialog stops timer 1 before the call
                link.OnResponseTimer();
            }
            if (link.m_busy == 0)
                return true;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }

    // Runs the timer for a while whatever happens, e.g. to let a late answer in.
    void RunFor(CCommunication& link, std::chrono::milliseconds span)
    {
        const auto end = Clock::now() + span;
        while (Clock::now() < end) {
            if (m_timerArmed && Clock::now() >= m_timerDue) {
                m_timerArmed = false;
                link.OnResponseTimer();
            }
            std::this_thread::sleep_for(1ms);
        }
    }

private:
    EventLog& m_log;
    Clock::time_point m_timerDue{};
    bool m_timerArmed = false;
};

// The recorded calls, one a line, for failure messages.
inline std::string Describe(const EventLog& log)
{
    std::string text;
    for (const auto& e : log.Events())
        text += e.kind + " [" + e.text + "] " + e.caption + "\n";
    return text;
}

// Waits until log holds at least count events of kind.
inline bool WaitForEvents(const EventLog& log, std::string_view kind, int count,
                          std::chrono::milliseconds limit = 3000ms)
{
    const auto end = Clock::now() + limit;
    while (log.Count(kind) < count) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// The simulator's trace, as far as it has been written.
class Trace {
public:
    Trace() : m_path(Env("LINK_TRACE")) {}
    bool Available() const { return !m_path.empty(); }

    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        std::ifstream in(m_path);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    // The hex bytes of every request received since mark, in order.
    std::vector<std::string> RequestsSince(std::size_t mark) const
    {
        std::vector<std::string> requests;
        const auto lines = Lines();
        for (std::size_t i = mark; i < lines.size(); ++i) {
            const auto at = lines[i].find(" RX ");
            if (at == std::string::npos)
                continue;
            const auto bar = lines[i].find(" |", at);
            requests.push_back(lines[i].substr(at + 4, bar == std::string::npos ? std::string::npos : bar - at - 4));
        }
        return requests;
    }
    std::size_t Mark() const { return Lines().size(); }
    // Waits until count requests have been traced since mark.
    std::vector<std::string> WaitForRequests(std::size_t mark, std::size_t count,
                                             std::chrono::milliseconds limit = 2000ms) const
    {
        const auto end = Clock::now() + limit;
        auto requests = RequestsSince(mark);
        while (requests.size() < count && Clock::now() < end) {
            std::this_thread::sleep_for(5ms);
            requests = RequestsSince(mark);
        }
        return requests;
    }

private:
    std::string m_path;
};

// A test of the link against the simulator that run-link-scenarios started:
// skipped without one; the trace counts from where it stood at the start.
class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!trace.Available())
            GTEST_SKIP() << "needs the printer simulator (run through run-link-scenarios)";
        mark = trace.Mark();
    }

    // Sends command with data through link; the record keeps the frame as built.
    void Request(CCommunication& link, int command, std::string_view data)
    {
        request.command = command;
        request.data = reinterpret_cast<const std::uint8_t*>(data.data());
        request.dataLength = static_cast<std::int32_t>(data.size());
        link.SendRequest(request);
    }

    std::vector<LoggedCall> Of(std::string_view kind) const
    {
        std::vector<LoggedCall> picked;
        for (const auto& e : log.Events())
            if (e.kind == kind)
                picked.push_back(e);
        return picked;
    }

    EventLog log;
    FakeDialog dialog{log};
    RecordingSink sink{log};
    DialogLinkEvents events{dialog, sink};   // the dialog's own mapping onto field and boxes
    Trace trace;
    std::size_t mark = 0;
    RequestFrame request;
};

// Asks the script around this program to stop the simulator (see run-link-scenarios).
inline void StopSimulator()
{
    const std::string path = Env("LINK_CONTROL_DIR") + "\\stop-simulator";
    std::ofstream(path) << "stop\n";
}

}  // namespace quillon::testing
