#include "server/object/win32/orbalin_obj.h"

#include <wrl/client.h>

#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "common/win/text.h"
#include "server/protocol/detector_protocol.h"

namespace orbalin {
namespace {

// Success severity on purpose: point-of-sale programs compare the returned
// value with 0x00040001, and scripting clients must not stop on it.
constexpr HRESULT kErrorNotResponding = 0x00040001;
constexpr char kNotRespondingDescription[] = "Not Responding";

// A record left by an earlier call (SendCommand's not-responding report
// has success severity, so clients often leave it unread) must not be taken
// later for the description of an unrelated failure. Every member starts
// by dropping the thread's record.
void ClearErrorRecord() { ::SetErrorInfo(0, nullptr); }

using LineGuard = std::lock_guard<std::mutex>;

// The stored string becomes a copy of the given one up to its first NUL; a
// null string leaves it absent. A copy that cannot be allocated leaves the
// old value and is reported. The copy is made and the old string freed
// outside the lock; only the swap is guarded.
HRESULT StoreString(std::mutex& lock, lorvane::win::UniqueBstr& stored, BSTR value) noexcept
{
    lorvane::win::UniqueBstr copy(value);
    if (value != nullptr && !copy)
        return E_OUTOFMEMORY;
    {
        const LineGuard guard(lock);
        std::swap(stored, copy);
    }
    return S_OK;
}

// The caller owns the copy; an absent string reads as empty.
HRESULT CopyString(std::mutex& lock, const lorvane::win::UniqueBstr& stored, BSTR* out) noexcept
{
    if (out == nullptr)
        return E_POINTER;
    const LineGuard guard(lock);
    *out = ::SysAllocString(stored ? stored.Get() : L"");
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

template <typename T>
HRESULT CopyOut(std::mutex& lock, const T& value, T* out) noexcept
{
    if (out == nullptr)
        return E_POINTER;
    const LineGuard guard(lock);
    *out = value;
    return S_OK;
}

template <typename T>
void StoreValue(std::mutex& lock, T& stored, T value) noexcept
{
    const LineGuard guard(lock);
    stored = value;
}

// Code and Name as 8-bit text in the system ANSI code page, up to the first
// NUL. Characters the code page lacks become its default character; best-fit
// look-alikes (Greek alpha as Latin "a") are refused, so a product name is
// never silently turned into a different one.
std::string AnsiFromWide(std::wstring_view text)
{
    return lorvane::win::CodePageFromWide(text, CP_ACP, WC_NO_BEST_FIT_CHARS);
}

std::wstring_view View(const lorvane::win::UniqueBstr& value)
{
    return value ? std::wstring_view(value.Get()) : std::wstring_view();
}

}  // namespace

OrbalinObj::OrbalinObj() noexcept : m_desktop(m_realDesktop) {}

OrbalinObj::OrbalinObj(Desktop& desktop) noexcept : m_desktop(desktop) {}

HRESULT OrbalinObj::get_Code(BSTR* pVal) noexcept
{
    ClearErrorRecord();
    return CopyString(m_lineLock, m_code, pVal);
}

HRESULT OrbalinObj::put_Code(BSTR value) noexcept
{
    ClearErrorRecord();
    return StoreString(m_lineLock, m_code, value);
}

HRESULT OrbalinObj::get_Name(BSTR* pVal) noexcept
{
    ClearErrorRecord();
    return CopyString(m_lineLock, m_name, pVal);
}

HRESULT OrbalinObj::put_Name(BSTR value) noexcept
{
    ClearErrorRecord();
    return StoreString(m_lineLock, m_name, value);
}

HRESULT OrbalinObj::get_Price(double* pVal) noexcept
{
    ClearErrorRecord();
    return CopyOut(m_lineLock, m_price, pVal);
}

HRESULT OrbalinObj::put_Price(double value) noexcept
{
    ClearErrorRecord();
    StoreValue(m_lineLock, m_price, value);
    return S_OK;
}

HRESULT OrbalinObj::get_Quantity(double* pVal) noexcept
{
    ClearErrorRecord();
    return CopyOut(m_lineLock, m_quantity, pVal);
}

HRESULT OrbalinObj::put_Quantity(double value) noexcept
{
    ClearErrorRecord();
    StoreValue(m_lineLock, m_quantity, value);
    return S_OK;
}

HRESULT OrbalinObj::get_DeviceNumber(LONG* pVal) noexcept
{
    ClearErrorRecord();
    return CopyOut(m_lineLock, m_deviceNumber, pVal);
}

HRESULT OrbalinObj::put_DeviceNumber(LONG value) noexcept
{
    ClearErrorRecord();
    StoreValue(m_lineLock, m_deviceNumber, value);
    return S_OK;
}

HRESULT OrbalinObj::InitOrbalin() noexcept
{
    ClearErrorRecord();
    try {
        InitialiseDetector(m_desktop);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT OrbalinObj::SendCommand(short cmdCode) noexcept
{
    ClearErrorRecord();
    SendResult result;
    try {
        // A snapshot under the lock: another thread may replace the line
        // while this one waits for the detector.
        std::wstring code;
        std::wstring name;
        SaleLine line;
        {
            const LineGuard guard(m_lineLock);
            code = View(m_code);
            name = View(m_name);
            line.deviceNumber = m_deviceNumber;
            line.quantity = m_quantity;
            line.price = m_price;
        }
        line.code = AnsiFromWide(code);
        line.name = AnsiFromWide(name);
        result = SendCommandText(m_desktop, CommandText(cmdCode, line));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (result == SendResult::NotResponding)
        return ReportError(CLSID_OrbalinObj, kNotRespondingDescription, IID_IOrbalinObj, kErrorNotResponding);
    return S_OK;
}

HRESULT OrbalinObj::CheckStatus(LONG* retVal) noexcept
{
    ClearErrorRecord();
    if (retVal == nullptr)
        return E_POINTER;
    // A client that reads the value without checking the status sees 0, the
    // "no status form" value, never stale memory.
    *retVal = 0;
    try {
        *retVal = ReadStatus(m_desktop);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT OrbalinObj::InterfaceSupportsErrorInfo(REFIID riid) noexcept
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
    return status;
}

}  // namespace orbalin
