#include "server/registration/win32/win32_registry.h"

#include <windows.h>

#include <array>

namespace orbalin {

namespace {

HKEY ToHkey(Registry::Key key) { return reinterpret_cast<HKEY>(key); }
Registry::Key FromHkey(HKEY key) { return reinterpret_cast<Registry::Key>(key); }

// The default value is the one with no name.
const char* ValueName(const std::string& name) { return name.empty() ? nullptr : name.c_str(); }

bool SetValue(Registry::Key key, const std::string& name, DWORD type, const void* data, std::size_t size)
{
    return ::RegSetValueExA(ToHkey(key), ValueName(name), 0, type, static_cast<const BYTE*>(data),
                            static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

}  // namespace

Registry::Key Win32Registry::Root(RootKey root)
{
    static const std::array<HKEY, 7> kRoots = {HKEY_CLASSES_ROOT,     HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
                                                   HKEY_USERS,            HKEY_PERFORMANCE_DATA, HKEY_DYN_DATA,
                                                   HKEY_CURRENT_CONFIG};
    return FromHkey(kRoots[static_cast<std::size_t>(root)]);
}

bool Win32Registry::OpenKey(Key parent, const std::string& name, KeyAccess access, Key& key)
{
    HKEY opened = nullptr;
    const REGSAM sam = (access == KeyAccess::Full ? KEY_ALL_ACCESS : KEY_READ) | m_view;
    if (::RegOpenKeyExA(ToHkey(parent), name.c_str(), 0, sam, &opened) != ERROR_SUCCESS)
        return false;
    key = FromHkey(opened);
    return true;
}

bool Win32Registry::CreateKey(Key parent, const std::string& name, Key& key)
{
    HKEY created = nullptr;
    if (::RegCreateKeyExA(ToHkey(parent), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | m_view,
                          nullptr, &created, nullptr) != ERROR_SUCCESS)
        return false;
    key = FromHkey(created);
    return true;
}

bool Win32Registry::CloseKey(Key key) { return ::RegCloseKey(ToHkey(key)) == ERROR_SUCCESS; }

bool Win32Registry::SetString(Key key, const std::string& name, const std::string& text)
{
    return SetValue(key, name, REG_SZ, text.c_str(), text.size() + 1);
}

bool Win32Registry::SetNumber(Key key, const std::string& name, std::uint32_t number)
{
    const DWORD value = number;
    return SetValue(key, name, REG_DWORD, &value, sizeof value);
}

bool Win32Registry::SetBinary(Key key, const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    return SetValue(key, name, REG_BINARY, bytes.data(), bytes.size());
}

bool Win32Registry::DeleteValue(Key key, const std::string& name)
{
    return ::RegDeleteValueA(ToHkey(key), ValueName(name)) == ERROR_SUCCESS;
}

bool Win32Registry::DeleteKey(Key parent, const std::string& name)
{
    // RegDeleteKeyA would delete in the caller's own view, whatever view the
    // parent handle was opened in.
    return ::RegDeleteKeyExA(ToHkey(parent), name.c_str(), m_view, 0) == ERROR_SUCCESS;
}

bool Win32Registry::EnumerateSubkey(Key key, std::uint32_t index, std::string& name)
{
    std::array<char, 256> buffer{};
    DWORD length = static_cast<DWORD>(buffer.size());
    if (::RegEnumKeyExA(ToHkey(key), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
        return false;
    name.assign(buffer.data(), length);
    return true;
}

bool Win32Registry::CountSubkeys(Key key, std::uint32_t& count)
{
    DWORD subkeys = 0;
    if (::RegQueryInfoKeyA(ToHkey(key), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    count = subkeys;
    return true;
}

}  // namespace orbalin
