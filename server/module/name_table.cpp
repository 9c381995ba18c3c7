#include "server/module/name_table.h"

namespace orbalin {

void NameTable::Add(std::wstring_view name, long dispatchId)
{
    m_rows.push_back(Row{std::wstring(name), dispatchId});
}

std::optional<long> NameTable::Find(std::wstring_view name) const noexcept
{
    for (auto row = m_rows.rbegin(); row != m_rows.rend(); ++row) {
        // Length first, then the characters: the same test as comparing views.
        if (row->name.size() == name.size() && row->name == name)
            return row->dispatchId;
    }
    return std::nullopt;
}

}  // namespace orbalin
