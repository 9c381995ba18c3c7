#include "tool/dialog/win32/message_box_sink.h"

#include <windows.h>

#include "common/win/text.h"

namespace quillon {

void MessageBoxSink::ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon)
{
    const std::wstring wideText = lorvane::win::WideFrom1251(text);
    const std::wstring wideCaption = lorvane::win::WideFrom1251(caption);
    const UINT iconStyle = icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION;
    ::MessageBoxW(::GetForegroundWindow(), wideText.c_str(), wideCaption.c_str(), MB_OK | iconStyle);
}

}  // namespace quillon
