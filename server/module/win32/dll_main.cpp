// Orbalin.dll's load notification and its exported entry points: the four
// of every in-process server and DllInstall for per-user registration.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#include <shlwapi.h>

#include "server/contract/orbalin_contract.h"
#include "server/module/win32/class_factory.h"
#include "server/module/win32/server_module.h"
#include "server/module/win32/server_object.h"
#include "server/registration/win32/run_registration_script.h"

namespace {

using namespace orbalin;

void NoStartStop(bool /*starting*/) {}

// The class's registration action. Unregistering also gives back the ProgID
// keys that a build of the other bitness, still registered, shares with
// this one.
HRESULT RegisterOrbalinObj(HINSTANCE instance, bool registerMode, RegistrationScope scope) noexcept
{
    const HRESULT hr = RunRegistrationScript(instance, registerMode, scope);
    if (!registerMode)
        RestoreOtherViewRegistration(instance, CLSID_OrbalinObj, scope);
    return hr;
}

constinit const ClassTableEntry g_classTable[] = {
    {&CLSID_OrbalinObj, RegisterOrbalinObj, CreateClassFactory, CreateServerObject, NoStartStop},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) noexcept
{
    if (reason == DLL_PROCESS_ATTACH) {
        Module().Start(instance, g_classTable, LIBID_ORBALINLib);
        ::DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        Module().Stop();
    }
    return TRUE;
}

// The system headers declare the exports without noexcept; each calls only
// noexcept members of the module, so nothing can leave them.
STDAPI DllCanUnloadNow()
{
    return Module().LockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* out)
{
    return Module().GetClassObject(classId, iid, out);
}

STDAPI DllRegisterServer()
{
    return Module().RegisterServer();
}

STDAPI DllUnregisterServer()
{
    // A stray copy (a second download, a backup folder) must not take the
    // registration of the installed copy with it; there is nothing of its
    // own to remove, so that is success.
    if (RegisteredToAnotherFile(Module().Instance(), CLSID_OrbalinObj))
        return S_OK;
    return Module().UnregisterServer();
}

// regsvr32 /n /i:user registers for the current user, /u /n /i:user removes
// that registration; see ServerModule::Install.
STDAPI DllInstall(BOOL install, PCWSTR commandLine)
{
    // As DllUnregisterServer: a stray copy leaves the registered copy alone.
    RegistrationScope scope = RegistrationScope::Machine;
    if (!install && ServerModule::InstallScope(commandLine, scope) &&
        RegisteredToAnotherFile(Module().Instance(), CLSID_OrbalinObj, scope))
        return S_OK;
    return Module().Install(install != FALSE, commandLine);
}
