// Measures Orbalin's dispatch in one process: property put+get through
// IDispatch::Invoke against the same calls through the interface table, and
// GetIDsOfNames answered from the name table ("Price") against the type
// information's own lookup ("price").
//
//   dispatch_bench PATH_OF_ORBALIN_DLL
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <chrono>
#include <cstdio>

#include "server/contract/orbalin_contract.h"

namespace {

using Microsoft::WRL::ComPtr;
using Clock = std::chrono::steady_clock;

// Calls per second of body(), run in rounds until at least 0.5 s has passed.
template <typename Body>
double CallsPerSecond(int callsPerRound, Body body)
{
    constexpr int kRoundsPerCheck = 1000;
    long long calls = 0;
    const auto start = Clock::now();
    std::chrono::duration<double> elapsed{};
    do {
        for (int i = 0; i < kRoundsPerCheck; ++i)
            body(i);
        calls += static_cast<long long>(kRoundsPerCheck) * callsPerRound;
        elapsed = Clock::now() - start;
    } while (elapsed.count() < 0.5);
    return calls / elapsed.count();
}

int Fail(const char* what, HRESULT hr)
{
    std::printf("%s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return 1;
}

int Run(const wchar_t* dllPath)
{
    HMODULE library = ::LoadLibraryW(dllPath);
    if (!library)
        return Fail("LoadLibrary", HRESULT_FROM_WIN32(::GetLastError()));
    using RegisterFn = HRESULT(STDAPICALLTYPE*)();
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto registerServer =
        reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(::GetProcAddress(library, "DllRegisterServer")));
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(::GetProcAddress(library, "DllGetClassObject")));
    if (!registerServer || !getClassObject)
        return Fail("GetProcAddress", E_FAIL);
    // Late binding finds the type library through its registration.
    if (HRESULT hr = registerServer(); FAILED(hr))
        return Fail("DllRegisterServer", hr);

    ComPtr<IClassFactory> factory;
    ComPtr<IOrbalinObj> object;
    ComPtr<IDispatch> dispatch;
    if (HRESULT hr = getClassObject(CLSID_OrbalinObj, IID_PPV_ARGS(&factory)); FAILED(hr))
        return Fail("DllGetClassObject", hr);
    if (HRESULT hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)); FAILED(hr))
        return Fail("CreateInstance", hr);
    object.As(&dispatch);

    volatile double sink = 0;
    const double early = CallsPerSecond(2, [&](int i) {
        double value = 0;
        object->put_Price(i);
        object->get_Price(&value);
        sink = value;
    });

    HRESULT lateResult = S_OK;
    const double late = CallsPerSecond(2, [&](int i) {
        VARIANT value;
        ::VariantInit(&value);
        value.vt = VT_R8;
        value.dblVal = i;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS put{&value, &named, 1, 1};
        lateResult |= dispatch->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr,
                                       nullptr);
        DISPPARAMS none{};
        VARIANT result;
        ::VariantInit(&result);
        lateResult |= dispatch->Invoke(3, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result,
                                       nullptr, nullptr);
        sink = result.dblVal;
    });
    if (FAILED(lateResult))
        return Fail("Invoke", lateResult);

    auto lookUp = [&](const wchar_t* name) {
        HRESULT failed = S_OK;
        const double rate = CallsPerSecond(1, [&](int) {
            LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
            DISPID id = 0;
            failed |= dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
            sink = id;
        });
        return FAILED(failed) ? -1.0 : rate;
    };
    const double fromTable = lookUp(L"Price");
    const double fromTypeInfo = lookUp(L"price");
    if (fromTable < 0 || fromTypeInfo < 0)
        return Fail("GetIDsOfNames", E_FAIL);

    std::printf("early-bound put+get Price: %.0f calls/s\n", early);
    std::printf("late-bound Invoke put+get Price: %.0f calls/s\n", late);
    std::printf("early-bound / late-bound: %.1f x\n", early / late);
    std::printf("GetIDsOfNames \"Price\" (name table): %.0f calls/s\n", fromTable);
    std::printf("GetIDsOfNames \"price\" (type information): %.0f calls/s\n", fromTypeInfo);
    std::printf("name table / type information lookup: %.1f x\n", fromTable / fromTypeInfo);
    std::printf("server-dispatch late-bound calls: %.0f calls/s\n", late);
    object.Reset();
    dispatch.Reset();
    factory.Reset();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dispatch_bench PATH_OF_ORBALIN_DLL\n");
        return 2;
    }
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = Run(argv[1]);
    ::CoUninitialize();
    return result;
}
