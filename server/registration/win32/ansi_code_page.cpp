#include "server/registration/win32/ansi_code_page.h"

#include <windows.h>

#include "common/win/text.h"

namespace orbalin {

bool AnsiCodePage::IsLeadByte(unsigned char byte) const { return ::IsDBCSLeadByteEx(CP_ACP, byte) != FALSE; }

std::string AnsiCodePage::FromWide(std::u16string_view text) const
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    const std::wstring_view wide(reinterpret_cast<const wchar_t*>(text.data()), text.size());
    return lorvane::win::CodePageFromWide(wide, CP_ACP);
}

}  // namespace orbalin
