// The Win32 side of orbalin-check: reads registry views, DLL files, the
// profile value, and tries the object in this process. Reads only.
#pragma once

#include <string>

#include "server/check/check_facts.h"

namespace orbalin::check {

// This process's bitness: 32 or 64.
int OwnBits();

// The rows and files of one bitness, as seen from any process (registry
// views are reachable from both bitnesses). shippedDll is the DLL of that
// bitness that orbalin-check ships beside.
BitnessFacts ProbeRows(int bits, const Identity& id, const std::string& shippedDll);

// Adds what only a process of that bitness can try: the type library load,
// the ProgID lookup, creating the object and calling CheckStatus.
void ProbeActivation(BitnessFacts& facts, const Identity& id);

// This program's folder, UTF-8.
std::string OwnFolder();

bool FileExists(const std::string& path);

// Runs the sibling check with --json --bits N and returns its output, or
// an empty text and why in whyNot.
std::string RunSibling(const std::string& program, int bits, std::string& whyNot);

}  // namespace orbalin::check
