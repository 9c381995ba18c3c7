// orbalin-check: why can't a program create the Orbalin object? Checks this
// build's bitness itself and asks the other build's orbalin-check for the
// other one. Reads only; registers and deletes nothing.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "common/win/text.h"
#include "common/win/unique_memory.h"
#include "server/check/report.h"
#include "server/check/win32/probe.h"

namespace {

using namespace orbalin::check;

void Print(HANDLE out, const std::string& utf8)
{
    DWORD mode = 0, written = 0;
    if (::GetConsoleMode(out, &mode)) {
        const std::wstring wide = lorvane::win::WideFromCodePage(utf8, CP_UTF8);
        ::WriteConsoleW(out, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        ::WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    }
}

std::vector<std::string> Arguments()
{
    std::vector<std::string> args;
    int count = 0;
    const lorvane::win::UniqueLocalMemory<wchar_t*> argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
    for (int i = 1; argv && i < count; ++i)
        args.push_back(lorvane::win::CodePageFromWide(argv.Get()[i], CP_UTF8));
    return args;
}

// The other bitness: its own check's answer when it runs; otherwise what
// the rows of its view say, and why it could not be asked.
Report OtherBitness(int bits, const Identity& id, const std::string& ownFolder)
{
    const std::vector<SiblingPlace> places = SiblingPlaces(ownFolder, 64 + 32 - bits);
    const SiblingPlace* found = nullptr;
    for (const SiblingPlace& place : places)
        if (FileExists(place.program) && !found)
            found = &place;
    std::string why;
    if (found == nullptr) {
        why = "the " + std::to_string(bits) + "-bit orbalin-check.exe is missing (looked for";
        for (const SiblingPlace& place : places)
            why += " " + place.program;
        why += ")";
    } else {
        std::string whyNot;
        const std::string answer = RunSibling(found->program, bits, whyNot);
        if (auto reports = ParseJson(answer)) {
            for (Report& r : *reports)
                if (r.bits == bits)
                    return std::move(r);
            why = found->program + " answered for another bitness";
        } else {
            why = whyNot.empty() ? found->program + " gave an answer that is not its JSON" : whyNot;
            why += "; " + std::to_string(bits) + "-bit programs may not run on this system";
        }
    }
    const std::string dll = found ? found->dll : places.front().dll;
    BitnessFacts facts = ProbeRows(bits, id, dll);
    facts.notTriedWhy = why;
    return BuildReport(facts, id);
}

}  // namespace

int main()
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const Options options = ParseCommandLine(Arguments());
    if (options.help) {
        Print(out, kUsage);
        return 0;
    }
    if (!options.error.empty()) {
        Print(::GetStdHandle(STD_ERROR_HANDLE), "orbalin-check: " + options.error + "\n" + kUsage);
        return kExitUsage;
    }
    // A failing load must not raise a message box in a check.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    const Identity id = BuiltIdentity();
    const int own = OwnBits();
    const std::string folder = OwnFolder();
    std::vector<Report> reports;
    for (const int bits : {32, 64}) {
        if ((bits == 32 && !options.want32) || (bits == 64 && !options.want64))
            continue;
        if (bits == own) {
            BitnessFacts facts = ProbeRows(bits, id, folder + "\\Orbalin.dll");
            ProbeActivation(facts, id);
            reports.push_back(BuildReport(facts, id));
        } else {
            reports.push_back(OtherBitness(bits, id, folder));
        }
    }
    Print(out, options.json ? RenderJson(reports) : RenderText(reports));
    return ExitCode(reports);
}
