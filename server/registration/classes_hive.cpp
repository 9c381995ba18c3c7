#include "server/registration/classes_hive.h"

#include <string>

namespace orbalin {
namespace {

// Every operation goes to the registry underneath, except that the classes
// root is the given key.
class RerootedRegistry final : public Registry {
public:
    RerootedRegistry(Registry& inner, Key classes) : m_inner(inner), m_classes(classes) {}

    Key Root(RootKey root) override { return root == RootKey::ClassesRoot ? m_classes : m_inner.Root(root); }
    bool OpenKey(Key parent, const std::string& name, KeyAccess access, Key& key) override
    {
        return m_inner.OpenKey(parent, name, access, key);
    }
    bool CreateKey(Key parent, const std::string& name, Key& key) override
    {
        return m_inner.CreateKey(parent, name, key);
    }
    bool CloseKey(Key key) override { return m_inner.CloseKey(key); }
    bool SetString(Key key, const std::string& name, const std::string& text) override
    {
        return m_inner.SetString(key, name, text);
    }
    bool SetNumber(Key key, const std::string& name, std::uint32_t number) override
    {
        return m_inner.SetNumber(key, name, number);
    }
    bool SetBinary(Key key, const std::string& name, const std::vector<std::uint8_t>& bytes) override
    {
        return m_inner.SetBinary(key, name, bytes);
    }
    bool DeleteValue(Key key, const std::string& name) override { return m_inner.DeleteValue(key, name); }
    bool DeleteKey(Key parent, const std::string& name) override { return m_inner.DeleteKey(parent, name); }
    bool EnumerateSubkey(Key key, std::uint32_t index, std::string& name) override
    {
        return m_inner.EnumerateSubkey(key, index, name);
    }
    bool CountSubkeys(Key key, std::uint32_t& count) override { return m_inner.CountSubkeys(key, count); }

private:
    Registry& m_inner;
    Key m_classes;
};

// An open key, closed when it goes out of scope.
class OpenedKey {
public:
    explicit OpenedKey(Registry& registry) : m_registry(registry) {}
    ~OpenedKey()
    {
        if (m_open)
            m_registry.CloseKey(m_key);
    }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;

    bool Open(Registry::Key parent, std::string_view name, bool create)
    {
        const std::string text(name);
        m_open = create ? m_registry.CreateKey(parent, text, m_key)
                        : m_registry.OpenKey(parent, text, KeyAccess::Read, m_key);
        return m_open;
    }
    Registry::Key Get() const { return m_key; }

private:
    Registry& m_registry;
    Registry::Key m_key = 0;
    bool m_open = false;
};

}  // namespace

RootKey ClassesHiveRoot(RegistrationScope scope)
{
    return scope == RegistrationScope::User ? RootKey::CurrentUser : RootKey::LocalMachine;
}

Status ApplyRegistrationScriptInScope(std::string_view text, ScriptMode mode, const ReplacementMap& map,
                                      const CodePage& codePage, Registry& registry, RegistrationScope scope)
{
    const bool create = mode == ScriptMode::Register;
    OpenedKey software(registry);
    OpenedKey classes(registry);
    if (!software.Open(registry.Root(ClassesHiveRoot(scope)), kSoftwareKey, create) ||
        !classes.Open(software.Get(), kClassesKey, create))
        return create ? status::DispatchException : status::Ok;
    RerootedRegistry rerooted(registry, classes.Get());
    return ApplyRegistrationScript(text, mode, map, codePage, rerooted);
}

}  // namespace orbalin
