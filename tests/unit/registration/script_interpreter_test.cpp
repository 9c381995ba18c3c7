#include "server/registration/script_interpreter.h"

#include <gtest/gtest.h>

#include "memory_registry.h"
#include "test_code_pages.h"

namespace orbalin {
namespace {

using testing::MemoryRegistry;

class ScriptInterpreter : public ::testing::Test {
protected:
    Status Register(std::string_view text) { return InterpretScript(text, ScriptMode::Register, registry); }
    Status Unregister(std::string_view text) { return InterpretScript(text, ScriptMode::Unregister, registry); }

    // Every run must close every key it opened, whatever its outcome.
    void TearDown() override { EXPECT_EQ(registry.OpenHandles(), 0u); }

    MemoryRegistry registry;
};

// ---- Failure table ---------------------------------------------------------

struct FailureCase {
    const char* what;
    std::string script;
    Status registerResult;
    Status unregisterResult;
};

TEST_F(ScriptInterpreter, FailureTable)
{
    const std::string longName(kMaxTokenLength + 1, 'k');
    const FailureCase cases[] = {
        {"unterminated quoted token", "HKCR { a = s 'text }", status::DispatchException, status::DispatchException},
        {"unquoted token too long", "HKCR { " + longName + " }", status::DispatchException, status::DispatchException},
        {"quoted token too long", "HKCR { '" + longName + "' }", status::DispatchException, status::DispatchException},
        {"text ends in a block", "HKCR { a", status::DispatchException, status::DispatchException},
        {"text ends after the root", "HKCR", status::DispatchException, status::DispatchException},
        {"text ends after a value type", "HKCR { a = s", status::DispatchException, status::DispatchException},
        {"unknown root", "HKEY_NOWHERE { a }", status::DispatchException, status::DispatchException},
        {"missing brace", "HKCR a { }", status::DispatchException, status::DispatchException},
        {"backslash in key name", "HKCR { a\\b }", status::DispatchException, status::DispatchException},
        {"Val without =", "HKCR { val x s 'y' }", status::DispatchException, status::DispatchException},
        {"unknown type", "HKCR { a = q 'y' }", status::DispatchException, status::Ok},
        {"odd hex digits", "HKCR { a = b '123' }", status::Failed, status::Ok},
        {"D that is no decimal number", "HKCR { a = d '12x' }", status::DispatchException, status::Ok},
        {"D beyond 32 bits", "HKCR { a = d '4294967296' }", status::DispatchException, status::Ok},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Register(c.script), c.registerResult) << c.what;
        EXPECT_EQ(Unregister(c.script), c.unregisterResult) << c.what;
        EXPECT_EQ(registry.Dump(), "") << c.what;
    }
}

TEST_F(ScriptInterpreter, TokensUpToTheLimitAreAccepted)
{
    const std::string name(kMaxTokenLength, 'k');
    EXPECT_EQ(Register("HKCR { '" + name + "' = s '" + name + "' }"), status::Ok);
    EXPECT_EQ(registry.ValueAt("HKCR\\" + name, "")->text, name);
}

TEST_F(ScriptInterpreter, KeyThatCannotBeCreatedIsDispatchException)
{
    registry.failCreate.insert("b");
    EXPECT_EQ(Register("HKCR { b }"), status::DispatchException);
}

TEST_F(ScriptInterpreter, KeyThatCannotBeClosedFailsUnregistrationAndStopsTheWalk)
{
    registry.AddKey("HKCR\\a");
    registry.AddKey("HKCR\\b");
    registry.failClose.insert("a");
    EXPECT_EQ(Unregister("HKCR { a b }"), status::DispatchException);
    EXPECT_EQ(registry.Dump(), "HKCR\\a\nHKCR\\b\n");
}

TEST_F(ScriptInterpreter, NestingDeeperThanTheLimitIsRefusedWithoutTrace)
{
    auto nested = [](int depth) {
        std::string text = "HKCR {";
        for (int i = 1; i < depth; ++i)
            text += " k {";
        for (int i = 0; i < depth; ++i)
            text += " }";
        return text;
    };
    EXPECT_EQ(Register(nested(kMaxBlockDepth)), status::Ok);
    EXPECT_EQ(Unregister(nested(kMaxBlockDepth)), status::Ok);
    EXPECT_EQ(registry.Dump(), "");
    EXPECT_EQ(Register(nested(kMaxBlockDepth + 1)), status::DispatchException);
    EXPECT_EQ(registry.Dump(), "");
    EXPECT_EQ(Unregister(nested(kMaxBlockDepth + 1)), status::DispatchException);
}

// ---- Tokens and structure ----------------------------------------------------

TEST_F(ScriptInterpreter, DoubledQuoteInAQuotedTokenStandsForOneQuote)
{
    ASSERT_EQ(Register("HKCR { 'o''brien' = s 'it''s ''x''' { val 'n''' = s '''' } }"), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\o'brien  @=s'it's 'x''  n'=s'''\n");
}

TEST_F(ScriptInterpreter, BracesAndEqualsAreTokensOnlyBetweenWhiteSpace)
{
    ASSERT_EQ(Register("HKCR\r\n{\tx=s 'v'\n}"), status::Ok);
    // "x=s" is a key name; 'v' is the next entry, a key of its own.
    EXPECT_EQ(registry.Dump(), "HKCR\\v\nHKCR\\x=s\n");
}

TEST_F(ScriptInterpreter, RootNamesInBothFormsRegardlessOfCase)
{
    ASSERT_EQ(Register("hkcu { a } HKEY_LOCAL_MACHINE { b } hKeY_uSeRs { c } HKCC { d }"), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCU\\a\nHKLM\\b\nHKU\\c\nHKCC\\d\n");
}

TEST_F(ScriptInterpreter, RootBlockNeedsOnlyATokenBeginningWithABrace)
{
    ASSERT_EQ(Register("HKCR {x a }y"), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\a\n");
}

// ---- Register mode -------------------------------------------------------------

TEST_F(ScriptInterpreter, WritesStringNumberAndBinaryValues)
{
    ASSERT_EQ(Register("HKCR { k = S 'def' { val n = D '4294967295' val z = d 0 val b = B '0aFf7G' val e = b '' } }"),
              status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\k  @=s'def'  b=b0aff70  e=b  n=d4294967295  z=d0\n");
}

TEST_F(ScriptInterpreter, OpensForFullAccessThenForReadingThenCreates)
{
    registry.AddKey("HKCR\\ro");
    registry.readOnly.insert("ro");
    ASSERT_EQ(Register("HKCR { ro = s 'ignored' new }"), status::Ok);
    EXPECT_EQ(registry.Calls(),
              (std::vector<std::string>{"open full ro", "open read ro", "open full new", "open read new", "create new"}));
    // The write to a key opened for reading fails, and that is not reported.
    EXPECT_EQ(registry.Dump(), "HKCR\\new\nHKCR\\ro\n");
}

TEST_F(ScriptInterpreter, ForceRemoveMakesTheKeyAnew)
{
    registry.AddString("HKCR\\k", "old", "1");
    registry.AddKey("HKCR\\k\\deep\\deeper");
    registry.AddKey("HKCR\\k\\other");
    ASSERT_EQ(Register("HKCR { ForceRemove k = s 'v' { sub } }"), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\k  @=s'v'\nHKCR\\k\\sub\n");
}

TEST_F(ScriptInterpreter, ForceRemoveAndDeleteSpareProtectedKeys)
{
    registry.AddKey("HKCR\\CLSID\\x");
    registry.AddKey("HKCR\\TypeLib\\y");
    ASSERT_EQ(Register("HKCR { ForceRemove clsid Delete TYPELIB }"), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\CLSID\nHKCR\\CLSID\\x\nHKCR\\TypeLib\nHKCR\\TypeLib\\y\n");
}

TEST_F(ScriptInterpreter, DeleteRemovesTheTreeAndSkipsItsAssignment)
{
    registry.AddKey("HKCR\\gone\\a\\b");
    registry.AddKey("HKCR\\gone\\c");
    ASSERT_EQ(Register("HKCR { Delete gone = s 'x' kept }"), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\kept\n");
}

TEST_F(ScriptInterpreter, DeletionStopsQuietlyAtAKeyThatCannotBeDeleted)
{
    registry.AddKey("HKCR\\k\\a");
    registry.AddKey("HKCR\\k\\stuck");
    registry.AddKey("HKCR\\k\\z");
    registry.readOnly.insert("stuck");
    ASSERT_EQ(Register("HKCR { ForceRemove k }"), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\k\nHKCR\\k\\stuck\nHKCR\\k\\z\n");
}

TEST_F(ScriptInterpreter, FailedRootBlockIsTakenBackAndTheRunStops)
{
    registry.failCreate.insert("fails");
    const char* script = "HKCR { a = s 'x' { b } } HKCU { c { d } e { fails } g } HKLM { h }";
    EXPECT_EQ(Register(script), status::DispatchException);
    // The first block stays; the failing one leaves nothing; the last never ran.
    EXPECT_EQ(registry.Dump(), "HKCR\\a  @=s'x'\nHKCR\\a\\b\n");
}

// Keys that were there before the failed block, such as a ProgID and the
// CLSID key shared with the other bitness's registration, keep their rows.
TEST_F(ScriptInterpreter, RollbackLeavesKeysThatExistedBefore)
{
    registry.AddString("HKCR\\Orb.Obj", "", "Orb Object");
    registry.AddString("HKCR\\Orb.Obj\\CLSID", "", "{1}");
    registry.AddString("HKCR\\CLSID\\{0}", "", "Other");
    registry.AddString("HKCR\\CLSID\\{1}", "", "Orb");
    registry.AddString("HKCR\\CLSID\\{1}\\ProgID", "", "Orb.Obj");
    registry.failCreate.insert("fails");
    const std::string before = registry.Dump();
    EXPECT_EQ(Register("HKCR { Orb.Obj = s 'Orb Object' { CLSID = s '{1}' } "
                       "NoRemove CLSID { {1} = s 'Orb' { ProgID = s 'Orb.Obj' InprocServer32 = s 'x' { fails } } } }"),
              status::DispatchException);
    EXPECT_EQ(registry.Dump(), before);
}

TEST_F(ScriptInterpreter, RollbackAlsoFollowsAFailedValue)
{
    EXPECT_EQ(Register("HKCR { a { b = b '1' } }"), status::Failed);
    EXPECT_EQ(registry.Dump(), "");
}

// ---- Unregister mode ---------------------------------------------------------------

TEST_F(ScriptInterpreter, UnregisterDeletesOnlyKeysWithoutSubkeys)
{
    registry.AddKey("HKCR\\a\\b");
    registry.AddKey("HKCR\\a\\foreign");
    registry.AddString("HKCR\\a\\b", "n", "v");
    ASSERT_EQ(Unregister("HKCR { a = s 'x' { b { val n = s 'v' } } }"), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\a\nHKCR\\a\\foreign\n");
}

TEST_F(ScriptInterpreter, UnregisterDeletesNamedValuesOfKeysThatStay)
{
    registry.AddString("HKCR\\k", "n", "v");
    registry.AddString("HKCR\\k", "m", "w");
    ASSERT_EQ(Unregister("HKCR { NoRemove k { val n = s 'v' } }"), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\k  m=s'w'\n");
}

TEST_F(ScriptInterpreter, NoRemoveHoldsToTheEndOfItsBlock)
{
    for (const char* key : {"HKCR\\p\\a", "HKCR\\p\\b", "HKCR\\p\\c", "HKCR\\p\\b\\inner", "HKCR\\q"})
        registry.AddKey(key);
    ASSERT_EQ(Unregister("HKCR { p { a NoRemove b { inner } c } q }"), status::Ok);
    // a goes; b and c stay; inner lies in a new block and goes; p keeps subkeys; q goes.
    EXPECT_EQ(registry.Dump(), "HKCR\\p\nHKCR\\p\\b\nHKCR\\p\\c\n");
}

TEST_F(ScriptInterpreter, NoRemoveFirstInABlockKeepsTheWholeBlock)
{
    for (const char* key : {"HKCR\\p\\a", "HKCR\\p\\b", "HKCR\\p\\c"})
        registry.AddKey(key);
    ASSERT_EQ(Unregister("HKCR { p { NoRemove a b c } }"), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\p\nHKCR\\p\\a\nHKCR\\p\\b\nHKCR\\p\\c\n");
}

TEST_F(ScriptInterpreter, AbsentKeyBlockIsWalkedWithoutTouchingTheRegistry)
{
    registry.AddKey("HKCR\\later");
    ASSERT_EQ(Unregister("HKCR { gone = s 'x' { inner { val v = s 'y' } } later }"), status::Ok);
    EXPECT_EQ(registry.Calls(), (std::vector<std::string>{"open full gone", "open read gone", "open full later"}));
    EXPECT_EQ(registry.Dump(), "");
    // The syntax is still checked in the absent block.
    EXPECT_EQ(Unregister("HKCR { gone { a\\b } }"), status::DispatchException);
}

TEST_F(ScriptInterpreter, ForceRemoveAndDeleteArePlainKeysWhenUnregistering)
{
    registry.AddKey("HKCR\\f\\kept");
    registry.AddKey("HKCR\\d");
    ASSERT_EQ(Unregister("HKCR { ForceRemove f { } Delete d = s 'x' }"), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\f\nHKCR\\f\\kept\n");
}

// ---- Through the preprocessor ------------------------------------------------------

TEST_F(ScriptInterpreter, PreprocessingFailuresStopTheRunBeforeAnyWrite)
{
    ReplacementMap map;
    map.Add("Module", u"m");
    const testing::SingleByteCodePage codePage;
    auto apply = [&](std::string_view text) {
        return ApplyRegistrationScript(text, ScriptMode::Register, map, codePage, registry);
    };
    EXPECT_EQ(apply("HKCR { a = s '%" + std::string(32, 'x') + "%' }"), status::Failed);
    EXPECT_EQ(apply("HKCR { a = s '%unknown%' }"), status::DispatchException);
    EXPECT_EQ(apply("HKCR { a = s '%module' }"), status::DispatchException);
    EXPECT_EQ(registry.Dump(), "");
    static const char withZero[] = "HKCR { a = s '%MODULE%' }\0garbage";
    EXPECT_EQ(apply(std::string_view(withZero, sizeof withZero - 1)), status::Ok);
    EXPECT_EQ(registry.Dump(), "HKCR\\a  @=s'm'\n");
}

}  // namespace
}  // namespace orbalin
