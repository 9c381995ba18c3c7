#include "server/object/win32/orbalin_obj.h"

#include <wrl/client.h>

#include <string>
#include <string_view>
#include <utility>

#include "common/result_code.h"
#include "common/win/com_guard.h"
#include "common/win/text.h"
#include "common/win/unique_memory.h"
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

// The accessors of the sale line: each drops the thread's error record, then
// reads or replaces one field under the line's lock.

// The caller owns the copy; an absent string reads as empty.
HRESULT ReadField(std::mutex& lock, const lorvane::win::UniqueBstr& stored, BSTR* out) noexcept
{
    ClearErrorRecord();
    if (out == nullptr)
        return E_POINTER;
    const LineGuard guard(lock);
    *out = ::SysAllocString(stored ? stored.Get() : L"");
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The stored string becomes a copy of the given one up to its first NUL; a
// null string leaves it absent. A copy that cannot be allocated leaves the
// old value and is reported. The copy is made and the old string freed
// outside the lock; only the swap is guarded.
HRESULT WriteField(std::mutex& lock, lorvane::win::UniqueBstr& stored, BSTR value) noexcept
{
    ClearErrorRecord();
    lorvane::win::UniqueBstr copy(value);
    if (value != nullptr && !copy)
        return E_OUTOFMEMORY;
    {
        const LineGuard guard(lock);
        std::swap(stored, copy);
    }
    return S_OK;
}

template <typename T>
HRESULT ReadField(std::mutex& lock, const T& value, T* out) noexcept
{
    ClearErrorRecord();
    if (out == nullptr)
        return E_POINTER;
    const LineGuard guard(lock);
    *out = value;
    return S_OK;
}

template <typename T>
HRESULT WriteField(std::mutex& lock, T& stored, T value) noexcept
{
    ClearErrorRecord();
    const LineGuard guard(lock);
    stored = value;
    return S_OK;
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

// May throw std::bad_alloc.
HRESULT LeaveErrorRecord(REFCLSID classId, const char* description, REFIID interfaceId)
{
    const std::wstring text = lorvane::win::WideFromCodePage(description, CP_ACP);
    Microsoft::WRL::ComPtr<ICreateErrorInfo> record;
    RETURN_IF_FAILED(::CreateErrorInfo(&record));
    record->SetGUID(interfaceId);
    lorvane::win::UniqueCoTaskMem<OLECHAR> progId;
    if (SUCCEEDED(::ProgIDFromCLSID(classId, progId.Receive())) && progId)
        record->SetSource(progId.Get());
    record->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    Microsoft::WRL::ComPtr<IErrorInfo> info;
    RETURN_IF_FAILED(record.As(&info));
    return ::SetErrorInfo(0, info.Get());
}

}  // namespace

OrbalinObj::OrbalinObj() noexcept : m_desktop(m_realDesktop), m_handOverLock(m_sessionLock) {}

OrbalinObj::OrbalinObj(Desktop& desktop) noexcept : m_desktop(desktop), m_handOverLock(m_sessionLock) {}

OrbalinObj::OrbalinObj(Desktop& desktop, HandOverLock& lock) noexcept : m_desktop(desktop), m_handOverLock(lock) {}

HRESULT OrbalinObj::get_Code(BSTR* pVal) noexcept
{
    return ReadField(m_lineLock, m_code, pVal);
}

HRESULT OrbalinObj::put_Code(BSTR value) noexcept
{
    return WriteField(m_lineLock, m_code, value);
}

HRESULT OrbalinObj::get_Name(BSTR* pVal) noexcept
{
    return ReadField(m_lineLock, m_name, pVal);
}

HRESULT OrbalinObj::put_Name(BSTR value) noexcept
{
    return WriteField(m_lineLock, m_name, value);
}

HRESULT OrbalinObj::get_Price(double* pVal) noexcept
{
    return ReadField(m_lineLock, m_price, pVal);
}

HRESULT OrbalinObj::put_Price(double value) noexcept
{
    return WriteField(m_lineLock, m_price, value);
}

HRESULT OrbalinObj::get_Quantity(double* pVal) noexcept
{
    return ReadField(m_lineLock, m_quantity, pVal);
}

HRESULT OrbalinObj::put_Quantity(double value) noexcept
{
    return WriteField(m_lineLock, m_quantity, value);
}

HRESULT OrbalinObj::get_DeviceNumber(LONG* pVal) noexcept
{
    return ReadField(m_lineLock, m_deviceNumber, pVal);
}

HRESULT OrbalinObj::put_DeviceNumber(LONG value) noexcept
{
    return WriteField(m_lineLock, m_deviceNumber, value);
}

HRESULT OrbalinObj::InitOrbalin() noexcept
{
    ClearErrorRecord();
    return lorvane::win::ComGuarded([&] {
        InitialiseDetector(m_desktop, m_handOverLock);
        return S_OK;
    });
}

HRESULT OrbalinObj::SendCommand(short cmdCode) noexcept
{
    ClearErrorRecord();
    SendResult result = SendResult::Delivered;
    RETURN_IF_FAILED(lorvane::win::ComGuarded([&] {
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
        result = SendCommandText(m_desktop, m_handOverLock, CommandText(cmdCode, line));
        return S_OK;
    }));
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
    return lorvane::win::ComGuarded([&] {
        *retVal = ReadStatus(m_desktop);
        return S_OK;
    });
}

HRESULT OrbalinObj::InterfaceSupportsErrorInfo(REFIID riid) noexcept
{
    return ::IsEqualIID(riid, IID_IOrbalinObj) ? S_OK : S_FALSE;
}

HRESULT ReportError(REFCLSID classId, const char* description, REFIID interfaceId, HRESULT status) noexcept
{
    // Whatever fails here, the status still tells the client; only the record
    // is lost.
    lorvane::win::ComGuarded([&] { return LeaveErrorRecord(classId, description, interfaceId); });
    return status;
}

}  // namespace orbalin
