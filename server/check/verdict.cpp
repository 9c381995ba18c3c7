#include "server/check/verdict.h"

#include <cctype>
#include <cstdio>

namespace orbalin::check {
namespace {

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool SameId(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

Machine ExpectedMachine(int bits) { return bits == 32 ? Machine::X86 : Machine::X64; }

std::string Bits(int bits) { return std::to_string(bits) + "-bit"; }

// The DLL the fix registers: the registered one when it is there and of
// the right kind (registering it again mends its rows in place), otherwise
// the copy shipped beside orbalin-check.
std::string DllToRegister(const BitnessFacts& f)
{
    if (f.server.exists && f.server.machine == ExpectedMachine(f.bits))
        return f.server.path;
    return f.shipped.path;
}

Verdict Cannot(std::string reason, std::string fix) { return {State::Cannot, std::move(reason), std::move(fix)}; }

bool ServerUsable(const BitnessFacts& f) { return f.server.exists && f.server.machine == ExpectedMachine(f.bits); }

// regsvr32 writes the path in the ANSI code page; a path it cannot carry
// fails (0x80070459), so that command is never proposed.
std::string RegisterFix(const BitnessFacts& f)
{
    const bool fits = ServerUsable(f) ? f.serverPathFits : f.shippedPathFits;
    if (fits)
        return RegisterCommand(f, DllToRegister(f));
    const std::string page = "code page " + std::to_string(f.codePage);
    return "regsvr32 cannot register " + DllToRegister(f) + ", whose path " + page +
           " cannot carry: install with the MSI, or copy Orbalin.dll to a folder whose path " + page +
           " carries and register it there with " + RegisterCommand(f, "<that folder>\\Orbalin.dll");
}

// Beside a registration-free client the fix is its manifest: registering
// the DLL in the client's folder would make every program load a file that
// folder's users can replace.
std::string ManifestFix(const BitnessFacts& f)
{
    const std::string identity = f.assemblyIdentity.empty()
        ? "Orbalin's assembly (Orbalin.manifest is missing beside Orbalin.dll; copy it from the release)"
        : "<dependency><dependentAssembly>" + f.assemblyIdentity + "</dependentAssembly></dependency>";
    std::string fix = "for registration-free use the client's manifest must name " + identity;
    for (const auto& [manifest, names] : f.clientManifests)
        fix += "; " + manifest + (names ? " names it" : " does not name it");
    return fix;
}

// Why commands cannot reach the register although the object works, or "".
std::string DetectorProblem(const BitnessFacts& f)
{
    if (f.profile.empty())
        return "";
    const std::string where = "the detector program named in WIN.INI ([Orbalin] Orbalin), ";
    if (f.profileLength > kProfileReadLimit)
        return where + "a path of " + std::to_string(f.profileLength) + " characters, is longer than the " +
               std::to_string(kProfileReadLimit) + " that Orbalin reads, so InitOrbalin tries to start " + f.profile;
    if (!f.profileExists)
        return where + f.profile + ", does not exist";
    if (!f.profileStartable)
        return where + f.profile + ", cannot be started: no program opens it";
    return "";
}

Verdict DecideCreation(const BitnessFacts& f, const Identity& id);

std::string StepText(const Step& step) { return HresultText(step.hr, step.text); }

}  // namespace

std::string MachineName(Machine machine)
{
    switch (machine) {
    case Machine::X86: return "x86";
    case Machine::X64: return "x64";
    case Machine::Other: return "another processor";
    case Machine::NotPe: return "not a Windows program file";
    case Machine::Unread: break;
    }
    return "unreadable";
}

// The texts of the codes a POS developer meets, for systems whose
// FormatMessage has none for them (Wine has none for the COM codes).
const char* KnownText(std::uint32_t hr)
{
    switch (hr) {
    case 0x80040154u: return "Class not registered";
    case 0x800401F3u: return "Invalid class string";
    case 0x8007007Eu: return "The specified module could not be found";
    case 0x800700C1u: return "%1 is not a valid Win32 application";
    case 0x8002801Du: return "Library not registered";
    case 0x80029C4Au: return "Error loading type library/DLL";
    case 0x80070005u: return "Access is denied";
    default: return "";
    }
}

std::string HresultText(std::uint32_t hr, const std::string& systemText)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    const std::string message = systemText.empty() ? KnownText(hr) : systemText;
    return message.empty() ? std::string(code) : std::string(code) + " " + message;
}

std::string RegisterCommand(const BitnessFacts& f, const std::string& dll)
{
    // On 64-bit Windows the 32-bit regsvr32 is the one in SysWOW64; the one
    // in System32 would write the 64-bit view.
    const char* folder = f.bits == 32 && f.windows64 ? "\\SysWOW64" : "\\System32";
    return f.windowsDir + folder + "\\regsvr32.exe \"" + dll + "\"";
}

Verdict Decide(const BitnessFacts& f, const Identity& id)
{
    Verdict v = DecideCreation(f, id);
    v.created = f.activationTried && f.create.Succeeded();
    if (v.state == State::Can) {
        if (std::string problem = DetectorProblem(f); !problem.empty())
            return {State::NoDetector, std::move(problem),
                    "name the detector program's full path, at most " + std::to_string(kProfileReadLimit) +
                        " characters, in the Orbalin key of WIN.INI's [Orbalin] section",
                    true};
    }
    return v;
}

namespace {

Verdict DecideCreation(const BitnessFacts& f, const Identity& id)
{
    if (f.bits == 64 && !f.windows64)
        return Cannot("64-bit programs do not run on 32-bit Windows", "");

    // Creation is the proof when this bitness could try it; the rows only
    // explain a failure.
    if (f.activationTried && f.progIdLookup.Succeeded() && SameId(f.progIdLookupClsid, id.clsid) &&
        f.create.Succeeded() && f.checkStatus.Succeeded() && f.typeLibLoad.Succeeded())
        return {State::Can, "", ""};

    const std::string view = "the " + Bits(f.bits) + " registry view";
    const std::string reg = RegisterFix(f);
    const Rows* rows = &f.machineRows;
    if (!f.machineRows.progId) {
        if (!f.userRows.progId)
            return Cannot(id.progId + " is not registered in " + view, f.clientManifests.empty() ? reg : ManifestFix(f));
        // Per-user rows only: HKCR of an elevated program (and of Wine) does
        // not include them, so the machine-wide registration is the sure fix.
        if (f.activationTried || !f.userRows.clsid)
            return Cannot(id.progId + " is registered only for the current user (HKCU\\Software\\Classes), "
                          "which this program does not see", reg);
        rows = &f.userRows;
    }
    if (!SameId(rows->progIdClsid, id.clsid))
        return Cannot(id.progId + " names the class " + (rows->progIdClsid.empty() ? "(none)" : rows->progIdClsid) +
                          ", not " + id.clsid + ", in " + view, reg);
    if (!rows->clsid)
        return Cannot("the class " + id.clsid + " is not registered in " + view, reg);
    if (rows->serverPath.empty())
        return Cannot("the class " + id.clsid + " has no InprocServer32 path in " + view, reg);
    if (!f.server.exists)
        return Cannot("the registered DLL " + rows->serverPath + " does not exist (moved or deleted after registration)",
                      reg);
    if (f.server.machine != ExpectedMachine(f.bits)) {
        std::string what = f.server.machine == Machine::X86 || f.server.machine == Machine::X64
            ? "is a " + std::string(f.server.machine == Machine::X86 ? "32" : "64") + "-bit DLL"
            : "is " + MachineName(f.server.machine);
        return Cannot("the DLL registered in " + view + ", " + rows->serverPath + ", " + what + ", which " +
                          Bits(f.bits) + " programs cannot load",
                      reg);
    }
    if (!f.typeLibRegistered)
        return Cannot("the type library " + id.libid + " 1.0 is not registered for win" + std::to_string(f.bits), reg);
    if (!f.typeLibPathExists)
        return Cannot("the registered type library file " + f.typeLibPath + " does not exist", reg);

    if (!f.activationTried)
        return {State::NotChecked, f.notTriedWhy + "; the registry rows look right", ""};

    if (f.progIdLookup.Failed())
        return Cannot("CLSIDFromProgID(\"" + id.progId + "\") failed: " + StepText(f.progIdLookup), reg);
    if (f.progIdLookup.tried && !SameId(f.progIdLookupClsid, id.clsid))
        return Cannot(id.progId + " resolves to " + f.progIdLookupClsid + ", not " + id.clsid, reg);
    if (!f.create.Succeeded())
        return Cannot("creating the object failed: " + StepText(f.create), reg);
    if (!f.typeLibLoad.Succeeded())
        return Cannot("the type library does not load: " + StepText(f.typeLibLoad), reg);
    return Cannot("CheckStatus failed: " + StepText(f.checkStatus), reg);
}

}  // namespace

std::string VerdictLine(int bits, const Verdict& v, const Identity& id)
{
    const std::string who = Bits(bits) + " programs ";
    const std::string fix = v.fix.empty() ? "" : "; fix: " + v.fix;
    switch (v.state) {
    case State::Can: return who + "can create " + id.progId;
    case State::NotChecked: return who + "were not checked: " + v.reason;
    case State::NoDetector:
        return who + "can create " + id.progId + ", but commands cannot reach the register: " + v.reason + fix;
    case State::Cannot: break;
    }
    if (v.created)
        return who + "can create " + id.progId + " but cannot use it: " + v.reason + fix;
    return who + "cannot create " + id.progId + ": " + v.reason + fix;
}

}  // namespace orbalin::check
