// The Orbalin automation object: one sale line and the three methods that
// talk to the detector program. IUnknown and IDispatch are left to the
// module, which wraps this class (plain and aggregated).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <mutex>

#include "common/win/unique_bstr.h"
#include "server/contract/orbalin_contract.h"
#include "server/object/win32/win32_desktop.h"
#include "server/object/win32/win32_hand_over_lock.h"
#include "server/protocol/desktop.h"
#include "server/protocol/hand_over_lock.h"

namespace orbalin {

class OrbalinObj : public IOrbalinObj, public ISupportErrorInfo {
public:
    // Talks to the real desktop. Construction cannot fail or throw.
    OrbalinObj() noexcept;
    // Talks to the given desktop (and takes the given hand-over lock, or
    // the session's), which must outlive the object.
    explicit OrbalinObj(Desktop& desktop) noexcept;
    OrbalinObj(Desktop& desktop, HandOverLock& lock) noexcept;
    virtual ~OrbalinObj() = default;

    OrbalinObj(const OrbalinObj&) = delete;
    OrbalinObj& operator=(const OrbalinObj&) = delete;

    // IOrbalinObj
    HRESULT STDMETHODCALLTYPE get_Code(BSTR* pVal) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Code(BSTR value) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Name(BSTR value) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Price(double* pVal) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Price(double value) noexcept override;
    HRESULT STDMETHODCALLTYPE get_Quantity(double* pVal) noexcept override;
    HRESULT STDMETHODCALLTYPE put_Quantity(double value) noexcept override;
    HRESULT STDMETHODCALLTYPE get_DeviceNumber(LONG* pVal) noexcept override;
    HRESULT STDMETHODCALLTYPE put_DeviceNumber(LONG value) noexcept override;
    HRESULT STDMETHODCALLTYPE InitOrbalin() noexcept override;
    HRESULT STDMETHODCALLTYPE SendCommand(short cmdCode) noexcept override;
    HRESULT STDMETHODCALLTYPE CheckStatus(LONG* retVal) noexcept override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) noexcept override;

private:
    Win32Desktop m_realDesktop;
    Desktop& m_desktop;
    Win32HandOverLock m_sessionLock;
    HandOverLock& m_handOverLock;
    // ThreadingModel "Both": clients may call one object from several
    // threads at once. The lock guards the sale line below and is held only
    // while it is read or replaced, never across a desktop call.
    mutable std::mutex m_lineLock;
    lorvane::win::UniqueBstr m_code;   // null: absent
    lorvane::win::UniqueBstr m_name;
    double m_price = 0.0;
    double m_quantity = 0.0;
    LONG m_deviceNumber = 0;
};

// Leaves an error record for the calling thread (source: the class's
// programmatic name) and returns status.
HRESULT ReportError(REFCLSID classId, const char* description, REFIID interfaceId, HRESULT status) noexcept;

}  // namespace orbalin
