// Figures of the serial link under Wine, driven by bench/link-idle-cpu and
// bench/link-roundtrip:
//   link_bench idle SECONDS     the link open on COM1, no traffic
//   link_bench poll SECONDS     for comparison: a receiver that reads with
//                               zero time-outs and never waits (one byte per
//                               ReadFile, gate event, no pause)
//   link_bench roundtrip COUNT  COUNT requests, SendRequest to ShowResponse
//   link_bench latency COUNT TRACE      at wire speed, last byte to ShowResponse
//   link_bench soak COUNT SEED TRACE    COUNT requests, one fault each (printer-sim --soak SEED)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "link_soak.h"
#include "tool/dialog/link_notices.h"
#include "tool/link/link_owner.h"
#include "tool/link/win32/communication.h"

namespace {

using quillon::CCommunication;

class CountingSink : public quillon::MessageSink {
public:
    void ShowMessage(std::string_view, std::string_view, quillon::MessageIcon) override { ++messages; }
    LONG messages = 0;
};

// Records when the answer reached the output field.
class TimedOwner : public quillon::LinkOwner, public quillon::AnswerField {
public:
    TimedOwner() : answered(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~TimedOwner() override { ::CloseHandle(answered); }
    void StartResponseTimer() override {}
    void ShowResponse(const char*) override
    {
        ::QueryPerformanceCounter(&at);
        ::SetEvent(answered);
    }
    HANDLE answered;
    LARGE_INTEGER at{};
};

// The link on COM1 with its owner and sink, opened.
struct OpenLink {
    OpenLink() : opened(link.MakeConection())
    {
        if (!opened)
            std::fprintf(stderr, "cannot open COM1\n");
    }
    TimedOwner owner;
    CountingSink sink;
    quillon::DialogLinkEvents events{owner, sink};
    CCommunication link{1, owner, events};
    bool opened;
};

void Ready()
{
    std::printf("ready\n");
    std::fflush(stdout);
}

int Idle(DWORD seconds)
{
    OpenLink open;
    if (!open.opened)
        return 1;
    Ready();
    ::Sleep(seconds * 1000);
    open.link.Disconection();
    return 0;
}

struct PollLoop {
    HANDLE port;
    HANDLE gate;
};

DWORD WINAPI ZeroTimeoutReceiver(void* parameter)
{
    const auto& loop = *static_cast<PollLoop*>(parameter);
    OVERLAPPED io{};
    io.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, "COM1sss");
    for (;;) {
        io.Offset = 0;
        io.OffsetHigh = 0;
        unsigned char byte = 0;
        ::WaitForSingleObject(loop.gate, INFINITE);
        DWORD read = 0;
        ::ReadFile(loop.port, &byte, 1, &read, &io);
    }
}

int Poll(DWORD seconds)
{
    HANDLE port = ::CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open COM1\n");
        return 1;
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    ::SetCommTimeouts(port, &timeouts);
    PollLoop loop{port, ::CreateEventA(nullptr, TRUE, TRUE, "eventName")};
    ::CreateThread(nullptr, 0, ZeroTimeoutReceiver, &loop, 0, nullptr);
    Ready();
    ::Sleep(seconds * 1000);
    ::ExitProcess(0);
}

int Roundtrip(int count)
{
    OpenLink open;
    if (!open.opened)
        return 1;
    auto& [owner, sink, events, link, opened] = open;
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    quillon::RequestFrame request;
    static const std::uint8_t kData[] = {'1'};
    std::vector<double> ms;
    int lost = 0;
    for (int i = 0; i < count + 10; ++i) {
        request.command = 69;
        request.data = kData;
        request.dataLength = 1;
        LARGE_INTEGER start;
        ::QueryPerformanceCounter(&start);
        link.SendRequest(request);
        if (::WaitForSingleObject(owner.answered, 2000) != WAIT_OBJECT_0) {
            ++lost;
            link.OnResponseTimer();
            continue;
        }
        if (i >= 10)   // the first few warm the path up
            ms.push_back(double(owner.at.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
    }
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) {
        std::fprintf(stderr, "no answers\n");
        return 1;
    }
    const auto at = [&](double q) { return ms[std::min(ms.size() - 1, std::size_t(q * double(ms.size())))]; };
    std::printf("answers %zu lost %d messages %ld\n", ms.size(), lost, sink.messages);
    std::printf("min %.3f median %.3f p95 %.3f max %.3f ms\n", ms.front(), at(0.5), at(0.95), ms.back());
    return lost == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: link_bench idle|poll SECONDS | roundtrip COUNT | latency COUNT TRACE | "
                             "soak COUNT SEED TRACE\n");
        return 2;
    }
    const std::string_view mode = argv[1];
    const int value = std::atoi(argv[2]);
    if (mode == "idle")
        return Idle(static_cast<DWORD>(value));
    if (mode == "poll")
        return Poll(static_cast<DWORD>(value));
    if (mode == "roundtrip")
        return Roundtrip(value);
    if (mode == "latency" && argc > 3)
        return quillon::bench::Latency(value, argv[3]);
    if (mode == "soak" && argc > 4)
        return quillon::bench::Soak(value, std::strtoull(argv[3], nullptr, 10), argv[4]);
    return 2;
}
