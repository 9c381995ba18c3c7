// server_soak CYCLES ORBALIN_DLL DETECTOR_SIM
// Orbalin.dll over a long run in one process: 4 threads, each cycle creates
// an object through COM, sets the five properties, calls CheckStatus and
// SendCommand against detector-sim and releases the object. Even cycles are
// early-bound (the IOrbalinObj vtable), odd ones late-bound (IDispatch by
// name, as scripting clients call). Prints the handle count and private
// bytes before and after and what DllCanUnloadNow answers at the end.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/common/process_usage.h"
#include "common/win/unique_bstr.h"
#include "common/win/unique_variant.h"
#include "server/contract/orbalin_contract.h"

namespace {

using lorvane::win::UniqueBstr;
using lorvane::win::UniqueVariant;
using Microsoft::WRL::ComPtr;

constexpr int kThreads = 4;
constexpr LONG kShownStatus = 3;   // detector-sim --status 3
constexpr short kCommand = 5;

struct Tally {
    std::atomic<long> cycles{0};
    std::atomic<long> failures{0};
};

bool EarlyBound(IOrbalinObj& object)
{
    const UniqueBstr code(L"4711"), name(L"Bread");
    LONG status = -1;
    return object.put_Code(code.Get()) == S_OK && object.put_Name(name.Get()) == S_OK &&
           object.put_Price(1.25) == S_OK && object.put_Quantity(2.0) == S_OK && object.put_DeviceNumber(1) == S_OK &&
           object.CheckStatus(&status) == S_OK && status == kShownStatus && object.SendCommand(kCommand) == S_OK;
}

// The first failing late-bound call, once, to tell what went wrong.
void ReportFirstFailure(const wchar_t* member, HRESULT hr)
{
    static std::atomic<bool> told{false};
    if (hr != S_OK && !told.exchange(true))
        std::printf("late-bound %ls failed: 0x%08lX\n", member, static_cast<unsigned long>(hr));
}

// Looks the name up on every call, as VBScript does.
HRESULT Call(IDispatch& object, const wchar_t* member, WORD flags, VARIANT* arguments, UINT count, VARIANT* result)
{
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(member);
    if (const HRESULT hr = object.GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr)) {
        ReportFirstFailure(member, hr);
        return hr;
    }
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{arguments, flags == DISPATCH_PROPERTYPUT ? &named : nullptr, count,
                          flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    const HRESULT hr = object.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result, nullptr, nullptr);
    ReportFirstFailure(member, hr);
    return hr;
}

// value stays the caller's.
bool Put(IDispatch& object, const wchar_t* member, VARIANT value)
{
    return Call(object, member, DISPATCH_PROPERTYPUT, &value, 1, nullptr) == S_OK;
}

VARIANT Of(double value) { VARIANT v; ::VariantInit(&v); v.vt = VT_R8; v.dblVal = value; return v; }
VARIANT Of(LONG value) { VARIANT v; ::VariantInit(&v); v.vt = VT_I4; v.lVal = value; return v; }
VARIANT Of(short value) { VARIANT v; ::VariantInit(&v); v.vt = VT_I2; v.iVal = value; return v; }
VARIANT Of(BSTR text) { VARIANT v; ::VariantInit(&v); v.vt = VT_BSTR; v.bstrVal = text; return v; }

bool LateBound(IDispatch& object)
{
    const UniqueBstr code(L"4711"), name(L"Bread");
    if (!Put(object, L"Code", Of(code.Get())) || !Put(object, L"Name", Of(name.Get())) ||
        !Put(object, L"Price", Of(1.25)) || !Put(object, L"Quantity", Of(2.0)) ||
        !Put(object, L"DeviceNumber", Of(LONG{1})))
        return false;
    // CheckStatus's out-argument is its return value to a late-bound caller.
    UniqueVariant status;
    const bool checked = Call(object, L"CheckStatus", DISPATCH_METHOD, nullptr, 0, status.Receive()) == S_OK &&
                         ::VariantChangeType(status.Address(), status.Address(), 0, VT_I4) == S_OK &&
                         status->lVal == kShownStatus;
    VARIANT command = Of(kCommand);
    UniqueVariant result;
    const bool sent = Call(object, L"SendCommand", DISPATCH_METHOD, &command, 1, result.Receive()) == S_OK;
    return checked && sent;
}

template <typename Interface, typename Use>
bool CreateAndUse(Use use)
{
    ComPtr<Interface> object;
    if (FAILED(::CoCreateInstance(CLSID_OrbalinObj, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object))))
        return false;
    return use(*object.Get());
}

bool OneCycle(bool late)
{
    return late ? CreateAndUse<IDispatch>(LateBound) : CreateAndUse<IOrbalinObj>(EarlyBound);
}

void Worker(int thread, long cycles, Tally& tally)
{
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        tally.failures += cycles;
        return;
    }
    for (long i = 0; i < cycles; ++i) {
        if (!OneCycle((i + thread) % 2 == 1))
            ++tally.failures;
        ++tally.cycles;
    }
    ::CoUninitialize();
}

void RunThreads(long cycles, Tally& tally)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(Worker, t, cycles / kThreads + (t < cycles % kThreads ? 1 : 0), std::ref(tally));
    for (auto& t : threads)
        t.join();
}

class DetectorSim {
public:
    explicit DetectorSim(const char* path)
    {
        std::string command = "\"" + std::string(path) + "\" --log NUL --status " + std::to_string(kShownStatus);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        m_started = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &m_process);
        if (m_started)
            ::CloseHandle(m_process.hThread);
    }
    ~DetectorSim()
    {
        if (!m_started)
            return;
        ::TerminateProcess(m_process.hProcess, 0);
        ::WaitForSingleObject(m_process.hProcess, 5000);
        ::CloseHandle(m_process.hProcess);
    }
    bool Ready() const
    {
        for (int i = 0; m_started && i < 500; ++i) {
            if (::FindWindowA("ThunderForm", "Wendrix") && ::FindWindowA("ThunderForm", "FPStatus=3"))
                return true;
            ::Sleep(20);
        }
        return false;
    }

private:
    PROCESS_INFORMATION m_process{};
    bool m_started = false;
};

using EntryPoint = HRESULT(STDAPICALLTYPE*)();

EntryPoint Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: server_soak CYCLES ORBALIN_DLL DETECTOR_SIM\n");
        return 2;
    }
    const long cycles = std::atol(argv[1]);
    // Held for the whole run, so that the library is the one that COM uses
    // and DllCanUnloadNow can be asked at the end.
    HMODULE library = ::LoadLibraryA(argv[2]);
    const EntryPoint canUnloadNow = library ? Resolve(library, "DllCanUnloadNow") : nullptr;
    const EntryPoint registerServer = library ? Resolve(library, "DllRegisterServer") : nullptr;
    const EntryPoint unregisterServer = library ? Resolve(library, "DllUnregisterServer") : nullptr;
    if (!canUnloadNow || !registerServer || !unregisterServer || registerServer() != S_OK) {
        std::fprintf(stderr, "cannot load and register %s\n", argv[2]);
        return 1;
    }
    DetectorSim detector(argv[3]);
    if (!detector.Ready()) {
        std::fprintf(stderr, "detector-sim did not show its forms\n");
        unregisterServer();
        return 1;
    }

    // The warm-up brings in what is made once per process: the class
    // object, the type information, COM's own state.
    Tally warmUp, run;
    RunThreads(std::max<long>(kThreads * 10, cycles / 100), warmUp);
    const lorvane::bench::ProcessUsage start = lorvane::bench::CurrentUsage();
    const ULONGLONG began = ::GetTickCount64();
    RunThreads(cycles, run);
    const ULONGLONG tookMs = ::GetTickCount64() - began;
    const lorvane::bench::ProcessUsage end = lorvane::bench::CurrentUsage();
    const HRESULT unload = canUnloadNow();
    unregisterServer();

    std::printf("%ld cycles on %d threads in %.1f s (%.3f ms a cycle), half early-bound, half late-bound; "
                "%ld failed, %ld failed in the warm-up\n",
                run.cycles.load(), kThreads, tookMs / 1000.0, cycles ? double(tookMs) / cycles : 0.0,
                run.failures.load(), warmUp.failures.load());
    lorvane::bench::PrintUsage("start (after the warm-up)", start);
    lorvane::bench::PrintUsage("end", end);
    std::printf("server-soak: %ld cycles, handle growth %ld, memory growth %lld KiB, unload %s\n", run.cycles.load(),
                lorvane::bench::HandleGrowth(start, end), lorvane::bench::MemoryGrowthKiB(start, end),
                unload == S_OK ? "S_OK" : "S_FALSE");
    return run.failures == 0 && warmUp.failures == 0 && unload == S_OK ? 0 : 1;
}
