// What orbalin-check gathers about one bitness, and what it concludes.
// Filled by the Win32 probing (win32/) or read back from the sibling's
// --json answer; the verdict rules work on these facts alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orbalin::check {

// The names the class is published under, taken from the build.
struct Identity {
    std::string progId;           // Orbalin.OrbalinObj
    std::string versionedProgId;  // Orbalin.OrbalinObj.1
    std::string clsid;            // {…}, upper case
    std::string libid;
};
Identity BuiltIdentity();

enum class Machine { Unread, NotPe, X86, X64, Other };

// One call's outcome: an HRESULT and the system's text for it.
struct Step {
    bool tried = false;
    std::uint32_t hr = 0;
    std::string text;
    bool Failed() const { return tried && (hr & 0x80000000u) != 0; }
    bool Succeeded() const { return tried && !Failed(); }
};

// The rows of one registry view (or of the per-user classes).
struct Rows {
    bool progId = false;
    std::string progIdClsid;
    bool versionedProgId = false;
    std::string versionedProgIdClsid;
    bool clsid = false;
    std::string serverPath;  // InprocServer32; empty when absent
    std::string threadingModel;
    std::string typeLibId;   // CLSID\…\TypeLib
};

struct DllFile {
    std::string path;
    bool exists = false;
    Machine machine = Machine::Unread;
    std::string version;  // file version, "1.0.0.1"
};

struct BitnessFacts {
    int bits = 64;
    bool windows64 = true;
    std::string windowsDir = "C:\\Windows";
    Rows machineRows;         // HKLM\Software\Classes in this bitness's view
    Rows userRows;            // HKCU\Software\Classes in this bitness's view
    DllFile server;           // the registered InprocServer32 file
    DllFile shipped;          // the DLL of this bitness shipped beside orbalin-check
    bool typeLibRegistered = false;
    std::string typeLibPath;  // TypeLib\{LIBID}\1.0\0\win32|win64
    bool typeLibPathExists = false;
    // Only a process of this bitness can try these; otherwise why not.
    bool activationTried = false;
    std::string notTriedWhy;
    Step typeLibLoad;         // LoadRegTypeLib
    Step progIdLookup;        // CLSIDFromProgID
    std::string progIdLookupClsid;
    Step create;              // CoCreateInstance
    Step checkStatus;         // GetIDsOfNames + Invoke
    long status = 0;
    // [Orbalin] Orbalin of WIN.INI as the library reads it: at most
    // kProfileReadLimit characters. profileLength is the whole value's.
    std::string profile;
    std::size_t profileLength = 0;
    bool profileExists = false;
    bool profileStartable = false;  // the shell has a program that opens it
    bool elevated = false;          // this check runs as administrator
    // Ordinary users (Users, Authenticated Users, Everyone, Interactive) may
    // change the registered DLL or add files beside it.
    bool serverWritable = false;
    enum class Sameness { Unknown, Same, Differs } serverVsShipped = Sameness::Unknown;
    // Whether the system ANSI code page, which regsvr32 writes the path in,
    // can carry the registered and the shipped DLL's path.
    unsigned codePage = 1252;
    bool serverPathFits = true;
    bool shippedPathFits = true;
    // A registration-free client beside orbalin-check: its manifests, each
    // with whether it names Orbalin's assembly, and that assembly's
    // identity element as Orbalin.manifest beside the DLL gives it.
    std::vector<std::pair<std::string, bool>> clientManifests;
    std::string assemblyIdentity;
};

// The longest profile value the library reads (a 255-byte buffer).
inline constexpr std::size_t kProfileReadLimit = 254;

// NoDetector: the object can be created, but InitOrbalin cannot start the
// detector program that WIN.INI names, so commands reach no register.
enum class State { Can, Cannot, NotChecked, NoDetector };

struct Verdict {
    State state = State::Cannot;
    std::string reason;
    std::string fix;       // a command or what to change, or empty
    bool created = false;  // the object was created (the failure lies after)
};

// What is printed for one bitness, text or JSON.
struct Report {
    int bits = 64;
    State state = State::Cannot;
    std::string verdict;  // the verdict line
    std::string reason;
    std::string fix;
    std::vector<std::pair<std::string, std::string>> facts;  // key, value
};

}  // namespace orbalin::check
