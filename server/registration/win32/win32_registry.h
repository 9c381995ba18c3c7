// The interpreter's registry operations on the real registry, with the
// 8-bit (system code page) registry functions: the script is 8-bit text.
#pragma once

#include "server/registration/registry.h"

namespace orbalin {

class Win32Registry final : public Registry {
public:
    // view 0 is the caller's own registry view; KEY_WOW64_32KEY or
    // KEY_WOW64_64KEY names one view of 64-bit Windows explicitly.
    explicit Win32Registry(unsigned long view = 0) : m_view(view) {}

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

private:
    unsigned long m_view;
};

}  // namespace orbalin
