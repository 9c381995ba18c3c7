#include "server/registration/win32/run_registration_script.h"

#include <new>
#include <string>

#include "common/win/module_path.h"
#include "common/win/unique_handle.h"
#include "server/registration/script_interpreter.h"
#include "server/registration/win32/ansi_code_page.h"
#include "server/registration/win32/win32_registry.h"

namespace orbalin {

namespace {

// The platform's last error as a status, or S_OK when it reports none.
HRESULT LastErrorStatus()
{
    const DWORD error = ::GetLastError();
    return error == 0 ? S_OK : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

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
// released on every path. On failure, status is the platform's last error.
bool ReadScript(const std::wstring& path, std::string& text, HRESULT& status)
{
    const lorvane::win::UniqueHmodule file(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    HRSRC resource = file ? ::FindResourceW(file.Get(), MAKEINTRESOURCEW(kRegistrationScriptId), L"REGISTRY")
                          : nullptr;
    HGLOBAL loaded = resource != nullptr ? ::LoadResource(file.Get(), resource) : nullptr;
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        status = LastErrorStatus();
        return false;
    }
    text.assign(static_cast<const char*>(bytes), ::SizeofResource(file.Get(), resource));
    return true;
}

HRESULT Run(HINSTANCE instance, bool registerMode)
{
    std::wstring path;
    if (const HRESULT hr = lorvane::win::ModuleFilePath(instance, path); FAILED(hr))
        return hr;

    std::string text;
    if (HRESULT status = S_OK; !ReadScript(path, text, status))
        return status;

    ReplacementMap map;
    map.Add("Module", DoubleQuotes(path));
    Win32Registry registry;
    const AnsiCodePage codePage;
    return ApplyRegistrationScript(text, registerMode ? ScriptMode::Register : ScriptMode::Unregister, map, codePage,
                                   registry);
}

}  // namespace

HRESULT RunRegistrationScript(HINSTANCE instance, bool registerMode) noexcept
{
    try {
        return Run(instance, registerMode);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace orbalin
