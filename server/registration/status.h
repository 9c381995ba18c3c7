// Status codes of the registration script interpreter. The values are the
// platform's HRESULTs, spelled out here so that the portable interpreter
// needs no platform header and the runner can pass them on unchanged.
#pragma once

#include <cstdint>

#include "common/result_code.h"

namespace orbalin {

using Status = std::int32_t;

namespace status {
inline constexpr Status Ok = 0;                                                   // S_OK
inline constexpr Status Failed = static_cast<Status>(0x80004005u);                // E_FAIL
inline constexpr Status OutOfMemory = static_cast<Status>(0x8007000Eu);           // E_OUTOFMEMORY
inline constexpr Status DispatchException = static_cast<Status>(0x80020009u);     // DISP_E_EXCEPTION
// HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION): a replacement value has
// characters the code page does not hold.
inline constexpr Status NoUnicodeTranslation = static_cast<Status>(0x80070459u);
}  // namespace status

inline bool Succeeded(Status s) { return s >= 0; }

// Runs work of the preprocessor or the interpreter. Only their strings'
// allocations throw (std::bad_alloc, or std::length_error past the largest
// size), so any exception is reported as memory running out.
template <typename Work>
Status OutOfMemoryGuarded(Work&& work) noexcept
{
    return lorvane::Guarded(work, status::OutOfMemory, status::OutOfMemory);
}

}  // namespace orbalin
