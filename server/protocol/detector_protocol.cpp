#include "server/protocol/detector_protocol.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace orbalin {
namespace {

template <typename Integer>
void AppendDecimal(std::string& out, Integer value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// What a wait for a form waits for, judged by what a look-up found.
bool Shown(WindowId window) { return window != kNoWindow; }
bool Gone(WindowId window) { return window == kNoWindow; }

// Looks the form up until what a look-up finds meets until or the deadline
// (start + limit) passes; returns what the last look-up found. The deadline
// is tested between attempts, so the first attempt always counts and a late
// start still gets one look-up.
WindowId WaitForForm(Desktop& desktop, std::string_view title, std::uint64_t start, std::uint32_t limit,
                     bool (*until)(WindowId))
{
    const std::uint64_t deadline = start + limit;
    for (;;) {
        const WindowId window = desktop.FindTopLevel(kFormClass, title);
        if (until(window))
            return window;
        const std::uint64_t now = desktop.Now();
        if (now >= deadline)
            return window;
        desktop.Pause(static_cast<std::uint32_t>(std::min<std::uint64_t>(kLookupPauseMs, deadline - now)));
    }
}

// False when the detector did not answer; the key is not sent after a title
// that went unanswered.
bool HandOver(Desktop& desktop, WindowId detector, std::string_view text)
{
    return desktop.SetTitle(detector, text, kDetectorAnswerLimitMs) &&
           desktop.SendKeyDown(detector, kNewTextKey, kDetectorAnswerLimitMs);
}

// Milliseconds left until the deadline; 0 once it has passed, which still
// allows one attempt.
std::uint32_t Remaining(Desktop& desktop, std::uint64_t deadline)
{
    const std::uint64_t now = desktop.Now();
    return now >= deadline ? 0u : static_cast<std::uint32_t>(deadline - now);
}

// The caller's turn at the hand-over lock, released at the latest when it
// goes out of scope; a message box is shown only after Release.
class HandOverTurn {
public:
    HandOverTurn(HandOverLock& lock, std::uint32_t limitMs) : m_lock(lock), m_held(lock.Acquire(limitMs)) {}
    ~HandOverTurn() { Release(); }
    HandOverTurn(const HandOverTurn&) = delete;
    HandOverTurn& operator=(const HandOverTurn&) = delete;

    bool held() const { return m_held; }
    void Release()
    {
        if (m_held)
            m_lock.Release();
        m_held = false;
    }

private:
    HandOverLock& m_lock;
    bool m_held;
};

SendResult NotResponding(Desktop& desktop, HandOverTurn& turn)
{
    turn.Release();
    desktop.ShowMessage(kNotRespondingText, kNotRespondingCaption);
    return SendResult::NotResponding;
}

}  // namespace

std::string FixedSixDecimals(double value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    // Enough for the largest double: 309 integer digits, sign, point, six decimals.
    char buffer[330];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    if (result.ec != std::errc{})
        return "nan";
    return std::string(buffer, result.ptr);
}

std::string CommandText(std::int16_t commandCode, const SaleLine& line)
{
    std::string text;
    text.reserve(64 + line.code.size() + line.name.size());
    AppendDecimal(text, static_cast<std::int32_t>(commandCode));
    text += '|';
    AppendDecimal(text, line.deviceNumber);
    text += '|';
    text += line.code;
    text += '|';
    text += line.name;
    text += '|';
    text += FixedSixDecimals(line.quantity);
    text += '|';
    text += FixedSixDecimals(line.price);
    return text;
}

std::string StatusTitle(int status)
{
    std::string title = "FPStatus=";
    AppendDecimal(title, status);
    return title;
}

void InitialiseDetector(Desktop& desktop, HandOverLock& lock)
{
    const std::string path = desktop.ReadProfileString(kProfileSection, kProfileKey);
    if (path.empty())
        return;

    if (desktop.FindTopLevel(kFormClass, kMainFormTitle) != kNoWindow) {
        const std::uint64_t start = desktop.Now();
        const HandOverTurn turn(lock, kDetectorFormLimitMs);
        if (!turn.held())
            return;
        const WindowId detector = WaitForForm(desktop, kDetectorFormTitle, start, kDetectorFormLimitMs, Shown);
        if (detector != kNoWindow)
            (void)HandOver(desktop, detector, kInitialisationText);
        return;
    }

    desktop.Open(path);
    const std::uint64_t start = desktop.Now();
    if (WaitForForm(desktop, kMainFormTitle, start, kMainFormLimitMs, Shown) == kNoWindow)
        return;
    const HandOverTurn turn(lock, Remaining(desktop, start + kDetectorFormLimitMs));
    if (!turn.held())
        return;
    const WindowId detector = WaitForForm(desktop, kDetectorFormTitle, start, kDetectorFormLimitMs, Shown);
    if (detector == kNoWindow)
        return;
    if (!desktop.SetTitle(detector, kInitialisationText, kDetectorAnswerLimitMs))
        return;
    // A freshly started program gets time to take in its first text; the
    // lock stays held, or another sender's text would replace this one.
    desktop.Pause(kStartedSignalPauseMs);
    (void)desktop.SendKeyDown(detector, kNewTextKey, kDetectorAnswerLimitMs);
}

SendResult SendCommandText(Desktop& desktop, HandOverLock& lock, std::string_view commandText)
{
    const std::uint64_t start = desktop.Now();
    HandOverTurn turn(lock, kBusyLimitMs);
    if (!turn.held() || !Gone(WaitForForm(desktop, kBusyFormTitle, start, kBusyLimitMs, Gone)))
        return NotResponding(desktop, turn);
    const WindowId detector = WaitForForm(desktop, kDetectorFormTitle, desktop.Now(), kCommandDetectorLimitMs, Shown);
    if (detector == kNoWindow)
        return SendResult::DetectorMissing;
    if (!HandOver(desktop, detector, commandText))
        return NotResponding(desktop, turn);
    return SendResult::Delivered;
}

int ReadStatus(Desktop& desktop)
{
    for (int status = 0; status <= kHighestStatus; ++status) {
        if (desktop.FindTopLevel(kFormClass, StatusTitle(status)) != kNoWindow)
            return status;
    }
    return 0;
}

}  // namespace orbalin
