#include "devtools/quillon-remote/dialog_template.h"

#include <string>

namespace quillon::remote {
namespace {

constexpr std::uint32_t kSetFontStyle = 0x40;   // DS_SETFONT
constexpr std::uint16_t kExtendedSignature = 0xFFFF;
constexpr std::uint16_t kOrdinalMark = 0xFFFF;

// Little-endian reads that stop, and stay stopped, at the end of the data.
class TemplateReader {
public:
    explicit TemplateReader(std::span<const std::uint8_t> data) : m_data(data) {}

    bool Failed() const { return m_failed; }

    template <typename T> T Read()
    {
        if (!Has(sizeof(T)))
            return T{};
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bits |= std::uint64_t{m_data[m_at + i]} << (8 * i);
        m_at += sizeof(T);
        return static_cast<T>(bits);   // modular, so negative coordinates come out right
    }

    std::u16string NameOrNumber()
    {
        const auto first = Read<std::uint16_t>();
        if (first == kOrdinalMark)
            return u"#" + Decimal(Read<std::uint16_t>());
        std::u16string text;
        for (auto c = first; c != 0 && !m_failed; c = Read<std::uint16_t>())
            text.push_back(static_cast<char16_t>(c));
        return text;
    }

    void AlignDword() { Skip((4 - m_at % 4) % 4); }

    void Skip(std::size_t bytes)
    {
        if (Has(bytes))
            m_at += bytes;
    }

private:
    bool Has(std::size_t bytes)
    {
        if (m_failed || m_data.size() - m_at < bytes)
            m_failed = true;
        return !m_failed;
    }

    static std::u16string Decimal(std::uint16_t number)
    {
        const std::string digits = std::to_string(number);
        return {digits.begin(), digits.end()};
    }

    std::span<const std::uint8_t> m_data;
    std::size_t m_at = 0;
    bool m_failed = false;
};

void ReadHeader(TemplateReader& in, bool extended, DialogTemplate& dialog, std::uint16_t& count)
{
    if (extended) {
        in.Skip(8);   // version, signature, help id
        dialog.exStyle = in.Read<std::uint32_t>();
        dialog.style = in.Read<std::uint32_t>();
    } else {
        dialog.style = in.Read<std::uint32_t>();
        dialog.exStyle = in.Read<std::uint32_t>();
    }
    count = in.Read<std::uint16_t>();
    in.Skip(4);   // x, y
    dialog.cx = in.Read<std::int16_t>();
    dialog.cy = in.Read<std::int16_t>();
    in.NameOrNumber();   // menu
    in.NameOrNumber();   // class
    dialog.title = in.NameOrNumber();
    if (dialog.style & kSetFontStyle) {
        dialog.pointSize = in.Read<std::uint16_t>();
        if (extended)
            in.Skip(4);   // weight, italic, character set
        dialog.face = in.NameOrNumber();
    }
}

TemplateItem ReadItem(TemplateReader& in, bool extended)
{
    in.AlignDword();
    TemplateItem item;
    if (extended) {
        in.Skip(8);   // help id, extended style
        item.style = in.Read<std::uint32_t>();
    } else {
        item.style = in.Read<std::uint32_t>();
        in.Skip(4);   // extended style
    }
    item.x = in.Read<std::int16_t>();
    item.y = in.Read<std::int16_t>();
    item.cx = in.Read<std::int16_t>();
    item.cy = in.Read<std::int16_t>();
    item.id = extended ? in.Read<std::uint32_t>() : in.Read<std::uint16_t>();
    item.windowClass = in.NameOrNumber();
    item.text = in.NameOrNumber();
    in.Skip(in.Read<std::uint16_t>());   // creation data
    return item;
}

}  // namespace

std::optional<DialogTemplate> ReadDialogTemplate(std::span<const std::uint8_t> data)
{
    TemplateReader in(data);
    const bool extended = data.size() >= 4 && (data[2] | data[3] << 8) == kExtendedSignature;
    DialogTemplate dialog;
    std::uint16_t count = 0;
    ReadHeader(in, extended, dialog, count);
    for (std::uint16_t i = 0; i < count && !in.Failed(); ++i)
        dialog.items.push_back(ReadItem(in, extended));
    if (in.Failed())
        return std::nullopt;
    return dialog;
}

}  // namespace quillon::remote
