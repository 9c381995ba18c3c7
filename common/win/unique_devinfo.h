// Owns a SetupAPI device information set. SetupDiGetClassDevs reports
// failure as INVALID_HANDLE_VALUE, so that is the empty value.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include "common/win/unique_any.h"

namespace lorvane::win {

struct DevInfoTraits {
    using Type = HDEVINFO;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::SetupDiDestroyDeviceInfoList(h); }
};

using UniqueDevInfo = UniqueAny<DevInfoTraits>;

}  // namespace lorvane::win
