// The registry as the script interpreter sees it: the few operations it needs,
// on opaque key handles. A Win32 adapter and an in-memory fake implement it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orbalin {

// The roots a script may name, in the order the script's root names list them.
enum class RootKey { ClassesRoot, CurrentUser, LocalMachine, Users, PerformanceData, DynData, CurrentConfig };

enum class KeyAccess { Full, Read };

class Registry {
public:
    // Opaque handle; a root's handle is never closed by the interpreter.
    using Key = std::uintptr_t;

    virtual ~Registry() = default;

    virtual Key Root(RootKey root) = 0;
    virtual bool OpenKey(Key parent, const std::string& name, KeyAccess access, Key& key) = 0;
    // Makes the key if needed (non-volatile) and opens it for full access.
    virtual bool CreateKey(Key parent, const std::string& name, Key& key) = 0;
    virtual bool CloseKey(Key key) = 0;
    // An empty value name stands for the key's default value.
    virtual bool SetString(Key key, const std::string& name, const std::string& text) = 0;
    virtual bool SetNumber(Key key, const std::string& name, std::uint32_t number) = 0;
    virtual bool SetBinary(Key key, const std::string& name, const std::vector<std::uint8_t>& bytes) = 0;
    virtual bool DeleteValue(Key key, const std::string& name) = 0;
    // Fails when the key still has subkeys.
    virtual bool DeleteKey(Key parent, const std::string& name) = 0;
    // Name of the subkey at index; fails past the last one or for names over 255 characters.
    virtual bool EnumerateSubkey(Key key, std::uint32_t index, std::string& name) = 0;
    virtual bool CountSubkeys(Key key, std::uint32_t& count) = 0;
};

}  // namespace orbalin
