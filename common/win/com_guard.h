// The exception guard of the COM boundaries: what an entry point or an
// interface method runs inside it answers with an HRESULT, never with an
// exception.
#pragma once

#include <windows.h>

#include "common/result_code.h"

namespace lorvane::win {

// E_OUTOFMEMORY for std::bad_alloc, otherwise for any other exception.
template <typename Action>
HRESULT ComGuarded(Action&& action, HRESULT otherwise = E_UNEXPECTED) noexcept
{
    return Guarded(action, E_OUTOFMEMORY, otherwise);
}

}  // namespace lorvane::win
