// quillon-remote: works an open Quillon dialog from outside, for ./run and
// the tool benchmarks.
//
//   quillon-remote wait-visible [MS]       exit 0 once a dialog is visible (default 20000 ms)
//   quillon-remote close                   presses Exit on every open dialog
//   quillon-remote demo                    presses OK, waits for the answer and prints
//                                          the dialog's rectangle as WxH+X+Y
//   quillon-remote startup-time EXE [N]    N warm starts (default 10) to a visible
//                                          dialog; prints each and the median
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "devtools/quillon-remote/win32/dialog_remote.h"

namespace {

using namespace quillon::remote;
using std::chrono::milliseconds;

int Usage()
{
    std::printf("usage: quillon-remote wait-visible [MS] | close | demo | startup-time EXE [RUNS]\n");
    return 2;
}

int Demo()
{
    const auto rect = SendFirstOperation(milliseconds(20'000));
    if (!rect)
        return 1;
    std::printf("%ldx%ld+%ld+%ld\n", rect->right - rect->left, rect->bottom - rect->top, rect->left, rect->top);
    return 0;
}

int StartupTime(const std::wstring& exe, int runs)
{
    std::vector<double> times = StartupTimes(exe, runs);
    if (times.empty())
        return 1;
    std::sort(times.begin(), times.end());
    for (double t : times)
        std::printf("start %.1f ms\n", t);
    const std::size_t middle = times.size() / 2;
    const double median = times.size() % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
    std::printf("tool-startup: %.1f ms\n", median);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return Usage();
    const std::wstring command = argv[1];
    if (command == L"wait-visible")
        return WaitUntilVisible(milliseconds(argc > 2 ? _wtoi(argv[2]) : 20'000)) ? 0 : 1;
    if (command == L"close") {
        CloseDialogs();
        return 0;
    }
    if (command == L"demo")
        return Demo();
    if (command == L"startup-time" && argc > 2)
        return StartupTime(argv[2], argc > 3 ? _wtoi(argv[3]) : 10);
    return Usage();
}
