#include "server/object/orbalin_obj.h"

#include <wrl/client.h>

#include <new>
#include <string>
#include <string_view>

#include "common/win/text.h"
#include "server/protocol/detector_protocol.h"

namespace orbalin {
namespace {

constexpr HRESULT kErrorNotResponding = 0x00040001;
constexpr char kNotRespondingDescription[] = "Not Responding";

// A record left by an earlier call (SendCommand's not-responding report
// has success severity, so clients often leave it unread) must not be taken
// later for the description of an unrelated failure. Every member starts
// by dropping the thread's record.
void ClearErrorRecord() { ::SetErrorInfo(0, nullptr); }

// Replaces the stored string with a copy of the given one up to its first
// NUL. A null string, or a copy that cannot be allocated, leaves it absent.
void StoreString(BSTR& stored, BSTR value)
{
    ::SysFreeString(stored);
    stored = value != nullptr ? ::SysAllocString(value) : nullptr;
}

HRESULT CopyString(BSTR stored, BSTR* out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = ::SysAllocString(stored != nullptr ? stored : L"");
    return S_OK;
}

template <typename T>
HRESULT CopyOut(T value, T* out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = value;
    return S_OK;
}

// Code and Name as 8-bit text in the system ANSI code page, up to the first
// NUL. Characters the code page lacks become its default character; best-fit
// look-alikes (Greek alpha as Latin "a") are refused, so a product name is
// never silently turned into a different one.
std::string AnsiFromWide(BSTR value)
{
    const std::wstring_view text = value != nullptr ? std::wstring_view(value) : std::wstring_view();
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr, 0, nullptr,
                                             nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), size, narrow.data(), length, nullptr,
                              nullptr);
    return narrow;
}

}  // namespace

OrbalinObj::OrbalinObj() noexcept : m_desktop(m_realDesktop) {}

OrbalinObj::OrbalinObj(Desktop& desktop) noexcept : m_desktop(desktop) {}

OrbalinObj::~OrbalinObj()
{
    ::SysFreeString(m_code);
    ::SysFreeString(m_name);
}

HRESULT OrbalinObj::get_Code(BSTR* pVal)
{
    ClearErrorRecord();
    return CopyString(m_code, pVal);
}

HRESULT OrbalinObj::put_Code(BSTR value)
{
    ClearErrorRecord();
    StoreString(m_code, value);
    return S_OK;
}

HRESULT OrbalinObj::get_Name(BSTR* pVal)
{
    ClearErrorRecord();
    return CopyString(m_name, pVal);
}

HRESULT OrbalinObj::put_Name(BSTR value)
{
    ClearErrorRecord();
    StoreString(m_name, value);
    return S_OK;
}

HRESULT OrbalinObj::get_Price(double* pVal)
{
    ClearErrorRecord();
    return CopyOut(m_price, pVal);
}

HRESULT OrbalinObj::put_Price(double value)
{
    ClearErrorRecord();
    m_price = value;
    return S_OK;
}

HRESULT OrbalinObj::get_Quantity(double* pVal)
{
    ClearErrorRecord();
    return CopyOut(m_quantity, pVal);
}

HRESULT OrbalinObj::put_Quantity(double value)
{
    ClearErrorRecord();
    m_quantity = value;
    return S_OK;
}

HRESULT OrbalinObj::get_DeviceNumber(LONG* pVal)
{
    ClearErrorRecord();
    return CopyOut(m_deviceNumber, pVal);
}

HRESULT OrbalinObj::put_DeviceNumber(LONG value)
{
    ClearErrorRecord();
    m_deviceNumber = value;
    return S_OK;
}

HRESULT OrbalinObj::InitOrbalin()
{
    ClearErrorRecord();
    try {
        InitialiseDetector(m_desktop);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT OrbalinObj::SendCommand(short cmdCode)
{
    ClearErrorRecord();
    SendResult result;
    try {
        SaleLine line;
        line.deviceNumber = m_deviceNumber;
        line.code = AnsiFromWide(m_code);
        line.name = AnsiFromWide(m_name);
        line.quantity = m_quantity;
        line.price = m_price;
        result = SendCommandText(m_desktop, CommandText(cmdCode, line));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (result == SendResult::NotResponding)
        return ReportError(CLSID_OrbalinObj, kNotRespondingDescription, IID_IOrbalinObj, kErrorNotResponding);
    return S_OK;
}

HRESULT OrbalinObj::CheckStatus(LONG* retVal)
{
    ClearErrorRecord();
    if (retVal == nullptr)
        return E_POINTER;
    try {
        *retVal = ReadStatus(m_desktop);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT OrbalinObj::InterfaceSupportsErrorInfo(REFIID riid)
{
    return ::IsEqualIID(riid, IID_IOrbalinObj) ? S_OK : S_FALSE;
}

HRESULT ReportError(REFCLSID classId, const char* description, REFIID interfaceId, HRESULT status) noexcept
{
    try {
        const std::wstring text = lorvane::win::WideFromCodePage(description, CP_ACP);
        Microsoft::WRL::ComPtr<ICreateErrorInfo> record;
        if (SUCCEEDED(::CreateErrorInfo(&record))) {
            record->SetGUID(interfaceId);
            LPOLESTR progId = nullptr;
            if (SUCCEEDED(::ProgIDFromCLSID(classId, &progId)) && progId != nullptr) {
                record->SetSource(progId);
                ::CoTaskMemFree(progId);
            }
            record->SetDescription(const_cast<LPOLESTR>(text.c_str()));
            Microsoft::WRL::ComPtr<IErrorInfo> info;
            if (SUCCEEDED(record.As(&info)))
                ::SetErrorInfo(0, info.Get());
        }
    } catch (const std::bad_alloc&) {
        // The status still tells the client; only the record is lost.
    }
    return status == S_OK ? DISP_E_EXCEPTION : status;
}

}  // namespace orbalin
