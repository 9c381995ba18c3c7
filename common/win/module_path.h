// The file of a loaded module, for what is registered or loaded by path.
#pragma once

#include <windows.h>

#include <string>

#include "common/win/com_guard.h"

namespace lorvane::win {

// path receives the full path of module's file. A path cut off at MAX_PATH
// is a failure too: registered, it would name a file that does not exist.
inline HRESULT ModuleFilePath(HMODULE module, std::wstring& path) noexcept
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        const DWORD error = length == 0 ? ::GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    return ComGuarded([&] {
        path.assign(buffer, length);
        return S_OK;
    });
}

}  // namespace lorvane::win
