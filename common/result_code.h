// Result codes shared by portable and Windows code: an HRESULT and the
// registration interpreter's Status are both 32-bit signed codes whose
// failures are negative, so one early return and one exception guard serve
// both without <windows.h>.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

// Returns the code of expression from the enclosing function when it is a
// failure.
#define RETURN_IF_FAILED(expression)                                                     \
    do {                                                                                 \
        const auto result_ = (expression);                                               \
        static_assert(std::is_signed_v<decltype(result_)> && sizeof(result_) == 4,      \
                      "RETURN_IF_FAILED takes an HRESULT or a Status");                 \
        if (result_ < 0)                                                                 \
            return result_;                                                              \
    } while (false)

namespace lorvane {

// Runs action and returns its code; an exception becomes outOfMemory for
// std::bad_alloc and otherwise for anything else, so that none leaves a
// boundary that must answer with a code.
template <typename Action, typename Code = std::invoke_result_t<Action&>>
Code Guarded(Action&& action, std::type_identity_t<Code> outOfMemory, std::type_identity_t<Code> otherwise) noexcept
{
    try {
        return action();
    } catch (const std::bad_alloc&) {
        return outOfMemory;
    } catch (...) {
        return otherwise;
    }
}

}  // namespace lorvane
