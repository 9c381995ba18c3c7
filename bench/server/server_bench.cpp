// server_bench MODE DETECTOR_SIM [WINESERVER_PID]
//   wait-cpu        SendCommand waiting out a busy form for the whole 10 s:
//                   CPU of this process (and of the wineserver, when its Unix
//                   pid is given) as a share of one core
//   wait-cpu-spin   the same wait without the pause between look-ups, as a
//                   reference for what a spinning wait costs
//   calls           CheckStatus without status forms, SendCommand to a ready detector
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "server/object/win32/orbalin_obj.h"
#include "server/object/win32/win32_desktop.h"
#include "tests/wine/object/test_object.h"

namespace {

using orbalin::Desktop;
using orbalin::OrbalinObj;
using orbalin::Win32Desktop;
using orbalin::WindowId;

// The object without the module around it, as the object tests make it.
using BenchObject = orbalin::testing::TestObject;

// The real desktop with the pause between look-ups taken out.
class SpinningDesktop final : public Desktop {
public:
    WindowId FindTopLevel(std::string_view c, std::string_view t) override { return m_real.FindTopLevel(c, t); }
    bool SetTitle(WindowId w, std::string_view t, std::uint32_t l) override { return m_real.SetTitle(w, t, l); }
    bool SendKeyDown(WindowId w, unsigned k, std::uint32_t l) override { return m_real.SendKeyDown(w, k, l); }
    void Open(std::string_view p) override { m_real.Open(p); }
    std::string ReadProfileString(std::string_view s, std::string_view k) override
    {
        return m_real.ReadProfileString(s, k);
    }
    std::uint64_t Now() override { return m_real.Now(); }
    void Pause(std::uint32_t) override {}
    void ShowMessage(std::string_view t, std::string_view c) override { m_real.ShowMessage(t, c); }

private:
    Win32Desktop m_real;
};

class Simulator {
public:
    Simulator(const char* path, const std::string& options)
    {
        std::string command = "\"" + std::string(path) + "\" " + options;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &m_process)) {
            std::fprintf(stderr, "cannot start %s\n", path);
            std::exit(1);
        }
        ::CloseHandle(m_process.hThread);
    }
    ~Simulator()
    {
        ::TerminateProcess(m_process.hProcess, 0);
        ::WaitForSingleObject(m_process.hProcess, 5'000);
        ::CloseHandle(m_process.hProcess);
    }

private:
    PROCESS_INFORMATION m_process = {};
};

void WaitForForm(const char* title)
{
    for (int i = 0; i < 500 && ::FindWindowA("ThunderForm", title) == nullptr; ++i)
        ::Sleep(20);
    if (::FindWindowA("ThunderForm", title) == nullptr) {
        std::fprintf(stderr, "detector-sim shows no \"%s\"\n", title);
        std::exit(1);
    }
}

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// utime + stime of a Linux process, read through Wine's Z: drive.
double UnixCpuSeconds(const std::string& pid)
{
    if (pid.empty())
        return 0;
    std::ifstream stat("Z:\\proc\\" + pid + "\\stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stoull(field);
        if (index == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / 100.0;  // USER_HZ
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int WaitCpu(const char* simulatorPath, const std::string& wineserverPid, bool spinning)
{
    Simulator simulator(simulatorPath, "--busy 0 --log NUL");
    WaitForForm("Busy");
    WaitForForm("Wendrix");

    SpinningDesktop spinningDesktop;
    BenchObject realObject;
    BenchObject spinningObject(spinningDesktop);
    OrbalinObj& object = spinning ? static_cast<OrbalinObj&>(spinningObject) : realObject;

    std::atomic<bool> done{false};
    std::atomic<double> boxShownAt{0};
    std::thread closer([&] {
        while (!done) {
            if (HWND box = ::FindWindowW(L"#32770", L"Tessaly")) {
                boxShownAt = Now();
                ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
                return;
            }
            ::Sleep(50);
        }
    });

    const double wallStart = Now();
    const double cpuStart = ProcessCpuSeconds();
    const double serverStart = UnixCpuSeconds(wineserverPid);
    const HRESULT result = object.SendCommand(5);
    const double serverEnd = UnixCpuSeconds(wineserverPid);
    const double cpuEnd = ProcessCpuSeconds();
    const double wallEnd = Now();
    done = true;
    closer.join();

    // The box's own life (tens of ms) is included; it is negligible next to 10 s.
    const double wall = wallEnd - wallStart;
    const double process = (cpuEnd - cpuStart) / wall * 100.0;
    const double server = (serverEnd - serverStart) / wall * 100.0;
    std::printf("result: 0x%08lX\n", static_cast<unsigned long>(result));
    std::printf("wait: %.0f ms (box after %.0f ms)\n", wall * 1000, (boxShownAt - wallStart) * 1000);
    std::printf("process-cpu: %.2f %%\n", process);
    std::printf("wineserver-cpu: %.2f %%\n", server);
    std::printf("%s: %.2f %%\n", spinning ? "server-wait-cpu-spinning" : "server-wait-cpu", process + server);
    return result == 0x00040001 ? 0 : 1;
}

int Calls(const char* simulatorPath)
{
    Simulator simulator(simulatorPath, "--log NUL");
    WaitForForm("Wendrix");
    BenchObject object;

    constexpr int kSends = 200;
    const double sendStart = Now();
    for (int i = 0; i < kSends; ++i) {
        if (object.SendCommand(5) != S_OK || ::FindWindowA("ThunderForm", "Wendrix") == nullptr) {
            std::fprintf(stderr, "SendCommand failed\n");
            return 1;
        }
    }
    const double sendMs = (Now() - sendStart) * 1000 / kSends;

    constexpr int kChecks = 100;
    LONG status = -1;
    const double checkStart = Now();
    for (int i = 0; i < kChecks; ++i)
        object.CheckStatus(&status);
    const double checkMs = (Now() - checkStart) * 1000 / kChecks;

    std::printf("send-command (ready detector, %d calls): %.3f ms per call\n", kSends, sendMs);
    std::printf("check-status (no status form, 256 look-ups, %d calls): %.3f ms per call\n", kChecks, checkMs);
    std::printf("server-calls: %.3f ms\n", checkMs);
    return status == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: server_bench wait-cpu|wait-cpu-spin|calls DETECTOR_SIM [WINESERVER_PID]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::string wineserverPid = argc > 3 ? argv[3] : "";
    if (mode == "wait-cpu" || mode == "wait-cpu-spin")
        return WaitCpu(argv[2], wineserverPid, mode == "wait-cpu-spin");
    if (mode == "calls")
        return Calls(argv[2]);
    return 2;
}
