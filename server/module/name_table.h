// The dispatch name table: one row per function description of the
// interface's type information. Lookups are exact and case-sensitive, so a
// name spelled as in the type library never reaches the type information.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbalin {

class NameTable {
public:
    // May throw std::bad_alloc.
    void Add(std::wstring_view name, long dispatchId);
    // Searches from the last row to the first (a property's get and put
    // rows share name and identifier, so either answers).
    std::optional<long> Find(std::wstring_view name) const noexcept;
    void Clear() noexcept { m_rows.clear(); }
    std::size_t Size() const noexcept { return m_rows.size(); }

private:
    struct Row {
        std::wstring name;
        long dispatchId;
    };
    std::vector<Row> m_rows;
};

}  // namespace orbalin
