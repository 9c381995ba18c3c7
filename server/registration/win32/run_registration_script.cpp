#include "server/registration/win32/run_registration_script.h"

#include <string>

#include <objbase.h>

#include "common/result_code.h"
#include "common/win/com_guard.h"
#include "common/win/module_path.h"
#include "common/win/unique_handle.h"
#include "server/registration/classes_hive.h"
#include "server/registration/script_interpreter.h"
#include "server/registration/win32/ansi_code_page.h"
#include "server/registration/win32/win32_registry.h"

namespace orbalin {

namespace {

// The script writes '%MODULE%' inside single quotes, so a quote in the path
// must be doubled or it would end the quoted token.
std::u16string DoubleQuotes(const std::wstring& path)
{
    std::u16string doubled;
    for (wchar_t c : path) {
        doubled.push_back(static_cast<char16_t>(c));
        if (c == L'\'')
            doubled.push_back(u'\'');
    }
    return doubled;
}

// The script's bytes, read from the library file opened as data; the file is
// released on every path. On failure, status is the platform's last error
// (S_OK when it reports none).
bool ReadScript(const std::wstring& path, std::string& text, HRESULT& status)
{
    const lorvane::win::UniqueHmodule file(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    HRSRC resource = file ? ::FindResourceW(file.Get(), MAKEINTRESOURCEW(kRegistrationScriptId), L"REGISTRY")
                          : nullptr;
    HGLOBAL loaded = resource != nullptr ? ::LoadResource(file.Get(), resource) : nullptr;
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        status = HRESULT_FROM_WIN32(::GetLastError());
        return false;
    }
    text.assign(static_cast<const char*>(bytes), ::SizeofResource(file.Get(), resource));
    return true;
}

// This library's own file path.
HRESULT OwnPath(HINSTANCE instance, std::wstring& path)
{
    return lorvane::win::ModuleFilePath(instance, path);
}

// Applies the script of the library file scriptPath with module as %MODULE%
// in the given registry view, to the scope's own classes hive.
HRESULT Apply(const std::wstring& scriptPath, const std::wstring& module, bool registerMode, REGSAM view,
              RegistrationScope scope)
{
    std::string text;
    if (HRESULT status = S_OK; !ReadScript(scriptPath, text, status))
        return status;

    ReplacementMap map;
    map.Add("Module", DoubleQuotes(module));
    Win32Registry registry(view);
    const AnsiCodePage codePage;
    return ApplyRegistrationScriptInScope(text, registerMode ? ScriptMode::Register : ScriptMode::Unregister, map,
                                          codePage, registry, scope);
}

HRESULT Run(HINSTANCE instance, bool registerMode, RegistrationScope scope)
{
    std::wstring path;
    RETURN_IF_FAILED(OwnPath(instance, path));
    return Apply(path, path, registerMode, 0, scope);
}

// The view of 64-bit Windows that is not this process's own one, or 0 on
// 32-bit Windows, which has one view only.
REGSAM OtherView()
{
    if (sizeof(void*) == 8)
        return KEY_WOW64_32KEY;
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
}

// The file that CLSID\{classId}\InprocServer32 names in the view of the
// scope's classes, or empty.
std::wstring RegisteredServer(REFCLSID classId, REGSAM view, RegistrationScope scope)
{
    wchar_t classText[40];
    if (::StringFromGUID2(classId, classText, 40) == 0)
        return {};
    // The scope's own hive, never the merged classes root: an elevated
    // unregistration must not take another user's per-user copy for this one.
    const std::wstring keyName = std::wstring(L"Software\\Classes\\CLSID\\") + classText + L"\\InprocServer32";
    const HKEY hive = scope == RegistrationScope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(hive, keyName.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS)
        return {};
    const lorvane::win::UniqueHkey key(opened);
    wchar_t buffer[MAX_PATH];
    DWORD type = 0;
    DWORD size = sizeof buffer;
    if (::RegQueryValueExW(key.Get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ || size < sizeof(wchar_t))
        return {};
    // The data need not end in a terminator.
    std::wstring path(buffer, size / sizeof(wchar_t));
    while (!path.empty() && path.back() == L'\0')
        path.pop_back();
    return path;
}

// One file under two names (case, short names, another drive mapping)
// counts as the same file.
bool SameFile(const std::wstring& a, const std::wstring& b)
{
    if (::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL)
        return true;
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    const std::wstring* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        const lorvane::win::UniqueHandle file(::CreateFileW(paths[i]->c_str(), 0,
                                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                            nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file || !::GetFileInformationByHandle(file.Get(), &info[i]))
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

bool OtherFileRegistered(HINSTANCE instance, REFCLSID classId, RegistrationScope scope)
{
    const std::wstring registered = RegisteredServer(classId, 0, scope);
    // No row, or a row naming a file that is gone: unregistering goes on
    // as before and clears it.
    if (registered.empty() || ::GetFileAttributesW(registered.c_str()) == INVALID_FILE_ATTRIBUTES)
        return false;
    std::wstring own;
    if (FAILED(OwnPath(instance, own)))
        return false;
    return !SameFile(registered, own);
}

HRESULT Restore(HINSTANCE instance, REFCLSID classId, RegistrationScope scope)
{
    const REGSAM view = OtherView();
    if (view == 0)
        return S_FALSE;
    const std::wstring other = RegisteredServer(classId, view, scope);
    if (other.empty())
        return S_FALSE;
    std::wstring path;
    RETURN_IF_FAILED(OwnPath(instance, path));
    return Apply(path, other, true, view, scope);
}

}  // namespace

// No exception leaves the entry points: allocation failures become
// E_OUTOFMEMORY, anything else E_FAIL.
using lorvane::win::ComGuarded;

HRESULT RunRegistrationScript(HINSTANCE instance, bool registerMode, RegistrationScope scope) noexcept
{
    return ComGuarded([&] { return Run(instance, registerMode, scope); }, E_FAIL);
}

HRESULT RestoreOtherViewRegistration(HINSTANCE instance, REFCLSID classId, RegistrationScope scope) noexcept
{
    return ComGuarded([&] { return Restore(instance, classId, scope); }, E_FAIL);
}

bool RegisteredToAnotherFile(HINSTANCE instance, REFCLSID classId, RegistrationScope scope) noexcept
{
    return ComGuarded([&] { return OtherFileRegistered(instance, classId, scope) ? S_OK : S_FALSE; }, E_FAIL) == S_OK;
}

}  // namespace orbalin
