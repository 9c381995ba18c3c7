// The COM identity of the server object: OrbalinObj (the sale line and its
// members) given IUnknown and a type-information-driven IDispatch, as a
// plain object or as the inner part of an aggregate.
#pragma once

#include <windows.h>

#include "server/object/win32/orbalin_obj.h"

namespace orbalin {

// The object creator of the class table: a plain object without outer,
// an aggregated one (handing out its inner IUnknown) with outer.
HRESULT CreateServerObject(IUnknown* outer, REFIID iid, void** out);

}  // namespace orbalin
