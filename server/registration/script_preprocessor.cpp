#include "server/registration/script_preprocessor.h"

#include "common/ascii_case.h"
#include "common/result_code.h"

namespace orbalin {

void ReplacementMap::Add(std::string name, std::u16string value)
{
    m_pairs.emplace_back(std::move(name), std::move(value));
}

const std::u16string* ReplacementMap::Find(std::string_view name) const
{
    for (const auto& [key, value] : m_pairs) {
        if (lorvane::EqualsNoCase(key, name))
            return &value;
    }
    return nullptr;
}

namespace {

// Output that starts at twice the input's length and doubles when full.
class GrowingBuffer {
public:
    explicit GrowingBuffer(std::string& out, std::size_t inputLength) : m_out(out)
    {
        m_out.clear();
        m_out.reserve(inputLength * 2);
    }

    void Append(std::string_view bytes)
    {
        std::size_t capacity = m_out.capacity() == 0 ? 1 : m_out.capacity();
        while (m_out.size() + bytes.size() > capacity)
            capacity *= 2;
        m_out.reserve(capacity);
        m_out.append(bytes);
    }

private:
    std::string& m_out;
};

class Preprocessor {
public:
    Preprocessor(std::string_view text, const ReplacementMap& map, const CodePage& codePage, std::string& out)
        : m_text(text), m_map(map), m_codePage(codePage), m_out(out, text.size())
    {
    }

    Status Run()
    {
        while (m_pos < m_text.size()) {
            if (m_text[m_pos] != '%') {
                m_out.Append(m_text.substr(m_pos, CharLength(m_pos)));
                m_pos += CharLength(m_pos);
                continue;
            }
            if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '%') {
                m_out.Append("%");
                m_pos += 2;
                continue;
            }
            RETURN_IF_FAILED(ReplaceName());
        }
        return status::Ok;
    }

private:
    // A lead byte with nothing after it is copied alone.
    std::size_t CharLength(std::size_t pos) const
    {
        const bool lead = m_codePage.IsLeadByte(static_cast<unsigned char>(m_text[pos]));
        return (lead && pos + 1 < m_text.size()) ? 2 : 1;
    }

    // At a "%" that opens a name: replace "%name%" by the name's value.
    Status ReplaceName()
    {
        std::size_t pos = m_pos + 1;
        std::size_t nameLength = 0;
        while (true) {
            if (pos >= m_text.size())
                return status::DispatchException;
            if (m_text[pos] == '%')
                break;
            const std::size_t step = CharLength(pos);
            nameLength += step;
            if (nameLength >= kMaxReplacementName)
                return status::Failed;
            pos += step;
        }
        const std::u16string* value = m_map.Find(m_text.substr(m_pos + 1, nameLength));
        if (value == nullptr)
            return status::DispatchException;
        std::string converted;
        if (!m_codePage.FromWide(*value, converted))
            return status::NoUnicodeTranslation;
        m_out.Append(converted);
        m_pos = pos + 1;
        return status::Ok;
    }

    std::string_view m_text;
    const ReplacementMap& m_map;
    const CodePage& m_codePage;
    GrowingBuffer m_out;
    std::size_t m_pos = 0;
};

}  // namespace

Status PreprocessScript(std::string_view text, const ReplacementMap& map, const CodePage& codePage,
                        std::string& output)
{
    return OutOfMemoryGuarded([&] { return Preprocessor(text, map, codePage, output).Run(); });
}

}  // namespace orbalin
