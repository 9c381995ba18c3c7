// The class object: one IClassFactory per class table entry, cached by the
// module. The module's own reference does not lock the library; every
// further reference does, once.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "server/module/win32/server_module.h"

namespace orbalin {

// The class-object creator of the class table.
HRESULT CreateClassFactory(ObjectCreator objectCreator, REFIID iid, void** out);

}  // namespace orbalin
