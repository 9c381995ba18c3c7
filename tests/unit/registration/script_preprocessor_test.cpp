#include "server/registration/script_preprocessor.h"

#include <gtest/gtest.h>

#include "test_code_pages.h"

namespace orbalin {
namespace {

using testing::DoubleByteCodePage;
using testing::SingleByteCodePage;

struct Preprocessed {
    Status status;
    std::string text;
};

Preprocessed Preprocess(std::string_view text, const CodePage& codePage = SingleByteCodePage())
{
    ReplacementMap map;
    map.Add("Module", u"C:\\o''brien\\x.dll");
    map.Add("Other", u"\u00e9t\u00e9");
    // FULLWIDTH LATIN CAPITAL LETTER L, which a best-fit conversion would
    // turn into "L" and so into another folder.
    map.Add("Wide", u"C:\\t\\\uFF2Corvane\\x.dll");
    Preprocessed result;
    result.status = PreprocessScript(text, map, codePage, result.text);
    return result;
}

TEST(ScriptPreprocessor, ReplacesNamesRegardlessOfCaseAndConvertsToTheCodePage)
{
    const auto result = Preprocess("a '%MODULE%' b %module% %Other%");
    ASSERT_EQ(result.status, status::Ok);
    EXPECT_EQ(result.text, "a 'C:\\o''brien\\x.dll' b C:\\o''brien\\x.dll \xE9t\xE9");
}

TEST(ScriptPreprocessor, ValueTheCodePageCannotCarryExactlyIsRefused)
{
    EXPECT_EQ(Preprocess("a '%Wide%'").status, status::NoUnicodeTranslation);
    EXPECT_EQ(Preprocess("a '%Wide%'", DoubleByteCodePage()).status, status::NoUnicodeTranslation);
}

TEST(ScriptPreprocessor, DoublePercentGivesOnePercent)
{
    const auto result = Preprocess("100%% %%Module%% %%%Module%");
    ASSERT_EQ(result.status, status::Ok);
    EXPECT_EQ(result.text, "100% %Module% %C:\\o''brien\\x.dll");
}

TEST(ScriptPreprocessor, NameOf32BytesOrMoreFails)
{
    EXPECT_EQ(Preprocess("%" + std::string(31, 'n') + "%").status, status::DispatchException);   // unknown, not too long
    EXPECT_EQ(Preprocess("%" + std::string(32, 'n') + "%").status, status::Failed);
    EXPECT_EQ(Preprocess("%" + std::string(40, 'n')).status, status::Failed);   // too long before it is found unclosed
}

TEST(ScriptPreprocessor, UnknownNameAndUnclosedPercentAreDispatchExceptions)
{
    EXPECT_EQ(Preprocess("x %Modul% y").status, status::DispatchException);
    EXPECT_EQ(Preprocess("x %Module").status, status::DispatchException);
    EXPECT_EQ(Preprocess("x %").status, status::DispatchException);
    EXPECT_EQ(Preprocess("x %% %").status, status::DispatchException);
}

TEST(ScriptPreprocessor, GrowsBeyondTwiceTheInput)
{
    // Each 8-byte reference becomes 17 bytes: more than the first buffer holds.
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += "%Module%";
    const auto result = Preprocess(text);
    ASSERT_EQ(result.status, status::Ok);
    ASSERT_EQ(result.text.size(), 500u * 17u);
    EXPECT_EQ(result.text.substr(17 * 499), "C:\\o''brien\\x.dll");
}

TEST(ScriptPreprocessor, TwoByteCharacterIsCopiedWholeSoItsTrailByteIsNoPercent)
{
    const std::string text = "a \x81% b \xE0%%Module%";
    const auto doubleByte = Preprocess(text, DoubleByteCodePage());
    ASSERT_EQ(doubleByte.status, status::Ok);
    EXPECT_EQ(doubleByte.text, "a \x81% b \xE0%C:\\o''brien\\x.dll");

    // In a single-byte code page the same bytes hold an unknown name.
    EXPECT_EQ(Preprocess(text).status, status::DispatchException);
}

TEST(ScriptPreprocessor, LeadByteAtTheEndIsCopiedAlone)
{
    const auto result = Preprocess("ab\x81", DoubleByteCodePage());
    ASSERT_EQ(result.status, status::Ok);
    EXPECT_EQ(result.text, "ab\x81");
}

}  // namespace
}  // namespace orbalin
