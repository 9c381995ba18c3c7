#include "dialog_template.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::remote {
namespace {

constexpr std::uint32_t kSetFont = 0x40;

// Lays out template bytes as the resource compiler does.
class Bytes {
public:
    Bytes& U16(std::uint16_t v) { return Put(v, 2); }
    Bytes& U32(std::uint32_t v) { return Put(v, 4); }
    Bytes& Text(std::u16string_view text)
    {
        for (char16_t c : text)
            U16(c);
        return U16(0);
    }
    Bytes& Ordinal(std::uint16_t n) { return U16(0xFFFF).U16(n); }
    Bytes& Align()
    {
        while (m_bytes.size() % 4)
            m_bytes.push_back(0);
        return *this;
    }
    std::vector<std::uint8_t> m_bytes;

private:
    Bytes& Put(std::uint32_t v, int size)
    {
        for (int i = 0; i < size; ++i)
            m_bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
};

Bytes ClassicHeader(std::uint16_t count)
{
    Bytes b;
    b.U32(0x80C800C0 | kSetFont).U32(0x40000).U16(count).U16(0).U16(0).U16(198).U16(129);
    b.U16(0).U16(0).Text(u"Title").U16(8).Text(u"MS Sans Serif");
    return b;
}

void ClassicItem(Bytes& b, std::uint16_t id, std::int16_t x, std::uint16_t atom, std::u16string_view text)
{
    b.Align().U32(0x50010000).U32(0).U16(static_cast<std::uint16_t>(x)).U16(2).U16(50).U16(14).U16(id);
    b.Ordinal(atom).Text(text).U16(0);
}

TEST(DialogTemplate, ReadsAClassicTemplateWithItsFontAndItems)
{
    Bytes b = ClassicHeader(2);
    ClassicItem(b, 1, 47, 0x80, u"OK");
    ClassicItem(b, 1006, -3, 0x82, u"");
    const auto dialog = ReadDialogTemplate(b.m_bytes);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->style, 0x80C800C0u | kSetFont);
    EXPECT_EQ(dialog->exStyle, 0x40000u);
    EXPECT_EQ(dialog->cx, 198);
    EXPECT_EQ(dialog->cy, 129);
    EXPECT_EQ(dialog->title, u"Title");
    EXPECT_EQ(dialog->pointSize, 8);
    EXPECT_EQ(dialog->face, u"MS Sans Serif");
    ASSERT_EQ(dialog->items.size(), 2u);
    EXPECT_EQ(dialog->items[0].id, 1u);
    EXPECT_EQ(dialog->items[0].windowClass, u"#128");
    EXPECT_EQ(dialog->items[0].text, u"OK");
    EXPECT_EQ(dialog->items[0].x, 47);
    EXPECT_EQ(dialog->items[1].x, -3);   // signed coordinates
    EXPECT_EQ(dialog->items[1].windowClass, u"#130");
}

TEST(DialogTemplate, ReadsAnExtendedTemplateWithDwordIdsNamedClassesAndCreationData)
{
    Bytes b;
    b.U16(1).U16(0xFFFF).U32(0).U32(0x100).U32(kSetFont | 0x80000000).U16(1).U16(0).U16(0).U16(235).U16(55);
    b.U16(0).U16(0).Text(u"About").U16(8).U16(400).U16(0x0100).Text(u"Face");
    b.Align().U32(0).U32(0).U32(0x50000000).U16(40).U16(10).U16(188).U16(8).U32(70000);
    b.Text(u"Static").Ordinal(128).U16(2).U16(0xABCD);
    const auto dialog = ReadDialogTemplate(b.m_bytes);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->exStyle, 0x100u);
    EXPECT_EQ(dialog->style, kSetFont | 0x80000000u);
    EXPECT_EQ(dialog->title, u"About");
    EXPECT_EQ(dialog->face, u"Face");
    ASSERT_EQ(dialog->items.size(), 1u);
    EXPECT_EQ(dialog->items[0].id, 70000u);
    EXPECT_EQ(dialog->items[0].windowClass, u"Static");
    EXPECT_EQ(dialog->items[0].text, u"#128");
    EXPECT_EQ(dialog->items[0].cx, 188);
}

TEST(DialogTemplate, WithoutTheSetFontStyleThereIsNoFont)
{
    Bytes b;
    b.U32(0x80C80000).U32(0).U16(0).U16(0).U16(0).U16(10).U16(20).Ordinal(5).U16(0).Text(u"T");
    const auto dialog = ReadDialogTemplate(b.m_bytes);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->pointSize, 0);
    EXPECT_TRUE(dialog->face.empty());
    EXPECT_TRUE(dialog->items.empty());
}

TEST(DialogTemplate, EveryTruncationIsRefusedRatherThanReadPastTheEnd)
{
    Bytes b = ClassicHeader(1);
    ClassicItem(b, 1, 47, 0x80, u"OK");
    ASSERT_TRUE(ReadDialogTemplate(b.m_bytes));
    for (std::size_t size = 0; size < b.m_bytes.size(); ++size) {
        const std::vector<std::uint8_t> cut(b.m_bytes.begin(), b.m_bytes.begin() + static_cast<long>(size));
        EXPECT_FALSE(ReadDialogTemplate(cut)) << size << " bytes";
    }
}

TEST(DialogTemplate, MoreItemsAnnouncedThanPresentIsRefused)
{
    Bytes b = ClassicHeader(3);
    ClassicItem(b, 1, 47, 0x80, u"OK");
    EXPECT_FALSE(ReadDialogTemplate(b.m_bytes));
}

}  // namespace
}  // namespace quillon::remote
