// The runner and the Win32 registry adapter against the real registry of the
// Wine prefix. The script's rows are read back with the registry functions.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/win/unique_handle.h"
#include "server/registration/script_interpreter.h"
#include "server/registration/win32/ansi_code_page.h"
#include "server/registration/win32/win32_registry.h"

namespace {

using lorvane::win::UniqueHkey;
using lorvane::win::UniqueHmodule;

const std::wstring kClassKey = std::wstring(L"CLSID\\") + ORBALIN_CLSID_TEXT;

std::wstring ExeDirectory()
{
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

std::optional<RawValue> ReadValue(HKEY root, const std::wstring& path, const wchar_t* name)
{
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return std::nullopt;
    const UniqueHkey key(opened);
    RawValue value;
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.bytes.resize(size);
    if (::RegQueryValueExW(key.Get(), name, nullptr, &value.type, value.bytes.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.bytes.resize(size);
    return value;
}

// A REG_SZ value as text, or "<none>" / "<type n>" when it is missing or of another type.
std::wstring ReadString(const std::wstring& path, const wchar_t* name = nullptr)
{
    const auto value = ReadValue(HKEY_CLASSES_ROOT, path, name);
    if (!value)
        return L"<none>";
    if (value->type != REG_SZ)
        return L"<type " + std::to_wstring(value->type) + L">";
    std::wstring text(reinterpret_cast<const wchar_t*>(value->bytes.data()), value->bytes.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

using RunScriptFunction = HRESULT(WINAPI*)(BOOL);

// The carrier library copied into a folder whose name holds a single quote.
class Runner : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        m_parent = std::wstring(temp) + L"orbalin-reg";
        m_folder = m_parent + L"\\o'brien";
        m_library = m_folder + L"\\Orbalin.dll";
        ::CreateDirectoryW(m_parent.c_str(), nullptr);
        ::CreateDirectoryW(m_folder.c_str(), nullptr);
        ASSERT_TRUE(::CopyFileW((ExeDirectory() + L"script_carrier.dll").c_str(), m_library.c_str(), FALSE));
        RemoveRows();
    }

    void TearDown() override
    {
        RemoveRows();
        ::DeleteFileW(m_library.c_str());
        ::RemoveDirectoryW(m_folder.c_str());
        ::RemoveDirectoryW(m_parent.c_str());
    }

    // Leaves no trace in the prefix whatever the test did.
    static void RemoveRows()
    {
        for (const wchar_t* key : {L"Orbalin.OrbalinObj.1", L"Orbalin.OrbalinObj", kClassKey.c_str()})
            ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
        ::RegDeleteKeyW(HKEY_CLASSES_ROOT, kClassKey.c_str());
        ::RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Orbalin.OrbalinObj.1");
        ::RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Orbalin.OrbalinObj");
    }

    static HRESULT Run(const std::wstring& library, bool registerMode)
    {
        const UniqueHmodule module(::LoadLibraryW(library.c_str()));
        if (!module)
            return E_UNEXPECTED;
        const auto run = reinterpret_cast<RunScriptFunction>(
            reinterpret_cast<void*>(::GetProcAddress(module.Get(), "RunScript")));
        return run != nullptr ? run(registerMode ? TRUE : FALSE) : E_UNEXPECTED;
    }

    void ExpectRegistered() const
    {
        const std::wstring clsid = ORBALIN_CLSID_TEXT;
        EXPECT_EQ(ReadString(L"Orbalin.OrbalinObj.1"), L"OrbalinObj Class");
        EXPECT_EQ(ReadString(L"Orbalin.OrbalinObj.1\\CLSID"), clsid);
        EXPECT_EQ(ReadString(L"Orbalin.OrbalinObj"), L"OrbalinObj Class");
        EXPECT_EQ(ReadString(L"Orbalin.OrbalinObj\\CLSID"), clsid);
        EXPECT_EQ(ReadString(L"Orbalin.OrbalinObj\\CurVer"), L"Orbalin.OrbalinObj.1");
        EXPECT_EQ(ReadString(kClassKey), L"OrbalinObj Class");
        EXPECT_EQ(ReadString(kClassKey + L"\\ProgID"), L"Orbalin.OrbalinObj.1");
        EXPECT_EQ(ReadString(kClassKey + L"\\VersionIndependentProgID"), L"Orbalin.OrbalinObj");
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + L"\\Programmable"));
        EXPECT_EQ(ReadString(kClassKey + L"\\InprocServer32"), m_library);
        EXPECT_EQ(ReadString(kClassKey + L"\\InprocServer32", L"ThreadingModel"), L"Both");
        EXPECT_EQ(ReadString(kClassKey + L"\\TypeLib"), ORBALIN_LIBID_TEXT);
    }

    static void ExpectUnregistered()
    {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Orbalin.OrbalinObj.1"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Orbalin.OrbalinObj"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    }

    std::wstring m_parent;
    std::wstring m_folder;
    std::wstring m_library;
};

TEST_F(Runner, RegistersFromAFolderWithAQuoteAndUnregistersAgain)
{
    ASSERT_NE(m_library.find(L"\\o'brien\\"), std::wstring::npos);
    ASSERT_EQ(Run(m_library, true), S_OK);
    ExpectRegistered();

    ASSERT_EQ(Run(m_library, true), S_OK);
    ExpectRegistered();

    ASSERT_EQ(Run(m_library, false), S_OK);
    ExpectUnregistered();
    ASSERT_EQ(Run(m_library, false), S_OK);
    ExpectUnregistered();
}

TEST_F(Runner, ForeignSubkeyKeepsTheClassKeyUntilTheNextRegistration)
{
    ASSERT_EQ(Run(m_library, true), S_OK);
    HKEY foreign = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClassKey + L"\\Foreign").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &foreign, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(foreign);

    ASSERT_EQ(Run(m_library, false), S_OK);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + L"\\Foreign"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32"));

    ASSERT_EQ(Run(m_library, true), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + L"\\Foreign"));
    ExpectRegistered();
}

TEST_F(Runner, LibraryWithoutTheScriptGivesTheLastErrorAndWritesNothing)
{
    const std::wstring bare = ExeDirectory() + L"script_carrier_bare.dll";
    // Whatever error the platform gives for the missing resource is the status.
    DWORD expected = 0;
    {
        const UniqueHmodule data(::LoadLibraryExW(bare.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(data);
        ASSERT_EQ(::FindResourceW(data.Get(), MAKEINTRESOURCEW(101), L"REGISTRY"), nullptr);
        expected = ::GetLastError();
    }
    ASSERT_NE(expected, 0u);
    EXPECT_EQ(Run(bare, true), HRESULT_FROM_WIN32(expected));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Orbalin.OrbalinObj"));
}

// The adapter on its own, below HKCU: every value type, forced removal of an
// existing subtree, and unregistration.
class Win32RegistryAdapter : public ::testing::Test {
protected:
    static constexpr const wchar_t* kTestKey = L"Software\\OrbalinRegistrationTest";

    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); ::RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey); }
    void TearDown() override { SetUp(); }

    orbalin::Status Apply(const char* script, orbalin::ScriptMode mode)
    {
        orbalin::ReplacementMap map;
        map.Add("Module", u"C:\\o''brien\\Orbalin.dll");
        return orbalin::ApplyRegistrationScript(script, mode, map, orbalin::AnsiCodePage(), m_registry);
    }

    orbalin::Win32Registry m_registry;
};

TEST_F(Win32RegistryAdapter, WritesEveryValueTypeAndRemovesWhatItMade)
{
    HKEY old = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kTestKey) + L"\\old\\deeper\\deepest").c_str(), 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &old, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(old);

    const char* script =
        "HKEY_CURRENT_USER\r\n{\r\n\tNoRemove Software\r\n\t{\r\n"
        "\t\tForceRemove OrbalinRegistrationTest = s '%Module%'\r\n\t\t{\r\n"
        "\t\t\tval Number = d '305419896'\r\n\t\t\tval Bytes = b '0AfF10'\r\n"
        "\t\t\t'Sub Key' { val 'it''s' = s 'x' }\r\n\t\t}\r\n\t}\r\n}\r\n";
    ASSERT_EQ(Apply(script, orbalin::ScriptMode::Register), orbalin::status::Ok);

    const std::wstring key = kTestKey;
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key + L"\\old"));
    const auto path = ReadValue(HKEY_CURRENT_USER, key, nullptr);
    ASSERT_TRUE(path);
    EXPECT_EQ(path->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(path->bytes.data())), L"C:\\o'brien\\Orbalin.dll");
    const auto number = ReadValue(HKEY_CURRENT_USER, key, L"Number");
    ASSERT_TRUE(number);
    EXPECT_EQ(number->type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(number->bytes.size(), sizeof(DWORD));
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(number->bytes.data()), 0x12345678u);
    const auto bytes = ReadValue(HKEY_CURRENT_USER, key, L"Bytes");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(bytes->bytes, (std::vector<BYTE>{0x0A, 0xFF, 0x10}));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, key + L"\\Sub Key", L"it's"));

    ASSERT_EQ(Apply(script, orbalin::ScriptMode::Unregister), orbalin::status::Ok);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software"));
}

TEST_F(Win32RegistryAdapter, UnregisteringDeletesNamedValuesOfAKeptKey)
{
    const char* make = "HKCU { NoRemove Software { NoRemove OrbalinRegistrationTest { val A = s 'a' val B = s 'b' } } }";
    const char* drop = "HKCU { NoRemove Software { NoRemove OrbalinRegistrationTest { val A = s 'a' } } }";
    ASSERT_EQ(Apply(make, orbalin::ScriptMode::Register), orbalin::status::Ok);
    ASSERT_EQ(Apply(drop, orbalin::ScriptMode::Unregister), orbalin::status::Ok);
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, kTestKey, L"A"));
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, kTestKey, L"B"));
}

// An adapter for the other registry view of 64-bit Windows creates, force-
// removes and deletes keys there only: HKLM\Software is one key per view.
// The system's own conversion, without best fit: full-width letters and
// quotes have look-alikes in every Western and Cyrillic code page, so they
// are refused, and Cyrillic is carried only where the code page holds it.
TEST(AnsiCodePage, CarriesOnlyWhatComesBackUnchanged)
{
    const orbalin::AnsiCodePage codePage;
    std::string out;
    EXPECT_TRUE(codePage.FromWide(u"C:\\t\\Lorvane\\Orbalin.dll", out));
    EXPECT_EQ(out, "C:\\t\\Lorvane\\Orbalin.dll");
    EXPECT_FALSE(codePage.FromWide(u"C:\\t\\\uFF2Corvane\\Orbalin.dll", out));
    EXPECT_FALSE(codePage.FromWide(u"C:\\t\\it\uFF07s\\Orbalin.dll", out));
    const bool cyrillic = codePage.FromWide(u"C:\\\u041A\u0430\u0441\u0430\\Orbalin.dll", out);
    if (::GetACP() == 1251) {
        EXPECT_TRUE(cyrillic);
        EXPECT_EQ(out, "C:\\\xCA\xE0\xF1\xE0\\Orbalin.dll");
    } else if (::GetACP() == 1252) {
        EXPECT_FALSE(cyrillic);
    }
}

TEST(Win32RegistryOtherView, WritesAndRemovesInThatViewOnly)
{
    BOOL wow64 = FALSE;
    if (sizeof(void*) == 4 && !(::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64))
        GTEST_SKIP() << "32-bit Windows has one registry view";
    const REGSAM other = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    const std::wstring key = L"Software\\OrbalinViewTest";
    auto make = [&](REGSAM view, const std::wstring& path) {
        HKEY made = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                    &made, nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(made);
    };
    auto clear = [&] {
        for (REGSAM view : {REGSAM{0}, other}) {
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (key + L"\\old").c_str(), view, 0);
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (key + L"\\Sub").c_str(), view, 0);
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), view, 0);
        }
    };
    clear();
    make(other, key + L"\\old");
    make(0, key + L"\\old");

    orbalin::Win32Registry registry(other);
    orbalin::ReplacementMap map;
    const char* script = "HKLM { NoRemove Software { ForceRemove OrbalinViewTest = s 'v' { Sub = s 'x' } } }";
    ASSERT_EQ(orbalin::ApplyRegistrationScript(script, orbalin::ScriptMode::Register, map, orbalin::AnsiCodePage(),
                                               registry),
              orbalin::status::Ok);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key + L"\\Sub", other));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key + L"\\old", other)) << "forced removal in the other view";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key + L"\\old")) << "own view untouched";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key + L"\\Sub"));

    ASSERT_EQ(orbalin::ApplyRegistrationScript(script, orbalin::ScriptMode::Unregister, map,
                                               orbalin::AnsiCodePage(), registry),
              orbalin::status::Ok);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, other));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key + L"\\old"));
    clear();
}

}  // namespace
