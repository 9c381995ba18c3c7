// Scoped GDI state: a paint cycle, and an object selected into a device
// context. Each ends when its scope does, on every path out of a handler.
#pragma once

#include <windows.h>

namespace lorvane::win {

// BeginPaint on construction, EndPaint on destruction: the update region is
// validated and the paint context released even when painting stops early.
class ScopedPaint {
public:
    explicit ScopedPaint(HWND window) noexcept : m_window(window), m_dc(::BeginPaint(window, &m_paint)) {}
    ~ScopedPaint() { ::EndPaint(m_window, &m_paint); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;

    HDC Dc() const noexcept { return m_dc; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint{};   // declared before m_dc: BeginPaint fills it
    HDC m_dc;
};

// Selects an object into a device context and the previous one back on
// destruction. An object may only be deleted once it is out of every
// context, so declare the scope after the object's owner.
class ScopedSelection {
public:
    ScopedSelection(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_previous(::SelectObject(dc, object)) {}
    ~ScopedSelection()
    {
        if (m_previous && m_previous != HGDI_ERROR)
            ::SelectObject(m_dc, m_previous);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

}  // namespace lorvane::win
