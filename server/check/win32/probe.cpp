#include "server/check/win32/probe.h"

#include <windows.h>
#include <aclapi.h>
#include <oleauto.h>
#include <shellapi.h>
#include <wrl/client.h>

#include <fstream>
#include <iterator>

#include <cstdint>
#include <vector>

#include "common/win/text.h"
#include "common/win/unique_handle.h"
#include "common/win/unique_variant.h"
#include "server/check/report.h"

namespace orbalin::check {
namespace {

using lorvane::win::CodePageFromWide;
using lorvane::win::UniqueHandle;
using lorvane::win::UniqueHkey;
using lorvane::win::WideFromCodePage;
using Microsoft::WRL::ComPtr;

std::string Utf8(const std::wstring& text) { return CodePageFromWide(text, CP_UTF8); }
std::wstring Wide(const std::string& text) { return WideFromCodePage(text, CP_UTF8); }

REGSAM View(int bits) { return bits == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

UniqueHkey OpenKey(HKEY root, const std::wstring& path, int bits)
{
    UniqueHkey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | View(bits), key.Receive()) != ERROR_SUCCESS)
        key.Reset();
    return key;
}

// A string value (REG_SZ, or REG_EXPAND_SZ expanded); false when there is none.
bool ReadString(HKEY key, const wchar_t* name, std::string& out)
{
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
        return false;
    value.resize(wcsnlen(value.c_str(), value.size()));
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[MAX_PATH * 2];
        const DWORD n = ::ExpandEnvironmentStringsW(value.c_str(), expanded, MAX_PATH * 2);
        if (n > 0 && n <= MAX_PATH * 2)
            value = expanded;
    }
    out = Utf8(value);
    return true;
}

// InprocServer32 may hold a quoted path (regsvr32 of some tools writes one).
std::string Unquote(std::string path)
{
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
        return path.substr(1, path.size() - 2);
    return path;
}

Rows ReadRows(HKEY root, int bits, const Identity& id)
{
    Rows rows;
    const std::wstring classes = L"Software\\Classes\\";
    if (UniqueHkey key = OpenKey(root, classes + Wide(id.progId) + L"\\CLSID", bits))
        rows.progId = ReadString(key.Get(), nullptr, rows.progIdClsid);
    if (UniqueHkey key = OpenKey(root, classes + Wide(id.versionedProgId) + L"\\CLSID", bits))
        rows.versionedProgId = ReadString(key.Get(), nullptr, rows.versionedProgIdClsid);
    const std::wstring clsid = classes + L"CLSID\\" + Wide(id.clsid);
    if (UniqueHkey key = OpenKey(root, clsid, bits)) {
        rows.clsid = true;
        if (UniqueHkey server = OpenKey(root, clsid + L"\\InprocServer32", bits)) {
            if (ReadString(server.Get(), nullptr, rows.serverPath))
                rows.serverPath = Unquote(rows.serverPath);
            ReadString(server.Get(), L"ThreadingModel", rows.threadingModel);
        }
        if (UniqueHkey typeLib = OpenKey(root, clsid + L"\\TypeLib", bits))
            ReadString(typeLib.Get(), nullptr, rows.typeLibId);
    }
    return rows;
}

std::string FileVersion(const std::wstring& path)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        return {};
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr)
        return {};
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

DllFile ReadDll(const std::string& path)
{
    DllFile file;
    file.path = path;
    if (path.empty() || !FileExists(path))
        return file;
    file.exists = true;
    const std::wstring wide = Wide(path);
    UniqueHandle handle(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    if (handle) {
        std::vector<std::uint8_t> head(4096);
        DWORD read = 0;
        if (::ReadFile(handle.Get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr))
            file.machine = PeMachine(head.data(), read);
    }
    file.version = FileVersion(wide);
    return file;
}

Step Record(HRESULT hr)
{
    Step step;
    step.tried = true;
    step.hr = static_cast<std::uint32_t>(hr);
    step.text = lorvane::win::SystemMessage(static_cast<DWORD>(hr));
    return step;
}

class ComApartment {
public:
    ComApartment() : m_hr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};

std::string GuidText(const GUID& guid)
{
    wchar_t text[64];
    return ::StringFromGUID2(guid, text, 64) ? Utf8(text) : std::string();
}

std::string FolderOf(const std::string& path)
{
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(Wide(path).c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The rights an ordinary user gets on a file or folder from its ACL.
ACCESS_MASK OrdinaryUsersRights(const std::string& path)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(Wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return 0;
    ACCESS_MASK rights = 0;
    // Users, Authenticated Users, Everyone, Interactive.
    for (const WELL_KNOWN_SID_TYPE type :
         {WinBuiltinUsersSid, WinAuthenticatedUserSid, WinWorldSid, WinInteractiveSid}) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof sid;
        if (!::CreateWellKnownSid(type, nullptr, sid, &size))
            continue;
        TRUSTEE_W trustee{};
        ::BuildTrusteeWithSidW(&trustee, sid);
        ACCESS_MASK mask = 0;
        // A null DACL grants everything, and GetEffectiveRightsFromAcl says so.
        if (dacl == nullptr || ::GetEffectiveRightsFromAclW(dacl, &trustee, &mask) == ERROR_SUCCESS)
            rights |= dacl == nullptr ? GENERIC_ALL | FILE_ALL_ACCESS : mask;
    }
    ::LocalFree(descriptor);
    return rights;
}

// Ordinary users may replace the file, or put another beside it.
bool WritableByOrdinaryUsers(const std::string& file)
{
    constexpr ACCESS_MASK kChangesFile = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER;
    constexpr ACCESS_MASK kChangesFolder = FILE_ADD_FILE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;
    return (OrdinaryUsersRights(file) & (kChangesFile | GENERIC_ALL | GENERIC_WRITE)) != 0 ||
           (OrdinaryUsersRights(FolderOf(file)) & (kChangesFolder | GENERIC_ALL | GENERIC_WRITE)) != 0;
}

bool FitsAnsiCodePage(const std::string& path)
{
    const std::wstring wide = Wide(path);
    BOOL usedDefault = FALSE;
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0,
                          nullptr, &usedDefault);
    return usedDefault == FALSE;
}

bool RunsElevated()
{
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened))
        return false;
    const UniqueHandle token(opened);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return ::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

// The value exactly as the library reads it (a 255-byte buffer), and the
// whole value's length.
void ReadProfile(BitnessFacts& f)
{
    char read[kProfileReadLimit + 1] = {};
    const DWORD length = ::GetProfileStringA("Orbalin", "Orbalin", "", read, sizeof read);
    f.profile = Utf8(WideFromCodePage(std::string(read, length), CP_ACP));
    std::vector<char> whole(32 * 1024);
    f.profileLength = ::GetProfileStringA("Orbalin", "Orbalin", "", whole.data(), static_cast<DWORD>(whole.size()));
    f.profileExists = !f.profile.empty() && FileExists(f.profile);
    // What "open" would start for it; more than 32 when there is a program.
    wchar_t program[MAX_PATH] = {};
    f.profileStartable =
        f.profileExists &&
        reinterpret_cast<INT_PTR>(::FindExecutableW(Wide(f.profile).c_str(), nullptr, program)) > 32;
}

// Manifests of programs beside the shipped DLL, other than orbalin-check's.
void ReadClientManifests(BitnessFacts& f)
{
    const std::string folder = FolderOf(f.shipped.path);
    f.assemblyIdentity = AssemblyIdentity(ReadWhole(folder + "\\Orbalin.manifest"));
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(Wide(folder + "\\*.exe.manifest").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = Utf8(found.cFileName);
        if (::CompareStringOrdinal(found.cFileName, 13, L"orbalin-check", 13, TRUE) == CSTR_EQUAL)
            continue;
        const std::string path = folder + "\\" + name;
        f.clientManifests.emplace_back(path, NamesAssembly(ReadWhole(path), f.assemblyIdentity));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

constexpr DWORD kAnswerRoom = 64 * 1024;
// Creating the object and CheckStatus take well under a second; this only
// keeps a hung sibling from hanging the check.
constexpr DWORD kSiblingLimitMs = 60'000;

}  // namespace

int OwnBits() { return sizeof(void*) == 8 ? 64 : 32; }

bool FileExists(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string OwnFolder()
{
    wchar_t path[MAX_PATH * 2];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring folder(path, length < MAX_PATH * 2 ? length : 0);
    const std::size_t cut = folder.find_last_of(L"\\/");
    return Utf8(cut == std::wstring::npos ? folder : folder.substr(0, cut));
}

BitnessFacts ProbeRows(int bits, const Identity& id, const std::string& shippedDll)
{
    BitnessFacts f;
    f.bits = bits;
    BOOL wow64 = FALSE;
    f.windows64 = OwnBits() == 64 || (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64);
    wchar_t windows[MAX_PATH];
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        f.windowsDir = Utf8(windows);
    f.machineRows = ReadRows(HKEY_LOCAL_MACHINE, bits, id);
    f.userRows = ReadRows(HKEY_CURRENT_USER, bits, id);
    const Rows& rows = f.machineRows.progId || !f.userRows.progId ? f.machineRows : f.userRows;
    f.server = ReadDll(rows.serverPath);
    f.shipped = ReadDll(shippedDll);

    const std::wstring typeLibKey = L"Software\\Classes\\TypeLib\\" + Wide(id.libid) + L"\\1.0\\0\\win" +
                                    std::to_wstring(bits);
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        if (UniqueHkey key = OpenKey(root, typeLibKey, bits)) {
            f.typeLibRegistered = ReadString(key.Get(), nullptr, f.typeLibPath);
            if (f.typeLibRegistered)
                break;
        }
    }
    // A library registered from a DLL may carry a resource suffix: …\Orbalin.dll\1.
    std::string file = Unquote(f.typeLibPath);
    if (!FileExists(file)) {
        const std::size_t cut = file.find_last_of('\\');
        if (cut != std::string::npos && file.find_first_not_of("0123456789", cut + 1) == std::string::npos)
            file.resize(cut);
    }
    f.typeLibPathExists = f.typeLibRegistered && FileExists(file);

    ReadProfile(f);
    f.elevated = RunsElevated();
    f.codePage = ::GetACP();
    f.serverPathFits = FitsAnsiCodePage(f.server.path);
    f.shippedPathFits = FitsAnsiCodePage(f.shipped.path);
    if (f.server.exists) {
        f.serverWritable = WritableByOrdinaryUsers(f.server.path);
        if (f.shipped.exists)
            f.serverVsShipped = ReadWhole(f.server.path) == ReadWhole(f.shipped.path) ? BitnessFacts::Sameness::Same
                                                                                      : BitnessFacts::Sameness::Differs;
    }
    ReadClientManifests(f);
    return f;
}

void ProbeActivation(BitnessFacts& f, const Identity& id)
{
    ComApartment apartment;
    f.activationTried = true;
    if (FAILED(apartment.Result())) {
        f.create = Record(apartment.Result());
        return;
    }
    GUID libid{};
    if (SUCCEEDED(::CLSIDFromString(Wide(id.libid).c_str(), &libid))) {
        ComPtr<ITypeLib> typeLib;
        f.typeLibLoad = Record(::LoadRegTypeLib(libid, 1, 0, 0, &typeLib));
    }
    CLSID clsid{};
    f.progIdLookup = Record(::CLSIDFromProgID(Wide(id.progId).c_str(), &clsid));
    if (f.progIdLookup.Failed())
        return;
    f.progIdLookupClsid = GuidText(clsid);
    ComPtr<IDispatch> object;
    f.create = Record(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)));
    if (f.create.Failed())
        return;
    // Through IDispatch, as a script client calls it.
    wchar_t name[] = L"CheckStatus";
    LPOLESTR names[] = {name};
    DISPID member = 0;
    f.checkStatus = Record(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member));
    if (f.checkStatus.Failed())
        return;
    DISPPARAMS none{};
    lorvane::win::UniqueVariant result;
    f.checkStatus = Record(object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                          result.Receive(), nullptr, nullptr));
    if (f.checkStatus.Succeeded() && SUCCEEDED(::VariantChangeType(result.Address(), result.Address(), 0, VT_I4)))
        f.status = result->lVal;
}

std::string RunSibling(const std::string& program, int bits, std::string& whyNot)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    // The pipe holds the whole answer (a few kilobytes), so the sibling never
    // blocks on it and a hung one can be given up after a time.
    if (!::CreatePipe(readEnd.Receive(), writeEnd.Receive(), &inherit, kAnswerRoom)) {
        whyNot = "no pipe: " + lorvane::win::SystemErrorText(::GetLastError());
        return {};
    }
    ::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    UniqueHandle nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                   OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = nul.Get();
    start.hStdOutput = writeEnd.Get();
    start.hStdError = nul.Get();
    std::wstring command = L"\"" + Wide(program) + L"\" --json --bits " + std::to_wstring(bits);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &start,
                          &info)) {
        whyNot = "starting " + program + " failed: " + lorvane::win::SystemErrorText(::GetLastError());
        return {};
    }
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    writeEnd.Reset();  // so that the read ends when the sibling does
    if (::WaitForSingleObject(process.Get(), kSiblingLimitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.Get(), 1);
        whyNot = program + " gave no answer within " + std::to_string(kSiblingLimitMs / 1000) + " s";
        return {};
    }
    std::string output;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(readEnd.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        output.append(buffer, read);
    DWORD code = 0;
    ::GetExitCodeProcess(process.Get(), &code);
    if (output.empty())
        whyNot = program + " gave no answer (exit code " + std::to_string(code) + ")";
    return output;
}

}  // namespace orbalin::check
