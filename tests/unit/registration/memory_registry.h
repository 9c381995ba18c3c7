// An in-memory registry for tests of the script interpreter: keys and values
// compare regardless of case and subkeys enumerate in sorted order, as on the
// platform. Faults can be injected per key name, handles are counted so that
// a leaked key shows, and the whole tree can be dumped as text.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "server/registration/registry.h"
#include "common/ascii_case.h"

namespace orbalin::testing {

struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

class MemoryRegistry final : public Registry {
public:
    struct Value {
        enum class Type { String, Number, Binary } type = Type::String;
        std::string text;
        std::uint32_t number = 0;
        std::vector<std::uint8_t> bytes;
    };

    MemoryRegistry();

    Key Root(RootKey root) override;
    bool OpenKey(Key parent, const std::string& name, KeyAccess access, Key& key) override;
    bool CreateKey(Key parent, const std::string& name, Key& key) override;
    bool CloseKey(Key key) override;
    bool SetString(Key key, const std::string& name, const std::string& text) override;
    bool SetNumber(Key key, const std::string& name, std::uint32_t number) override;
    bool SetBinary(Key key, const std::string& name, const std::vector<std::uint8_t>& bytes) override;
    bool DeleteValue(Key key, const std::string& name) override;
    bool DeleteKey(Key parent, const std::string& name) override;
    bool EnumerateSubkey(Key key, std::uint32_t index, std::string& name) override;
    bool CountSubkeys(Key key, std::uint32_t& count) override;

    // Test set-up and inspection; paths are "HKCR\a\b".
    void AddKey(const std::string& path);
    void AddString(const std::string& path, const std::string& name, const std::string& text);
    bool Exists(const std::string& path) const;
    std::optional<Value> ValueAt(const std::string& path, const std::string& name) const;
    // Every key, one line each in sorted order, with its values:
    // HKCR\a\b  @=s'text' name=d42 other=b0a0b
    std::string Dump() const;
    std::size_t OpenHandles() const { return m_handles.size(); }
    // The merged classes root as Windows presents it to a program: a key of
    // HKCU\Software\Classes hides the same key of HKLM\Software\Classes.
    // path is below the root ("CLSID\{…}\InprocServer32").
    std::optional<Value> MergedValueAt(const std::string& path, const std::string& name) const;
    // Calls made on the HKCR root itself: Windows would resolve them through
    // the merge above, writing into the per-user key where one exists.
    std::size_t ClassesRootCalls() const { return m_classesRootCalls; }
    // Every open and create, in order: "open full X", "open read X", "create X".
    const std::vector<std::string>& Calls() const { return m_calls; }

    // Faults, by key name (any key of that name).
    std::set<std::string, NoCaseLess> failCreate;
    std::set<std::string, NoCaseLess> failClose;
    // Such keys open only for reading and cannot be written or deleted.
    std::set<std::string, NoCaseLess> readOnly;

private:
    struct Node {
        std::string name;
        bool deleted = false;
        std::map<std::string, Value, NoCaseLess> values;
        std::map<std::string, std::shared_ptr<Node>, NoCaseLess> subkeys;
    };
    struct Handle {
        std::shared_ptr<Node> node;
        KeyAccess access;
    };

    Node* Find(Key key, KeyAccess needed);
    Key NewHandle(std::shared_ptr<Node> node, KeyAccess access);
    bool SetValue(Key key, const std::string& name, Value value);
    std::shared_ptr<Node> NodeAt(const std::string& path, bool create) const;
    static void DumpNode(const Node& node, const std::string& path, std::string& out);

    std::vector<std::shared_ptr<Node>> m_roots;
    std::map<Key, Handle> m_handles;
    Key m_nextKey = 0x1000;
    std::vector<std::string> m_calls;
    std::size_t m_classesRootCalls = 0;
};

}  // namespace orbalin::testing
