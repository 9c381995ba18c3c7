#include "server/registration/win32/ansi_code_page.h"

#include <windows.h>

#include "common/win/text.h"

namespace orbalin {

bool AnsiCodePage::IsLeadByte(unsigned char byte) const { return ::IsDBCSLeadByteEx(CP_ACP, byte) != FALSE; }

bool AnsiCodePage::FromWide(std::u16string_view text, std::string& out) const
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    const std::wstring_view wide(reinterpret_cast<const wchar_t*>(text.data()), text.size());
    // Without best fit a missing character becomes the default one; the way
    // back then differs from the text. Comparing both ways also holds for
    // code pages whose conversion takes no used-default flag (UTF-8).
    out = lorvane::win::CodePageFromWide(wide, CP_ACP, WC_NO_BEST_FIT_CHARS);
    return lorvane::win::WideFromCodePage(out, CP_ACP) == wide;
}

}  // namespace orbalin
