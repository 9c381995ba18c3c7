#include "memory_registry.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace orbalin::testing {

namespace {

constexpr const char* kRootNames[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKPD", "HKDD", "HKCC"};
constexpr std::size_t kRootCount = std::size(kRootNames);

}  // namespace

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const
{
    using lorvane::AsciiLower;
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(AsciiLower(x)) < static_cast<unsigned char>(AsciiLower(y));
    });
}

MemoryRegistry::MemoryRegistry()
{
    for (const char* name : kRootNames) {
        m_roots.push_back(std::make_shared<Node>());
        m_roots.back()->name = name;
    }
}

// Roots have the fixed handles 1 to 7 and are never counted as open.
Registry::Key MemoryRegistry::Root(RootKey root) { return static_cast<Key>(root) + 1; }

MemoryRegistry::Node* MemoryRegistry::Find(Key key, KeyAccess needed)
{
    if (key == Root(RootKey::ClassesRoot))
        ++m_classesRootCalls;
    if (key >= 1 && key <= kRootCount)
        return m_roots[key - 1].get();
    const auto it = m_handles.find(key);
    if (it == m_handles.end() || it->second.node->deleted)
        return nullptr;
    if (needed == KeyAccess::Full && it->second.access != KeyAccess::Full)
        return nullptr;
    return it->second.node.get();
}

Registry::Key MemoryRegistry::NewHandle(std::shared_ptr<Node> node, KeyAccess access)
{
    const Key key = m_nextKey++;
    m_handles.emplace(key, Handle{std::move(node), access});
    return key;
}

bool MemoryRegistry::OpenKey(Key parent, const std::string& name, KeyAccess access, Key& key)
{
    m_calls.push_back((access == KeyAccess::Full ? "open full " : "open read ") + name);
    Node* node = Find(parent, KeyAccess::Read);
    if (node == nullptr)
        return false;
    const auto it = node->subkeys.find(name);
    if (it == node->subkeys.end() || (access == KeyAccess::Full && readOnly.count(name) != 0))
        return false;
    key = NewHandle(it->second, access);
    return true;
}

bool MemoryRegistry::CreateKey(Key parent, const std::string& name, Key& key)
{
    m_calls.push_back("create " + name);
    Node* node = Find(parent, KeyAccess::Full);
    if (node == nullptr || failCreate.count(name) != 0)
        return false;
    auto& slot = node->subkeys[name];
    if (!slot) {
        slot = std::make_shared<Node>();
        slot->name = name;
    }
    key = NewHandle(slot, KeyAccess::Full);
    return true;
}

bool MemoryRegistry::CloseKey(Key key)
{
    if (key >= 1 && key <= kRootCount)
        return true;
    const auto it = m_handles.find(key);
    if (it == m_handles.end())
        return false;
    const bool fails = failClose.count(it->second.node->name) != 0;
    m_handles.erase(it);
    return !fails;
}

bool MemoryRegistry::SetValue(Key key, const std::string& name, Value value)
{
    Node* node = Find(key, KeyAccess::Full);
    if (node == nullptr)
        return false;
    node->values[name] = std::move(value);
    return true;
}

bool MemoryRegistry::SetString(Key key, const std::string& name, const std::string& text)
{
    Value value;
    value.text = text;
    return SetValue(key, name, std::move(value));
}

bool MemoryRegistry::SetNumber(Key key, const std::string& name, std::uint32_t number)
{
    Value value;
    value.type = Value::Type::Number;
    value.number = number;
    return SetValue(key, name, std::move(value));
}

bool MemoryRegistry::SetBinary(Key key, const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    Value value;
    value.type = Value::Type::Binary;
    value.bytes = bytes;
    return SetValue(key, name, std::move(value));
}

bool MemoryRegistry::DeleteValue(Key key, const std::string& name)
{
    Node* node = Find(key, KeyAccess::Full);
    return node != nullptr && node->values.erase(name) != 0;
}

bool MemoryRegistry::DeleteKey(Key parent, const std::string& name)
{
    Node* node = Find(parent, KeyAccess::Read);
    if (node == nullptr)
        return false;
    const auto it = node->subkeys.find(name);
    if (it == node->subkeys.end() || !it->second->subkeys.empty() || readOnly.count(name) != 0)
        return false;
    it->second->deleted = true;
    node->subkeys.erase(it);
    return true;
}

bool MemoryRegistry::EnumerateSubkey(Key key, std::uint32_t index, std::string& name)
{
    Node* node = Find(key, KeyAccess::Read);
    if (node == nullptr || index >= node->subkeys.size())
        return false;
    const auto& found = std::next(node->subkeys.begin(), index)->first;
    if (found.size() > 255)
        return false;
    name = found;
    return true;
}

bool MemoryRegistry::CountSubkeys(Key key, std::uint32_t& count)
{
    Node* node = Find(key, KeyAccess::Read);
    if (node == nullptr)
        return false;
    count = static_cast<std::uint32_t>(node->subkeys.size());
    return true;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::NodeAt(const std::string& path, bool create) const
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        parts.push_back(path.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    const auto root = std::find(std::begin(kRootNames), std::end(kRootNames), parts.front());
    if (root == std::end(kRootNames))
        return nullptr;
    std::shared_ptr<Node> node = m_roots[static_cast<std::size_t>(root - std::begin(kRootNames))];
    for (std::size_t i = 1; i < parts.size(); ++i) {
        auto it = node->subkeys.find(parts[i]);
        if (it == node->subkeys.end()) {
            if (!create)
                return nullptr;
            it = node->subkeys.emplace(parts[i], std::make_shared<Node>()).first;
            it->second->name = parts[i];
        }
        node = it->second;
    }
    return node;
}

void MemoryRegistry::AddKey(const std::string& path) { NodeAt(path, true); }

void MemoryRegistry::AddString(const std::string& path, const std::string& name, const std::string& text)
{
    Value value;
    value.text = text;
    NodeAt(path, true)->values[name] = value;
}

std::optional<MemoryRegistry::Value> MemoryRegistry::MergedValueAt(const std::string& path,
                                                                   const std::string& name) const
{
    if (Exists("HKCU\\Software\\Classes\\" + path))
        return ValueAt("HKCU\\Software\\Classes\\" + path, name);
    return ValueAt("HKLM\\Software\\Classes\\" + path, name);
}

bool MemoryRegistry::Exists(const std::string& path) const { return NodeAt(path, false) != nullptr; }

std::optional<MemoryRegistry::Value> MemoryRegistry::ValueAt(const std::string& path, const std::string& name) const
{
    const auto node = NodeAt(path, false);
    if (!node)
        return std::nullopt;
    const auto it = node->values.find(name);
    if (it == node->values.end())
        return std::nullopt;
    return it->second;
}

void MemoryRegistry::DumpNode(const Node& node, const std::string& path, std::string& out)
{
    if (path.find('\\') != std::string::npos || !node.values.empty()) {
        out += path;
        for (const auto& [name, value] : node.values) {
            out += "  " + (name.empty() ? std::string("@") : name) + "=";
            switch (value.type) {
            case Value::Type::String:
                out += "s'" + value.text + "'";
                break;
            case Value::Type::Number:
                out += "d" + std::to_string(value.number);
                break;
            case Value::Type::Binary:
                out += "b";
                for (std::uint8_t byte : value.bytes) {
                    char hex[3];
                    std::snprintf(hex, sizeof hex, "%02x", byte);
                    out += hex;
                }
                break;
            }
        }
        out += "\n";
    }
    for (const auto& [name, child] : node.subkeys)
        DumpNode(*child, path + "\\" + name, out);
}

std::string MemoryRegistry::Dump() const
{
    std::string out;
    for (const auto& root : m_roots)
        DumpNode(*root, root->name, out);
    return out;
}

}  // namespace orbalin::testing
