// The dialog as it starts: controls, defaults, the single-instance rule, the
// About box, Escape; and the fonts it draws Cyrillic with.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/win/text.h"
#include "dialog_harness.h"

namespace quillon::testing {
namespace {

using namespace remote;

std::wstring ListItem(HWND list, int index)
{
    wchar_t item[128] = {};
    Send(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item));
    return item;
}

void ExpectStartState(const QuillonProcess& quillon)
{
    EXPECT_EQ(TextOf(quillon.Dialog()), kDialogTitle) << "title";
    EXPECT_EQ(Send(quillon.Item(kPortList), CB_GETCOUNT), 4) << "four ports";
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ListItem(quillon.Item(kPortList), i), L"COM" + std::to_wstring(i + 1)) << "port item " << i;
    EXPECT_TRUE(quillon.Selection(kPortList) == 0 && quillon.ItemText(kPortList) == L"COM1") << "COM1 selected";
    EXPECT_EQ(Send(quillon.Item(kOperationList), CB_GETCOUNT), 11) << "eleven operations";
    for (int i = 0; i < 11; ++i) {
        const std::string bytes =
            lorvane::win::CodePageFromWide(ListItem(quillon.Item(kOperationList), i), lorvane::win::kCyrillicCodePage);
        EXPECT_EQ(bytes, FindReportOperation(i)->listText) << "operation item " << i << " byte for byte";
    }
    EXPECT_EQ(quillon.Selection(kOperationList), 0) << "first operation selected";
    EXPECT_TRUE(::IsWindowVisible(quillon.Item(kRangeFirst)) && ::IsWindowVisible(quillon.Item(kRangeSecond)))
        << "both range fields visible";
    EXPECT_TRUE(quillon.ItemText(kRangeFirst) == L"020402" && quillon.ItemText(kRangeSecond) == L"020403")
        << "date defaults";
    EXPECT_EQ(quillon.FocusedControl(), quillon.Item(kRangeFirst)) << "focus in the first range field";
    EXPECT_TRUE(quillon.ItemText(kOutput).empty()) << "output field empty";
}

void ExpectAboutBox(const QuillonProcess& quillon)
{
    ::PostMessageW(quillon.Dialog(), WM_SYSCOMMAND, 0x10, 0);
    HWND about = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (about = FindWindowTitled(quillon.Pid(), L"About Lorvane Kelmora")) != nullptr; }))
        << "the About box opens";
    bool versionText = false;
    for (HWND child = ::GetWindow(about, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        versionText = versionText || TextOf(child) == L"Lorvane Kelmora Version 1.00.002";
    EXPECT_TRUE(versionText) << "About box version line";
    EXPECT_EQ(::GetWindow(about, GW_OWNER), quillon.Dialog()) << "About box owned by the dialog";
    ClickButton(::GetDlgItem(about, IDOK));
    EXPECT_TRUE(WaitFor([&] { return !::IsWindow(about); })) << "OK closes the About box";
}

TEST(DialogStart, ShowsItsControlsAllowsOneCopyOpensAboutAndEndsOnEscape)
{
    QuillonProcess quillon(QuillonExe());
    ASSERT_TRUE(StartDialog(quillon));
    ExpectStartState(quillon);

    // A second start ends at once and shows nothing.
    QuillonProcess second(QuillonExe());
    EXPECT_TRUE(second.Start()) << "second start";
    ExpectExit(second, "second start");
    EXPECT_TRUE(FindDialog(second.Pid()) == nullptr && FindMessageBox(second.Pid()) == nullptr)
        << "second start shows nothing";

    ExpectAboutBox(quillon);

    ::SetForegroundWindow(quillon.Dialog());
    quillon.PressKey(VK_ESCAPE);
    ExpectExit(quillon, "Escape");
}

// Glyphs missing from a font draw as bars, which a text check cannot see.
TEST(DialogStart, FontsItDrawsWithHaveTheCyrillicGlyphs)
{
    const std::wstring cyrillic = Wide(FindReportOperation(0)->listText) + L"\u0424\u041E\u0434\u043C\u0433";
    HDC dc = ::GetDC(nullptr);
    auto missing = [&](HFONT font) {
        HGDIOBJ previous = ::SelectObject(dc, font);
        wchar_t face[LF_FACESIZE] = {};
        ::GetTextFaceW(dc, LF_FACESIZE, face);
        std::printf("font in use: %s\n", Utf8(face).c_str());
        std::vector<WORD> indices(cyrillic.size());
        ::GetGlyphIndicesW(dc, cyrillic.c_str(), static_cast<int>(cyrillic.size()), indices.data(),
                           GGI_MARK_NONEXISTING_GLYPHS);
        ::SelectObject(dc, previous);
        return std::count(indices.begin(), indices.end(), WORD{0xFFFF});
    };
    const int height = -::MulDiv(8, ::GetDeviceCaps(dc, LOGPIXELSY), 72);
    lorvane::win::UniqueGdiObject dialogFont(
        ::CreateFontW(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Sans Serif"));
    EXPECT_EQ(missing(static_cast<HFONT>(dialogFont.Get())), 0) << "MS Sans Serif 8 has the Cyrillic glyphs";
    EXPECT_EQ(missing(static_cast<HFONT>(::GetStockObject(SYSTEM_FONT))), 0) << "the paint context's font has them";
    ::ReleaseDC(nullptr, dc);
}

}  // namespace
}  // namespace quillon::testing
