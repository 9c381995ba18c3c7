// The verdict rules: from the gathered facts of one bitness to whether its
// programs can create the object, why not, and the command that fixes it.
#pragma once

#include <string>

#include "server/check/check_facts.h"

namespace orbalin::check {

Verdict Decide(const BitnessFacts& facts, const Identity& id);

// The regsvr32 of that bitness with the DLL quoted:
// C:\Windows\SysWOW64\regsvr32.exe "C:\path\x86\Orbalin.dll"
std::string RegisterCommand(const BitnessFacts& facts, const std::string& dll);

std::string VerdictLine(int bits, const Verdict& verdict, const Identity& id);

// "x86", "x64", … as reported.
std::string MachineName(Machine machine);

// "0x80040154 Class not registered": the system's text, or a known one.
std::string HresultText(std::uint32_t hr, const std::string& systemText);

}  // namespace orbalin::check
