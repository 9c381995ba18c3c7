// The library's own script, as generated at build time, applied to an
// in-memory registry.
#include <gtest/gtest.h>

#include "memory_registry.h"
#include "server/registration/classes_hive.h"
#include "server/registration/script_interpreter.h"
#include "test_code_pages.h"

std::string_view GeneratedScript();
extern const char* const kClassId;
extern const char* const kLibraryId;

namespace orbalin {
namespace {

using testing::MemoryRegistry;

constexpr char16_t kInstalled[] = u"C:\\Program Files\\Orbalin\\Orbalin.dll";

// As the runner does: quotes in the path are doubled.
ReplacementMap ModuleMap(const std::u16string& module)
{
    std::u16string doubled;
    for (char16_t c : module) {
        doubled.push_back(c);
        if (c == u'\'')
            doubled.push_back(c);
    }
    ReplacementMap map;
    map.Add("Module", doubled);
    return map;
}

class RegistrationScript : public ::testing::Test {
protected:
    Status Apply(ScriptMode mode, std::u16string module = kInstalled)
    {
        return ApplyRegistrationScript(GeneratedScript(), mode, ModuleMap(module), testing::SingleByteCodePage(),
                                       registry);
    }

    static std::string Registered(const std::string& path)
    {
        const std::string clsid = kClassId;
        const std::string key = "HKCR\\CLSID\\" + clsid;
        return "HKCR\\CLSID\n" +
               key + "  @=s'OrbalinObj Class'\n" +
               key + "\\InprocServer32  @=s'" + path + "'  ThreadingModel=s'Both'\n" +
               key + "\\ProgID  @=s'Orbalin.OrbalinObj.1'\n" +
               key + "\\Programmable\n" +
               key + "\\TypeLib  @=s'" + kLibraryId + "'\n" +
               key + "\\VersionIndependentProgID  @=s'Orbalin.OrbalinObj'\n"
               "HKCR\\Orbalin.OrbalinObj  @=s'OrbalinObj Class'\n"
               "HKCR\\Orbalin.OrbalinObj\\CLSID  @=s'" + clsid + "'\n"
               "HKCR\\Orbalin.OrbalinObj\\CurVer  @=s'Orbalin.OrbalinObj.1'\n"
               "HKCR\\Orbalin.OrbalinObj.1  @=s'OrbalinObj Class'\n"
               "HKCR\\Orbalin.OrbalinObj.1\\CLSID  @=s'" + clsid + "'\n";
    }

    void TearDown() override { EXPECT_EQ(registry.OpenHandles(), 0u); }

    MemoryRegistry registry;
};

TEST_F(RegistrationScript, IsTabIndentedWithCrLfLineEndsAndCarriesTheIdentifiers)
{
    const std::string_view text = GeneratedScript();
    std::size_t lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++lines;
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at " << i;
            if (i + 1 < text.size()) {
                EXPECT_NE(text[i + 1], ' ') << "indented with blanks at " << i + 1;
            }
        }
    }
    EXPECT_EQ(lines, 26u);
    EXPECT_EQ(text.find('@'), std::string_view::npos);
    EXPECT_NE(text.find(std::string("\r\n\t\tForceRemove ") + kClassId + " = s 'OrbalinObj Class'\r\n"),
              std::string_view::npos);
    EXPECT_NE(text.find(std::string("\t'TypeLib' = s '") + kLibraryId + "'\r\n"), std::string_view::npos);
    EXPECT_NE(text.find("\tInprocServer32 = s '%MODULE%'\r\n"), std::string_view::npos);
}

TEST_F(RegistrationScript, RegisterWritesTheTwelveRows)
{
    ASSERT_EQ(Apply(ScriptMode::Register), status::Ok);
    EXPECT_EQ(registry.Dump(), Registered("C:\\Program Files\\Orbalin\\Orbalin.dll"));
}

TEST_F(RegistrationScript, PathWithASingleQuoteIsStoredWithOneQuote)
{
    ASSERT_EQ(Apply(ScriptMode::Register, u"C:\\o'brien\\Orbalin.dll"), status::Ok);
    EXPECT_EQ(registry.ValueAt(std::string("HKCR\\CLSID\\") + kClassId + "\\InprocServer32", "")->text,
              "C:\\o'brien\\Orbalin.dll");
}

// A Cyrillic folder in a code page without Cyrillic would be registered as
// "????": registration fails instead and writes nothing.
TEST_F(RegistrationScript, PathTheCodePageCannotCarryFailsAndWritesNothing)
{
    EXPECT_EQ(Apply(ScriptMode::Register, u"C:\\\u041A\u0430\u0441\u0430\\Orbalin.dll"), status::NoUnicodeTranslation);
    EXPECT_EQ(registry.Dump(), "");
}

TEST_F(RegistrationScript, RegisteringTwiceEqualsRegisteringOnce)
{
    ASSERT_EQ(Apply(ScriptMode::Register, u"C:\\old.dll"), status::Ok);
    ASSERT_EQ(Apply(ScriptMode::Register), status::Ok);
    EXPECT_EQ(registry.Dump(), Registered("C:\\Program Files\\Orbalin\\Orbalin.dll"));
}

TEST_F(RegistrationScript, UnregisterLeavesOnlyClsidAndASecondOneChangesNothing)
{
    registry.AddKey("HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}");
    registry.AddKey("HKCR\\.txt");
    const std::string before = registry.Dump();
    ASSERT_EQ(Apply(ScriptMode::Register), status::Ok);
    ASSERT_EQ(Apply(ScriptMode::Unregister), status::Ok);
    EXPECT_EQ(registry.Dump(), before);
    ASSERT_EQ(Apply(ScriptMode::Unregister), status::Ok);
    EXPECT_EQ(registry.Dump(), before);
}

TEST_F(RegistrationScript, UnregisterOnAnEmptyRegistryKeepsTheEmptyClsidKey)
{
    ASSERT_EQ(Apply(ScriptMode::Register), status::Ok);
    ASSERT_EQ(Apply(ScriptMode::Unregister), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\CLSID\n");
}

TEST_F(RegistrationScript, ForeignSubkeyOfTheClassKeySurvivesUnregistrationButNotRegistration)
{
    ASSERT_EQ(Apply(ScriptMode::Register), status::Ok);
    const std::string classKey = std::string("HKCR\\CLSID\\") + kClassId;
    registry.AddKey(classKey + "\\Implemented Categories");
    ASSERT_EQ(Apply(ScriptMode::Unregister), status::Ok);
    // The class key stays, with its default value: unregistering skips assignments.
    EXPECT_EQ(registry.Dump(), "HKCR\\CLSID\n" + classKey + "  @=s'OrbalinObj Class'\n" + classKey +
                                   "\\Implemented Categories\n");

    ASSERT_EQ(Apply(ScriptMode::Register), status::Ok);
    EXPECT_EQ(registry.Dump(), Registered("C:\\Program Files\\Orbalin\\Orbalin.dll"));
}

TEST_F(RegistrationScript, FailedCreateInTheMiddleLeavesNothingBehind)
{
    registry.AddKey("HKCR\\CLSID\\{00000000-0000-0000-0000-000000000001}");
    const std::string before = registry.Dump();
    registry.failCreate.insert("InprocServer32");
    EXPECT_EQ(Apply(ScriptMode::Register), status::DispatchException);
    EXPECT_EQ(registry.Dump(), before);
}

// The runner's view: each scope writes its own hive, and the merged classes
// root (where a per-user copy hides the machine's) is never used.
class RegistrationHive : public ::testing::Test {
protected:
    Status Apply(RegistrationScope scope, ScriptMode mode, std::u16string module = kInstalled)
    {
        return ApplyRegistrationScriptInScope(GeneratedScript(), mode, ModuleMap(module),
                                              testing::SingleByteCodePage(), registry, scope);
    }
    std::string Server(const std::string& hive) const
    {
        const auto value = registry.ValueAt(hive + "\\Software\\Classes\\" + kServerKey, "");
        return value ? value->text : "(none)";
    }
    void TearDown() override
    {
        EXPECT_EQ(registry.OpenHandles(), 0u);
        EXPECT_EQ(registry.ClassesRootCalls(), 0u);
    }

    const std::string kServerKey = std::string("CLSID\\") + kClassId + "\\InprocServer32";
    MemoryRegistry registry;
};

// An administrator once registered a copy for himself; the machine-wide
// registration must reach other accounts, not his per-user keys.
TEST_F(RegistrationHive, MachineRegistrationBesideAPerUserCopyWritesTheMachineHive)
{
    ASSERT_EQ(Apply(RegistrationScope::User, ScriptMode::Register, u"C:\\Users\\a\\Orbalin.dll"), status::Ok);
    ASSERT_EQ(Apply(RegistrationScope::Machine, ScriptMode::Register), status::Ok);
    EXPECT_EQ(Server("HKLM"), "C:\\Program Files\\Orbalin\\Orbalin.dll");
    EXPECT_EQ(Server("HKCU"), "C:\\Users\\a\\Orbalin.dll");
    // What the administrator's own programs see is still his copy.
    EXPECT_EQ(registry.MergedValueAt(kServerKey, "")->text, "C:\\Users\\a\\Orbalin.dll");
    EXPECT_FALSE(registry.Exists("HKCR\\CLSID"));
}

TEST_F(RegistrationHive, MachineUnregistrationRemovesTheMachineRowsAndLeavesThePerUserCopy)
{
    ASSERT_EQ(Apply(RegistrationScope::Machine, ScriptMode::Register), status::Ok);
    ASSERT_EQ(Apply(RegistrationScope::User, ScriptMode::Register, u"C:\\Users\\a\\Orbalin.dll"), status::Ok);
    ASSERT_EQ(Apply(RegistrationScope::Machine, ScriptMode::Unregister), status::Ok);
    EXPECT_FALSE(registry.Exists(std::string("HKLM\\Software\\Classes\\CLSID\\") + kClassId));
    EXPECT_FALSE(registry.Exists("HKLM\\Software\\Classes\\Orbalin.OrbalinObj"));
    EXPECT_EQ(Server("HKCU"), "C:\\Users\\a\\Orbalin.dll");

    ASSERT_EQ(Apply(RegistrationScope::User, ScriptMode::Unregister), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCU\\Software\nHKCU\\Software\\Classes\nHKCU\\Software\\Classes\\CLSID\n"
                               "HKLM\\Software\nHKLM\\Software\\Classes\nHKLM\\Software\\Classes\\CLSID\n");
}

TEST_F(RegistrationHive, UnregisteringAHiveWithoutClassesWritesNothing)
{
    EXPECT_EQ(Apply(RegistrationScope::User, ScriptMode::Unregister), status::Ok);
    EXPECT_EQ(Apply(RegistrationScope::Machine, ScriptMode::Unregister), status::Ok);
    EXPECT_EQ(registry.Dump(), "");
}

TEST_F(RegistrationHive, FailedMachineRegistrationRollsBackOnlyItsOwnRows)
{
    registry.AddKey("HKLM\\Software\\Classes\\CLSID");
    ASSERT_EQ(Apply(RegistrationScope::User, ScriptMode::Register, u"C:\\Users\\a\\Orbalin.dll"), status::Ok);
    const std::string before = registry.Dump();
    registry.failCreate.insert("InprocServer32");
    EXPECT_EQ(Apply(RegistrationScope::Machine, ScriptMode::Register), status::DispatchException);
    EXPECT_EQ(registry.Dump(), before);
}

}  // namespace
}  // namespace orbalin
