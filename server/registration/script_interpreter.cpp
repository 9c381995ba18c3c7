#include "server/registration/script_interpreter.h"

#include <array>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/ascii_case.h"
#include "common/result_code.h"

namespace orbalin {

namespace {

using Key = Registry::Key;
using lorvane::EqualsNoCase;

constexpr std::array<std::string_view, 7> kShortRootNames = {"HKCR", "HKCU", "HKLM", "HKU", "HKPD", "HKDD", "HKCC"};
constexpr std::array<std::string_view, 7> kLongRootNames = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",    "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_DYN_DATA", "HKEY_CURRENT_CONFIG"};

std::optional<RootKey> FindRoot(std::string_view name)
{
    for (std::size_t i = 0; i < kShortRootNames.size(); ++i) {
        if (EqualsNoCase(name, kShortRootNames[i]) || EqualsNoCase(name, kLongRootNames[i]))
            return static_cast<RootKey>(i);
    }
    return std::nullopt;
}

bool IsProtected(std::string_view name)
{
    return EqualsNoCase(name, "CLSID") || EqualsNoCase(name, "TYPELIB");
}

bool IsWhiteSpace(char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// Closes a key on scope exit unless it was closed explicitly.
class KeyCloser {
public:
    KeyCloser(Registry& registry, Key key) : m_registry(registry), m_key(key) {}
    ~KeyCloser()
    {
        if (m_open)
            m_registry.CloseKey(m_key);
    }
    KeyCloser(const KeyCloser&) = delete;
    KeyCloser& operator=(const KeyCloser&) = delete;

    bool Close()
    {
        m_open = false;
        return m_registry.CloseKey(m_key);
    }

private:
    Registry& m_registry;
    Key m_key;
    bool m_open = true;
};

std::optional<std::uint32_t> ParseDecimal(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    std::uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (number > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(number);
}

// Any character that is no hexadecimal digit counts as 0.
std::uint8_t HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<std::uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<std::uint8_t>(c - 'a' + 10);
    return 0;
}

// Writes one typed value. A failed registry write is not reported.
Status SetValue(Registry& registry, Key key, const std::string& name, std::string_view type,
                const std::string& value)
{
    if (EqualsNoCase(type, "S")) {
        registry.SetString(key, name, value);
        return status::Ok;
    }
    if (EqualsNoCase(type, "D")) {
        // A text that is no 32-bit decimal number is refused rather than
        // written as some other number.
        const auto number = ParseDecimal(value);
        if (!number)
            return status::DispatchException;
        registry.SetNumber(key, name, *number);
        return status::Ok;
    }
    if (EqualsNoCase(type, "B")) {
        if (value.size() % 2 != 0)
            return status::Failed;
        std::vector<std::uint8_t> bytes(value.size() / 2);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(HexDigit(value[2 * i]) << 4 | HexDigit(value[2 * i + 1]));
        registry.SetBinary(key, name, bytes);
        return status::Ok;
    }
    return status::DispatchException;
}

// Deletes name below parent with everything beneath it, deepest first.
// Stops at the first failure; the caller ignores the outcome.
bool DeleteTree(Registry& registry, Key parent, const std::string& name)
{
    Key key = 0;
    if (!registry.OpenKey(parent, name, KeyAccess::Full, key))
        return false;
    {
        KeyCloser closer(registry, key);
        std::string subkey;
        while (registry.EnumerateSubkey(key, 0, subkey)) {
            if (!DeleteTree(registry, key, subkey))
                return false;
        }
    }
    return registry.DeleteKey(parent, name);
}

class ScriptWalker {
public:
    ScriptWalker(std::string_view text, Registry& registry) : m_text(text), m_registry(registry) {}

    Status Run(ScriptMode mode)
    {
        while (true) {
            SkipWhiteSpace();
            if (m_pos >= m_text.size())
                return status::Ok;
            const std::size_t blockStart = m_pos;
            if (mode == ScriptMode::Unregister) {
                RETURN_IF_FAILED(RootBlock(Walk::Unregister));
                continue;
            }
            // The block's text is checked before anything is written: the
            // rollback walk would stop at the same fault and leave behind
            // what the block had made up to there.
            RETURN_IF_FAILED(RootBlock(Walk::Check));
            m_pos = blockStart;
            m_created.clear();
            const Status result = RootBlock(Walk::Register);
            if (!Succeeded(result)) {
                TakeBackCreatedKeys();
                return result;
            }
        }
    }

private:
    void SkipWhiteSpace()
    {
        while (m_pos < m_text.size() && IsWhiteSpace(m_text[m_pos]))
            ++m_pos;
    }

    Status NextToken(std::string& token)
    {
        token.clear();
        SkipWhiteSpace();
        if (m_pos >= m_text.size())
            return status::DispatchException;
        if (m_text[m_pos] != '\'') {
            while (m_pos < m_text.size() && !IsWhiteSpace(m_text[m_pos])) {
                if (token.size() == kMaxTokenLength)
                    return status::DispatchException;
                token.push_back(m_text[m_pos++]);
            }
            return status::Ok;
        }
        ++m_pos;
        while (true) {
            if (m_pos >= m_text.size())
                return status::DispatchException;
            if (m_text[m_pos] == '\'') {
                const bool doubled = m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '\'';
                if (!doubled) {
                    ++m_pos;
                    return status::Ok;
                }
                ++m_pos;
            }
            if (token.size() == kMaxTokenLength)
                return status::DispatchException;
            token.push_back(m_text[m_pos++]);
        }
    }

    Status PeekToken(std::string& token)
    {
        const std::size_t pos = m_pos;
        const Status s = NextToken(token);
        m_pos = pos;
        return s;
    }

    // Consumes the next token when it is exactly expected.
    Status TakeIf(std::string_view expected, bool& taken)
    {
        std::string token;
        RETURN_IF_FAILED(PeekToken(token));
        taken = token == expected;
        if (taken)
            return NextToken(token);
        return status::Ok;
    }

    // "=", a type and a value after a key name, when present.
    Status Assignment(std::optional<std::pair<std::string, std::string>>& typeAndValue)
    {
        typeAndValue.reset();
        bool present = false;
        RETURN_IF_FAILED(TakeIf("=", present));
        if (!present)
            return status::Ok;
        std::string type;
        std::string value;
        RETURN_IF_FAILED(NextToken(type));
        RETURN_IF_FAILED(NextToken(value));
        typeAndValue.emplace(std::move(type), std::move(value));
        return status::Ok;
    }

    // Check walks the text as unregistering does when every key is absent:
    // it reads the whole structure and touches nothing.
    enum class Walk { Register, Unregister, Check };

    Status RootBlock(Walk walk)
    {
        std::string token;
        RETURN_IF_FAILED(NextToken(token));
        const auto root = FindRoot(token);
        if (!root)
            return status::DispatchException;
        RETURN_IF_FAILED(NextToken(token));
        if (token.empty() || token.front() != '{')
            return status::DispatchException;
        if (walk == Walk::Check)
            return UnregisterBlock(0, true, 1);
        m_root = *root;
        m_path.clear();
        const Key key = m_registry.Root(*root);
        return walk == Walk::Register ? RegisterBlock(key, 1) : UnregisterBlock(key, false, 1);
    }

    // Reads the marks in front of an entry and the entry's first word.
    struct EntryHead {
        bool forceRemove = false;
        bool remove = false;   // "Delete"
        bool noRemove = false;
        std::string word;
    };

    Status ReadEntryHead(EntryHead& head)
    {
        RETURN_IF_FAILED(NextToken(head.word));
        if (EqualsNoCase(head.word, "ForceRemove")) {
            head.forceRemove = true;
            RETURN_IF_FAILED(NextToken(head.word));
        } else if (EqualsNoCase(head.word, "Delete")) {
            head.remove = true;
            RETURN_IF_FAILED(NextToken(head.word));
        }
        if (EqualsNoCase(head.word, "NoRemove")) {
            head.noRemove = true;
            RETURN_IF_FAILED(NextToken(head.word));
        }
        return status::Ok;
    }

    // After "Val": the value name, "=", the type and the value.
    Status ReadNamedValue(std::string& name, std::string& type, std::string& value)
    {
        RETURN_IF_FAILED(NextToken(name));
        std::string equals;
        RETURN_IF_FAILED(NextToken(equals));
        if (equals != "=")
            return status::DispatchException;
        RETURN_IF_FAILED(NextToken(type));
        return NextToken(value);
    }

    // True at a "}" that ends the block, which is then consumed.
    Status AtBlockEnd(bool& atEnd)
    {
        std::string token;
        RETURN_IF_FAILED(PeekToken(token));
        atEnd = !token.empty() && token.front() == '}';
        if (atEnd)
            return NextToken(token);
        return status::Ok;
    }

    Status RegisterBlock(Key current, int depth)
    {
        if (depth > kMaxBlockDepth)
            return status::DispatchException;
        while (true) {
            bool atEnd = false;
            RETURN_IF_FAILED(AtBlockEnd(atEnd));
            if (atEnd)
                return status::Ok;
            RETURN_IF_FAILED(RegisterEntry(current, depth));
        }
    }

    Status RegisterEntry(Key current, int depth)
    {
        EntryHead head;
        RETURN_IF_FAILED(ReadEntryHead(head));
        if (EqualsNoCase(head.word, "Val")) {
            std::string name, type, value;
            RETURN_IF_FAILED(ReadNamedValue(name, type, value));
            return SetValue(m_registry, current, name, type, value);
        }
        const std::string& name = head.word;
        if (name.find('\\') != std::string::npos)
            return status::DispatchException;
        if ((head.forceRemove || head.remove) && !IsProtected(name))
            DeleteTree(m_registry, current, name);

        std::optional<std::pair<std::string, std::string>> assignment;
        if (head.remove)
            return Assignment(assignment);

        Key key = 0;
        bool created = false;
        if (!m_registry.OpenKey(current, name, KeyAccess::Full, key) &&
            !m_registry.OpenKey(current, name, KeyAccess::Read, key)) {
            if (!m_registry.CreateKey(current, name, key))
                return status::DispatchException;
            created = true;
        }
        KeyCloser closer(m_registry, key);
        PathEntry entry(m_path, name);
        if (created)
            m_created.push_back(m_path);

        RETURN_IF_FAILED(Assignment(assignment));
        if (assignment)
            RETURN_IF_FAILED(SetValue(m_registry, key, "", assignment->first, assignment->second));
        bool block = false;
        RETURN_IF_FAILED(TakeIf("{", block));
        if (block)
            RETURN_IF_FAILED(RegisterBlock(key, depth + 1));
        return status::Ok;
    }

    // In absent mode current is no key: nothing is opened or deleted.
    Status UnregisterBlock(Key current, bool absent, int depth)
    {
        if (depth > kMaxBlockDepth)
            return status::DispatchException;
        bool mayDelete = true;
        while (true) {
            bool atEnd = false;
            RETURN_IF_FAILED(AtBlockEnd(atEnd));
            if (atEnd)
                return status::Ok;
            RETURN_IF_FAILED(UnregisterEntry(current, absent, mayDelete, depth));
        }
    }

    Status UnregisterEntry(Key current, bool absent, bool& mayDelete, int depth)
    {
        EntryHead head;
        RETURN_IF_FAILED(ReadEntryHead(head));
        // "NoRemove" holds for the rest of the block, not only this entry.
        if (head.noRemove)
            mayDelete = false;
        if (EqualsNoCase(head.word, "Val")) {
            std::string name, type, value;
            RETURN_IF_FAILED(ReadNamedValue(name, type, value));
            if (!absent)
                m_registry.DeleteValue(current, name);
            return status::Ok;
        }
        const std::string& name = head.word;
        if (name.find('\\') != std::string::npos)
            return status::DispatchException;

        // Opened for full access where allowed, so that "Val" entries in its
        // block can delete their values; read access is enough to walk it.
        Key key = 0;
        const bool present = !absent && (m_registry.OpenKey(current, name, KeyAccess::Full, key) ||
                                         m_registry.OpenKey(current, name, KeyAccess::Read, key));
        std::optional<KeyCloser> closer;
        if (present)
            closer.emplace(m_registry, key);

        std::optional<std::pair<std::string, std::string>> assignment;
        RETURN_IF_FAILED(Assignment(assignment));
        bool block = false;
        RETURN_IF_FAILED(TakeIf("{", block));
        if (block)
            RETURN_IF_FAILED(UnregisterBlock(key, !present, depth + 1));
        if (!present)
            return status::Ok;

        std::uint32_t subkeys = 0;
        if (!m_registry.CountSubkeys(key, subkeys) || subkeys != 0 || !mayDelete)
            return status::Ok;
        if (!closer->Close())
            return status::DispatchException;
        m_registry.DeleteKey(current, name);
        return status::Ok;
    }

    // The path of the key being registered, below the root block's root.
    class PathEntry {
    public:
        PathEntry(std::vector<std::string>& path, const std::string& name) : m_path(path) { m_path.push_back(name); }
        ~PathEntry() { m_path.pop_back(); }
        PathEntry(const PathEntry&) = delete;
        PathEntry& operator=(const PathEntry&) = delete;

    private:
        std::vector<std::string>& m_path;
    };

    // A failed root block takes back only the keys it created itself, newest
    // first. Walking the block in unregister mode instead would also delete
    // keys that were there before, such as a ProgID the other bitness's
    // registration shares. Values it wrote into keys that existed stay.
    void TakeBackCreatedKeys()
    {
        const Key root = m_registry.Root(m_root);
        for (auto created = m_created.rbegin(); created != m_created.rend(); ++created)
            DeleteBelow(root, *created, 0);
        m_created.clear();
    }

    void DeleteBelow(Key parent, const std::vector<std::string>& path, std::size_t index)
    {
        if (index + 1 == path.size()) {
            DeleteTree(m_registry, parent, path[index]);
            return;
        }
        Key key = 0;
        if (!m_registry.OpenKey(parent, path[index], KeyAccess::Full, key) &&
            !m_registry.OpenKey(parent, path[index], KeyAccess::Read, key))
            return;
        KeyCloser closer(m_registry, key);
        DeleteBelow(key, path, index + 1);
    }

    std::string_view m_text;
    Registry& m_registry;
    std::size_t m_pos = 0;
    RootKey m_root = RootKey::ClassesRoot;
    std::vector<std::string> m_path;
    std::vector<std::vector<std::string>> m_created;
};

}  // namespace

Status InterpretScript(std::string_view text, ScriptMode mode, Registry& registry)
{
    return OutOfMemoryGuarded([&] { return ScriptWalker(text, registry).Run(mode); });
}

Status ApplyRegistrationScript(std::string_view text, ScriptMode mode, const ReplacementMap& map,
                               const CodePage& codePage, Registry& registry)
{
    const std::size_t end = text.find('\0');
    if (end != std::string_view::npos)
        text = text.substr(0, end);
    std::string preprocessed;
    RETURN_IF_FAILED(PreprocessScript(text, map, codePage, preprocessed));
    return InterpretScript(preprocessed, mode, registry);
}

}  // namespace orbalin
