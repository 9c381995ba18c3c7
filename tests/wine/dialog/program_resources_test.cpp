// The resources Quillon.exe carries, read from the program file: the two
// dialog templates control by control, icon, banner, string, version,
// manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "dialog_harness.h"
#include "dialog_template.h"

namespace quillon::testing {
namespace {

using remote::DialogTemplate;
using remote::ReadDialogTemplate;
using remote::ResourceBytes;

class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_module.Reset(::LoadLibraryExW(QuillonExe().c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(m_module) << "Quillon.exe loads as resources";
    }

    std::optional<DialogTemplate> Template(int id) const
    {
        return ReadDialogTemplate(ResourceBytes(m_module.Get(), RT_DIALOG, id));
    }

    lorvane::win::UniqueHmodule m_module;
};

TEST_F(ProgramResources, AboutStringBannerAndIcons)
{
    wchar_t about[32] = {};
    ::LoadStringW(m_module.Get(), 101, about, 32);
    EXPECT_EQ(std::wstring(about), L"&About") << "string 101";

    const auto banner = ResourceBytes(m_module.Get(), RT_BITMAP, 131);
    ASSERT_GE(banner.size(), sizeof(BITMAPINFOHEADER)) << "bitmap 131";
    BITMAPINFOHEADER header{};
    std::memcpy(&header, banner.data(), sizeof(header));
    EXPECT_TRUE(header.biWidth == 285 && header.biHeight == 40 && header.biBitCount == 8 &&
                (header.biClrUsed == 0 || header.biClrUsed == 256))
        << "bitmap 131: 285 x 40, 8 bits, 256-colour palette";

#pragma pack(push, 2)
    struct IconEntry { BYTE width, height, colours, reserved; WORD planes, bits; DWORD bytes; WORD id; };
    struct IconGroup { WORD reserved, type, count; IconEntry entries[2]; };
#pragma pack(pop)
    const auto group = ResourceBytes(m_module.Get(), RT_GROUP_ICON, 128);
    ASSERT_GE(group.size(), sizeof(IconGroup)) << "icon 128";
    IconGroup icons{};
    std::memcpy(&icons, group.data(), sizeof(icons));
    EXPECT_TRUE(icons.count == 2 && icons.entries[0].width == 32 && icons.entries[1].width == 16 &&
                icons.entries[0].colours == 16 && icons.entries[1].colours == 16)
        << "icon 128: 32 x 32 and 16 x 16, 16 colours";
}

TEST_F(ProgramResources, ControlDialogTemplate)
{
    const auto dialog = Template(102);
    ASSERT_TRUE(dialog) << "template 102";
    const DWORD frame = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK;
    EXPECT_TRUE((dialog->style & frame) == frame && !(dialog->style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)))
        << "template 102: pop-up, visible, caption, system menu, modal frame, no minimise or maximise box";
    EXPECT_TRUE(dialog->exStyle & WS_EX_APPWINDOW) << "template 102: on the task bar";
    EXPECT_TRUE(dialog->title == u"Lorvane Kelmora" && dialog->cx == 198 && dialog->cy == 129)
        << "template 102: title and size";
    EXPECT_TRUE(dialog->pointSize == 8 && dialog->face == u"MS Sans Serif") << "template 102: font";
    struct Expected { DWORD id; short x, y, cx, cy; const char16_t* windowClass; DWORD style; };
    const DWORD edit = WS_BORDER | ES_AUTOHSCROLL;
    const Expected expected[] = {
        {1001, 3, 61, 191, 122, u"#133", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
        {1004, 3, 87, 191, 21, u"#129", edit | WS_TABSTOP},
        {IDOK, 47, 112, 50, 14, u"#128", BS_DEFPUSHBUTTON | WS_TABSTOP},
        {IDCANCEL, 102, 112, 50, 14, u"#128", WS_TABSTOP},
        {1002, 82, 35, 35, 13, u"#129", edit | ES_CENTER | ES_NUMBER},
        {1003, 160, 35, 35, 13, u"#129", edit | ES_CENTER | ES_NUMBER},
        {1000, 4, 35, 37, 57, u"#133", CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP},
        {1006, 3, 0, 191, 22, u"#130", SS_BITMAP},
    };
    EXPECT_EQ(dialog->items.size(), std::size(expected)) << "template 102: eight controls";
    for (std::size_t i = 0; i < std::min(dialog->items.size(), std::size(expected)); ++i) {
        const auto& got = dialog->items[i];
        const Expected& want = expected[i];
        SCOPED_TRACE("template 102 control " + std::to_string(i));
        EXPECT_EQ(got.id, want.id) << "id";
        EXPECT_TRUE(got.x == want.x && got.y == want.y && got.cx == want.cx && got.cy == want.cy) << "place";
        std::u16string lowerClass = got.windowClass;
        std::transform(lowerClass.begin(), lowerClass.end(), lowerClass.begin(),
                       [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; });
        EXPECT_TRUE(got.windowClass == want.windowClass ||
                    (std::u16string_view(want.windowClass) == u"#130" && lowerClass == u"static"))
            << "class";
        EXPECT_EQ(got.style & want.style, want.style) << "style";
        EXPECT_EQ((got.style & WS_TABSTOP) != 0, (want.style & WS_TABSTOP) != 0) << "tab stop";
    }
    EXPECT_TRUE(dialog->items.size() == 8 && dialog->items[2].text == u"OK" && dialog->items[3].text == u"Exit" &&
                dialog->items[7].text == u"#131")
        << "template 102: button texts and the banner bitmap";
}

TEST_F(ProgramResources, AboutBoxTemplate)
{
    const auto box = Template(100);
    ASSERT_TRUE(box) << "template 100";
    EXPECT_TRUE(box->title == u"About Lorvane Kelmora" && box->cx == 235 && box->cy == 55 && box->pointSize == 8 &&
                box->face == u"MS Sans Serif")
        << "template 100: title, size, font";
    ASSERT_EQ(box->items.size(), 4u);
    const auto& items = box->items;
    EXPECT_TRUE(items[0].text == u"#128" && items[0].x == 11 && items[0].y == 17 && items[0].cx == 20 &&
                items[0].cy == 20)
        << "template 100: icon";
    EXPECT_TRUE(items[1].text == u"Lorvane Kelmora Version 1.00.002" && (items[1].style & SS_NOPREFIX) &&
                items[1].x == 40 && items[1].y == 10 && items[1].cx == 188 && items[1].cy == 8)
        << "template 100: version line";
    EXPECT_TRUE(items[2].x == 40 && items[2].y == 25 && items[2].cx == 119 && items[2].cy == 8)
        << "template 100: second line";
    EXPECT_TRUE(items[3].id == IDOK && items[3].x == 178 && items[3].y == 34 && items[3].cx == 50 &&
                items[3].cy == 14 && (items[3].style & BS_DEFPUSHBUTTON))
        << "template 100: OK";
}

TEST_F(ProgramResources, VersionAndManifest)
{
    const std::wstring exe = QuillonExe();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<BYTE> version(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    EXPECT_TRUE(size && ::GetFileVersionInfoW(exe.c_str(), 0, size, version.data()) &&
                ::VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) &&
                fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0x00000002)
        << "version 1.0.0.2";
    EXPECT_FALSE(ResourceBytes(m_module.Get(), RT_MANIFEST, 1).empty()) << "manifest";
}

}  // namespace
}  // namespace quillon::testing
