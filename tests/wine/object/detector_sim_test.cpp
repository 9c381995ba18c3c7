// OrbalinObj on the real desktop against detector-sim: window look-ups,
// title writes, the key-down signal, the start through the profile value and
// the not-responding box, under Wine.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/win/text.h"
#include "server/object/win32/win32_desktop.h"
#include "server/protocol/detector_protocol.h"
#include "test_object.h"

namespace orbalin {
namespace {

using Microsoft::WRL::ComPtr;
using lorvane::win::UniqueBstr;
using testing::TestObject;

constexpr HRESULT kErrorNotResponding = 0x00040001;

// DETECTOR_SIM_PATH is the Unix path of the program; Wine maps "/" to Z:.
std::string SimulatorPath()
{
    std::string path = "Z:" + std::string(DETECTOR_SIM_PATH);
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string TempFile(const char* name)
{
    char directory[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, directory);
    return std::string(directory) + name;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

HWND FindForm(const char* title) { return ::FindWindowA("ThunderForm", title); }

bool WaitFor(const char* title, DWORD limitMs = 10'000)
{
    const ULONGLONG deadline = ::GetTickCount64() + limitMs;
    while (FindForm(title) == nullptr) {
        if (::GetTickCount64() >= deadline)
            return false;
        ::Sleep(20);
    }
    return true;
}

void EndProgramOf(HWND window)
{
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    if (process != nullptr) {
        if (::WaitForSingleObject(process, 5'000) != WAIT_OBJECT_0)
            ::TerminateProcess(process, 1);
        ::CloseHandle(process);
    }
}

// One running detector-sim with its own log file.
class Simulator {
public:
    explicit Simulator(const std::string& options) : m_log(TempFile("detector-sim-test.log"))
    {
        ::DeleteFileA(m_log.c_str());
        std::string command = "\"" + SimulatorPath() + "\" --log \"" + m_log + "\" " + options;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        m_started = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &startup, &m_process) != FALSE;
        if (m_started)
            ::CloseHandle(m_process.hThread);
    }
    ~Simulator()
    {
        if (!m_started)
            return;
        ::TerminateProcess(m_process.hProcess, 0);
        ::WaitForSingleObject(m_process.hProcess, 5'000);
        ::CloseHandle(m_process.hProcess);
        ::DeleteFileA(m_log.c_str());
    }
    bool started() const { return m_started; }
    std::string Log() const { return ReadFile(m_log); }

private:
    std::string m_log;
    PROCESS_INFORMATION m_process = {};
    bool m_started = false;
};

// Waits for the not-responding box on another thread, reads it and clicks OK.
class MessageBoxCloser {
public:
    MessageBoxCloser()
        : m_thread([this] {
              const ULONGLONG deadline = ::GetTickCount64() + 30'000;
              while (!m_stop && ::GetTickCount64() < deadline) {
                  HWND box = ::FindWindowW(L"#32770", L"Tessaly");
                  if (box != nullptr) {
                      wchar_t text[512] = {};
                      ::GetDlgItemTextW(box, 0xFFFF, text, 512);
                      m_text = text;
                      m_seen = true;
                      ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
                      return;
                  }
                  ::Sleep(20);
              }
          })
    {
    }
    ~MessageBoxCloser()
    {
        m_stop = true;
        m_thread.join();
    }
    bool seen() const { return m_seen; }
    const std::wstring& text() const { return m_text; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_seen{false};
    std::wstring m_text;
    std::thread m_thread;
};

// The description of the error record left on this thread.
std::wstring ErrorRecordDescription()
{
    ComPtr<IErrorInfo> record;
    if (::GetErrorInfo(0, &record) != S_OK)
        return L"<no error record>";
    UniqueBstr description;
    record->GetDescription(description.Receive());
    return description.Text();
}

class DetectorSimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override
    {
        ::WriteProfileStringA("Orbalin", "Orbalin", nullptr);
        ::SetEnvironmentVariableA("DETECTOR_SIM_OPTIONS", nullptr);
        ::CoUninitialize();
    }

    TestObject object;
};

TEST_F(DetectorSimTest, InitOrbalinHandsTheRunningProgramItsText)
{
    Simulator simulator("");
    ASSERT_TRUE(simulator.started());
    ASSERT_TRUE(WaitFor("Wendrix"));
    ::WriteProfileStringA("Orbalin", "Orbalin", "C:\\not-started.exe");
    EXPECT_EQ(object.InitOrbalin(), S_OK);
    EXPECT_EQ(simulator.Log(), "1|0|0|0|0|0\n");
}

TEST_F(DetectorSimTest, InitOrbalinWithoutProfileValueDoesNothing)
{
    Simulator simulator("");
    ASSERT_TRUE(WaitFor("Wendrix"));
    EXPECT_EQ(object.InitOrbalin(), S_OK);
    EXPECT_EQ(simulator.Log(), "");
}

TEST_F(DetectorSimTest, InitOrbalinStartsTheProgramNamedByTheProfileValue)
{
    const std::string log = TempFile("detector-sim-started.log");
    ::DeleteFileA(log.c_str());
    ASSERT_EQ(FindForm("Lorvane Tessaly"), nullptr);
    // The server passes no arguments; the started copy reads its options here.
    const std::string options = "--log " + log + " --main-delay 300 --detector-delay 700";
    ::SetEnvironmentVariableA("DETECTOR_SIM_OPTIONS", options.c_str());
    ::WriteProfileStringA("Orbalin", "Orbalin", SimulatorPath().c_str());

    EXPECT_EQ(object.InitOrbalin(), S_OK);
    HWND main = FindForm("Lorvane Tessaly");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(ReadFile(log), "1|0|0|0|0|0\n");
    EndProgramOf(main);
    ::DeleteFileA(log.c_str());
}

TEST_F(DetectorSimTest, SendCommandDeliversTheCommandText)
{
    Simulator simulator("");
    ASSERT_TRUE(WaitFor("Wendrix"));
    UniqueBstr code(L"A1");
    UniqueBstr name(L"Bread|Rye");
    object.put_Code(code.Get());
    object.put_Name(name.Get());
    object.put_Quantity(2);
    object.put_Price(0.99);
    object.put_DeviceNumber(1);
    EXPECT_EQ(object.SendCommand(5), S_OK);
    EXPECT_EQ(object.SendCommand(-1), S_OK);
    EXPECT_EQ(simulator.Log(), "5|1|A1|Bread|Rye|2.000000|0.990000\n-1|1|A1|Bread|Rye|2.000000|0.990000\n");
}

// Orbalin passes a text of any length on unchanged; the stand-in takes
// 1023 bytes at most and refuses, never cuts, a longer one.
TEST_F(DetectorSimTest, LongestTextArrivesWholeAndALongerOneIsRefused)
{
    Simulator simulator("");
    ASSERT_TRUE(WaitFor("Wendrix"));
    // "5|0||" and "|0.000000|0.000000" take 23 bytes.
    const std::string fits(1023 - 23, 'n');
    object.put_Name(UniqueBstr(lorvane::win::WideFrom1251(fits).c_str()).Get());
    EXPECT_EQ(object.SendCommand(5), S_OK);
    object.put_Name(UniqueBstr(lorvane::win::WideFrom1251(fits + "n").c_str()).Get());
    EXPECT_EQ(object.SendCommand(5), S_OK);
    EXPECT_EQ(simulator.Log(), "5|0||" + fits + "|0.000000|0.000000\nrefused: 1024 bytes, longer than 1023\n");
}

TEST_F(DetectorSimTest, NextCommandWaitsForTheTitleToComeBack)
{
    Simulator simulator("--reset-delay 1000");
    ASSERT_TRUE(WaitFor("Wendrix"));
    EXPECT_EQ(object.SendCommand(1), S_OK);
    EXPECT_EQ(FindForm("Wendrix"), nullptr);
    EXPECT_EQ(object.SendCommand(2), S_OK);
    EXPECT_EQ(simulator.Log(), "1|0|||0.000000|0.000000\n2|0|||0.000000|0.000000\n");
}

TEST_F(DetectorSimTest, LongBusyFormShowsTheBoxAndReportsNotResponding)
{
    Simulator simulator("--busy 0");
    ASSERT_TRUE(WaitFor("Busy"));
    ASSERT_TRUE(WaitFor("Wendrix"));
    HRESULT result = S_OK;
    std::wstring text;
    bool seen = false;
    {
        MessageBoxCloser closer;
        result = object.SendCommand(5);
        seen = closer.seen();
        text = closer.text();
    }
    EXPECT_EQ(result, kErrorNotResponding);
    EXPECT_TRUE(seen);
    EXPECT_EQ(text, lorvane::win::WideFrom1251(kNotRespondingText));
    EXPECT_NE(FindForm("Wendrix"), nullptr);
    EXPECT_EQ(simulator.Log(), "");
    EXPECT_EQ(ErrorRecordDescription(), L"Not Responding");
}

// A detector whose window thread has stopped answers no message: the title
// change gives up after the answer limit and the command ends as a busy one.
TEST_F(DetectorSimTest, HungDetectorShowsTheBoxAndReportsNotResponding)
{
    Simulator simulator("--hang");
    ASSERT_TRUE(WaitFor("Wendrix"));
    HRESULT result = S_OK;
    bool seen = false;
    {
        MessageBoxCloser closer;
        result = object.SendCommand(5);
        seen = closer.seen();
    }
    EXPECT_EQ(result, kErrorNotResponding);
    EXPECT_TRUE(seen);
    EXPECT_EQ(simulator.Log(), "");
    EXPECT_EQ(ErrorRecordDescription(), L"Not Responding");
}

TEST_F(DetectorSimTest, ShortBusyFormDelaysTheCommand)
{
    Simulator simulator("--busy 0:1500");
    ASSERT_TRUE(WaitFor("Busy"));
    EXPECT_EQ(object.SendCommand(9), S_OK);
    EXPECT_EQ(FindForm("Busy"), nullptr);
    EXPECT_EQ(simulator.Log(), "9|0|||0.000000|0.000000\n");
}

TEST_F(DetectorSimTest, MissingDetectorFormDropsTheCommandSilently)
{
    Simulator simulator("--no-detector");
    ASSERT_TRUE(WaitFor("Lorvane Tessaly"));
    EXPECT_EQ(object.SendCommand(5), S_OK);
    EXPECT_EQ(simulator.Log(), "");
    ComPtr<IErrorInfo> record;
    EXPECT_EQ(::GetErrorInfo(0, &record), S_FALSE);
}

TEST_F(DetectorSimTest, CheckStatusReadsTheLowestStatusForm)
{
    LONG status = -1;
    EXPECT_EQ(object.CheckStatus(&status), S_OK);
    EXPECT_EQ(status, 0);

    Simulator simulator("--status 7 --status 3");
    ASSERT_TRUE(WaitFor("FPStatus=3"));
    ASSERT_TRUE(WaitFor("FPStatus=7"));
    EXPECT_EQ(object.CheckStatus(&status), S_OK);
    EXPECT_EQ(status, 3);
}

// ORBALIN_EXPECT_ACP names the ANSI code page the run was set up for.
TEST_F(DetectorSimTest, CodeAndNameArriveInTheAnsiCodePage)
{
    Simulator simulator("");
    ASSERT_TRUE(WaitFor("Wendrix"));
    // Code "Хляб", Name "Мляко" then GREEK SMALL LETTER ALPHA, outside 1251
    UniqueBstr code(L"\x0425\x043B\x044F\x0431");
    UniqueBstr name(L"\x041C\x043B\x044F\x043A\x043E\x03B1");
    object.put_Code(code.Get());
    object.put_Name(name.Get());
    ASSERT_EQ(object.SendCommand(2), S_OK);

    const char* expected = std::getenv("ORBALIN_EXPECT_ACP");
    const UINT codePage = ::GetACP();
    if (expected != nullptr) {
        ASSERT_EQ(codePage, static_cast<UINT>(std::atoi(expected)));
    }
    if (codePage != 1251)
        GTEST_SKIP() << "the Bulgarian run checks the texts; code page here is " << codePage;
    // "Хляб" and "Мляко" in Windows-1251
    EXPECT_EQ(simulator.Log(), "2|0|\xD5\xEB\xFF\xE1|\xCC\xEB\xFF\xEA\xEE?|0.000000|0.000000\n");
}

// Sends numbered sale lines "7|n|<sender>|line n|1.000000|0.990000" from a
// fresh object; returns how many calls did not return S_OK.
int SendNumberedLines(const std::string& sender, int count)
{
    TestObject object;
    const UniqueBstr code(lorvane::win::WideFrom1251(sender).c_str());
    object.put_Code(code.Get());
    object.put_Quantity(1);
    object.put_Price(0.99);
    int failed = 0;
    for (int n = 1; n <= count; ++n) {
        const UniqueBstr name(lorvane::win::WideFrom1251("line " + std::to_string(n)).c_str());
        object.put_Name(name.Get());
        object.put_DeviceNumber(n);
        failed += object.SendCommand(7) == S_OK ? 0 : 1;
    }
    return failed;
}

constexpr int kLinesPerSender = 40;
constexpr char kSendLinesSwitch[] = "--send-lines";

// This program again, as a second point-of-sale process that sends lines.
class SenderProcess {
public:
    explicit SenderProcess(const std::string& sender)
    {
        char self[MAX_PATH] = {};
        ::GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string command = "\"" + std::string(self) + "\" " + kSendLinesSwitch + " " + sender + " " +
                              std::to_string(kLinesPerSender);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &m_process))
            ::CloseHandle(m_process.hThread);
    }
    ~SenderProcess()
    {
        if (m_process.hProcess != nullptr)
            ::CloseHandle(m_process.hProcess);
    }
    // Its count of failed calls; -1 when it did not start or end.
    int Wait()
    {
        DWORD code = 0;
        if (m_process.hProcess == nullptr || ::WaitForSingleObject(m_process.hProcess, 120'000) != WAIT_OBJECT_0 ||
            !::GetExitCodeProcess(m_process.hProcess, &code))
            return -1;
        return static_cast<int>(code);
    }

private:
    PROCESS_INFORMATION m_process = {};
};

// Three threads of this program and a second program send numbered lines to
// one detector at once: each line must arrive exactly once, and never the
// detector's own idle title. The counts are printed for the record.
void ExpectEveryLineOnce(const char* simulatorOptions)
{
    Simulator simulator(simulatorOptions);
    ASSERT_TRUE(WaitFor("Wendrix"));
    const std::vector<std::string> senders = {"T1", "T2", "T3", "P2"};
    SenderProcess process(senders[3]);
    std::vector<int> failed(3, 0);
    {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < 3; ++i)
            threads.emplace_back([&, i] {
                ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                failed[i] = SendNumberedLines(senders[i], kLinesPerSender);
                ::CoUninitialize();
            });
        for (std::thread& thread : threads)
            thread.join();
    }
    EXPECT_EQ(process.Wait(), 0);
    EXPECT_EQ(failed, std::vector<int>(3, 0));

    std::map<std::string, int> arrived;
    std::istringstream log(simulator.Log());
    int lines = 0;
    for (std::string line; std::getline(log, line); ++lines)
        ++arrived[line];
    int once = 0;
    for (const std::string& sender : senders)
        for (int n = 1; n <= kLinesPerSender; ++n) {
            const std::string text = "7|" + std::to_string(n) + "|" + sender + "|line " + std::to_string(n) +
                                     "|1.000000|0.990000";
            EXPECT_EQ(arrived[text], 1) << text;
            once += arrived[text] == 1 ? 1 : 0;
        }
    EXPECT_EQ(arrived["Wendrix"], 0);
    EXPECT_EQ(lines, kLinesPerSender * 4);
    std::printf("sent %d lines (3 threads, 1 process), %d arrived, %d exactly once, %d idle titles\n",
                kLinesPerSender * 4, lines, once, arrived["Wendrix"]);
}

TEST_F(DetectorSimTest, LinesFromThreadsAndAProcessArriveOnceEach)
{
    ExpectEveryLineOnce("");
}

TEST_F(DetectorSimTest, LinesArriveOnceEachWhenTheTitleComesBackLate)
{
    ExpectEveryLineOnce("--reset-delay 20");
}

TEST(Win32DesktopTest, ProfileValueIsCutAt254CharactersAndMissingReadsEmpty)
{
    Win32Desktop desktop;
    ::WriteProfileStringA("Orbalin", "Orbalin", std::string(300, 'x').c_str());
    EXPECT_EQ(desktop.ReadProfileString("Orbalin", "Orbalin"), std::string(254, 'x'));
    ::WriteProfileStringA("Orbalin", "Orbalin", nullptr);
    EXPECT_EQ(desktop.ReadProfileString("Orbalin", "Orbalin"), "");
}

}  // namespace
}  // namespace orbalin

// "--send-lines SENDER COUNT" makes this program the second sender of the
// concurrency test; its exit code is the number of failed calls.
int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == orbalin::kSendLinesSwitch) {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        return orbalin::SendNumberedLines(argv[2], std::atoi(argv[3]));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
