// orbalin-check's output: the facts of each bitness as labelled lines or as
// JSON, the JSON read back (the sibling's answer), the command line, and the
// PE header's machine field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/check/check_facts.h"

namespace orbalin::check {

Report BuildReport(const BitnessFacts& facts, const Identity& id);

// A report for a bitness whose check could not run at all.
Report NotCheckedReport(int bits, const std::string& why);

std::string RenderText(const std::vector<Report>& reports);
// One JSON array of flat objects, one per bitness, on one line.
std::string RenderJson(const std::vector<Report>& reports);
// Reads what RenderJson wrote; nullopt for anything else.
std::optional<std::vector<Report>> ParseJson(std::string_view text);

// 0 when every report says its programs can create the object; 1 when one
// cannot or was not checked; else kExitNoDetector when commands cannot
// reach the register.
int ExitCode(const std::vector<Report>& reports);
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoDetector = 3;

struct Options {
    bool json = false;
    bool want32 = true;
    bool want64 = true;
    bool help = false;
    std::string error;  // non-empty: a usage error
};
Options ParseCommandLine(const std::vector<std::string>& args);
extern const char kUsage[];

// The machine field of a PE file's header, from the file's first bytes.
Machine PeMachine(const std::uint8_t* bytes, std::size_t size);

// The first <assemblyIdentity …/> element of a manifest, or "".
std::string AssemblyIdentity(std::string_view manifest);
// Whether a client's manifest names that identity: an assemblyIdentity
// element with the same name, version and processorArchitecture.
bool NamesAssembly(std::string_view clientManifest, std::string_view identity);

// Where the other bitness's orbalin-check.exe is looked for, in order:
// ..\x86\ (or ..\x64\) when this one sits in a folder named x64 (or x86),
// as in the zip and the installed folder; then orbalin-check32.exe (or
// …64.exe) beside this one. The other bitness's Orbalin.dll is beside it.
struct SiblingPlace {
    std::string program;
    std::string dll;
};
std::vector<SiblingPlace> SiblingPlaces(const std::string& ownFolder, int ownBits);

}  // namespace orbalin::check
