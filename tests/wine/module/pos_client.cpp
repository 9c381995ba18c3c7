// An early-bound point-of-sale client of Orbalin, for the client tests:
// creates the object by programmatic name (or by class identifier, given in
// braces), fills one sale line, calls the three methods, and prints every
// result and the error record if one is left.
//
//   orbalin_pos_client PROGID|{CLSID} COMMAND [--dismiss-message-box] [--late-bound]
//                      [--properties-only] [--progid NAME]...
//
// With --dismiss-message-box a watcher presses OK on the server's
// not-responding boxes (caption "Tessaly") and prints their text. With
// --late-bound the command is sent once more through IDispatch. With
// --properties-only no command is sent: the five properties are read back
// and the status is read. Each --progid NAME is resolved with
// CLSIDFromProgID and the answer printed, as a registration-free client
// sees it.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/win/unique_bstr.h"
#include "common/win/unique_variant.h"
#include "server/contract/orbalin_contract.h"

namespace {

using lorvane::win::UniqueBstr;
using lorvane::win::UniqueVariant;
using Microsoft::WRL::ComPtr;

std::string Utf8(const wchar_t* text)
{
    if (!text)
        return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

// Watches for the server's message box on this process's desktop and
// presses its OK button.
void DismissMessageBox(const std::atomic<bool>& stop)
{
    while (!stop.load()) {
        if (HWND box = ::FindWindowA("#32770", "Tessaly")) {
            // As the user sees it: the box's wide text, printed as UTF-8.
            wchar_t text[512] = {};
            ::GetDlgItemTextW(box, 0xFFFF, text, static_cast<int>(std::size(text)));
            std::printf("message box text: %s\n", Utf8(text).c_str());
            std::fflush(stdout);
            ::PostMessageA(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
            while (!stop.load() && ::IsWindow(box))
                ::Sleep(50);
            continue;
        }
        ::Sleep(50);
    }
}

void PrintErrorRecord(IOrbalinObj* object)
{
    ComPtr<ISupportErrorInfo> support;
    if (FAILED(object->QueryInterface(IID_PPV_ARGS(&support))) ||
        support->InterfaceSupportsErrorInfo(IID_IOrbalinObj) != S_OK) {
        std::printf("no error support\n");
        return;
    }
    ComPtr<IErrorInfo> record;
    if (::GetErrorInfo(0, &record) != S_OK || !record) {
        std::printf("no error record\n");
        return;
    }
    UniqueBstr description, source;
    GUID iid{};
    record->GetDescription(description.Receive());
    record->GetSource(source.Receive());
    record->GetGUID(&iid);
    std::printf("error record: source=%s description=%s interface=%s\n", Utf8(source.Get()).c_str(),
                Utf8(description.Get()).c_str(), ::IsEqualGUID(iid, IID_IOrbalinObj) ? "IOrbalinObj" : "other");
}

// SendCommand through IDispatch, as a scripting host calls it; then tells
// whether an error record is left on the thread for a later failure to find.
void SendLateBound(IOrbalinObj* object, short command)
{
    VARIANT argument;
    ::VariantInit(&argument);
    argument.vt = VT_I2;
    argument.iVal = command;
    DISPPARAMS parameters{&argument, nullptr, 1, 0};
    UniqueVariant result;
    const HRESULT hr = object->Invoke(7, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                                      result.Receive(), nullptr, nullptr);
    std::printf("late-bound SendCommand=0x%08lX\n", hr);
    ComPtr<IErrorInfo> record;
    std::printf("record after late-bound call: %s\n", ::GetErrorInfo(0, &record) == S_OK && record ? "left" : "none");
}

std::string GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return Utf8(text);
}

// What the name resolves to: status and class identifier.
void PrintProgId(const wchar_t* progId)
{
    CLSID classId{};
    const HRESULT hr = ::CLSIDFromProgID(progId, &classId);
    std::printf("ProgID %s: 0x%08lX %s\n", Utf8(progId).c_str(), hr, GuidText(classId).c_str());
}

void PrintProperties(IOrbalinObj* object)
{
    UniqueBstr code, name;
    double price = -1, quantity = -1;
    LONG device = -1;
    const HRESULT results[] = {object->get_Code(code.Receive()), object->get_Name(name.Receive()),
                               object->get_Price(&price), object->get_Quantity(&quantity),
                               object->get_DeviceNumber(&device)};
    bool all = true;
    for (HRESULT result : results)
        all = all && result == S_OK;
    std::printf("properties%s: Code=%s Name=%s Price=%g Quantity=%g DeviceNumber=%ld\n", all ? "" : " (a get failed)",
                Utf8(code.Get()).c_str(), Utf8(name.Get()).c_str(), price, quantity, device);
}

int Run(const wchar_t* progId, short command, bool lateBound, bool propertiesOnly)
{
    CLSID classId{};
    HRESULT hr = progId[0] == L'{' ? ::CLSIDFromString(progId, &classId) : ::CLSIDFromProgID(progId, &classId);
    if (FAILED(hr)) {
        std::printf("CLSIDFromProgID failed 0x%08lX\n", hr);
        return 1;
    }
    ComPtr<IOrbalinObj> object;
    hr = ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object));
    if (FAILED(hr)) {
        std::printf("CoCreateInstance failed 0x%08lX\n", hr);
        return 1;
    }

    object->put_Code(UniqueBstr(L"A-17").Get());
    object->put_Name(UniqueBstr(L"Bread").Get());
    object->put_Price(1.25);
    object->put_Quantity(2.0);
    object->put_DeviceNumber(3);

    UniqueBstr readBack;
    object->get_Name(readBack.Receive());
    std::printf("Name=%s\n", Utf8(readBack.Get()).c_str());
    if (propertiesOnly) {
        PrintProperties(object.Get());
        LONG status = -1;
        hr = object->CheckStatus(&status);
        std::printf("CheckStatus=0x%08lX status=%ld\n", hr, status);
        return 0;
    }

    std::printf("InitOrbalin=0x%08lX\n", object->InitOrbalin());
    std::fflush(stdout);
    hr = object->SendCommand(command);
    std::printf("SendCommand=0x%08lX\n", hr);
    if (hr != S_OK)
        PrintErrorRecord(object.Get());
    if (lateBound)
        SendLateBound(object.Get(), command);
    LONG status = -1;
    hr = object->CheckStatus(&status);
    std::printf("CheckStatus=0x%08lX status=%ld\n", hr, status);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: orbalin_pos_client PROGID|{CLSID} COMMAND [--dismiss-message-box] [--late-bound]"
                             " [--properties-only] [--progid NAME]...\n");
        return 2;
    }
    bool dismiss = false, lateBound = false, propertiesOnly = false;
    std::vector<const wchar_t*> progIds;
    for (int i = 3; i < argc; ++i) {
        dismiss = dismiss || std::wcscmp(argv[i], L"--dismiss-message-box") == 0;
        lateBound = lateBound || std::wcscmp(argv[i], L"--late-bound") == 0;
        propertiesOnly = propertiesOnly || std::wcscmp(argv[i], L"--properties-only") == 0;
        if (std::wcscmp(argv[i], L"--progid") == 0 && i + 1 < argc)
            progIds.push_back(argv[++i]);
    }
    std::atomic<bool> stop{false};
    std::thread watcher;
    if (dismiss)
        watcher = std::thread(DismissMessageBox, std::cref(stop));

    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (const wchar_t* name : progIds)
        PrintProgId(name);
    const int result = Run(argv[1], static_cast<short>(std::wcstol(argv[2], nullptr, 10)), lateBound, propertiesOnly);
    ::CoUninitialize();

    stop = true;
    if (watcher.joinable())
        watcher.join();
    std::printf("done\n");
    return result;
}
