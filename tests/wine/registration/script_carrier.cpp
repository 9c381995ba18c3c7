// A library that registers itself from its own script resource, as the
// server does, so the runner can be tried on a file at any path.
#include <windows.h>

#include "server/registration/win32/run_registration_script.h"

namespace {
HINSTANCE g_instance = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_instance = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI RunScript(BOOL registerMode)
{
    return orbalin::RunRegistrationScript(g_instance, registerMode != FALSE);
}
