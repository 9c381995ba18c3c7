#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "server/protocol/detector_protocol.h"

namespace orbalin {
namespace {

std::string PrintfFixed(double value)
{
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%f", value);
    return buffer;
}

SaleLine Line(std::int32_t device, std::string code, std::string name, double quantity, double price)
{
    return SaleLine{device, std::move(code), std::move(name), quantity, price};
}

TEST(CommandText, NewObjectGivesEmptyTextFieldsAndZeroAmounts)
{
    EXPECT_EQ(CommandText(5, SaleLine{}), "5|0|||0.000000|0.000000");
}

TEST(CommandText, PutsQuantityBeforePrice)
{
    EXPECT_EQ(CommandText(5, Line(1, "A1", "Bread", 2, 0.99)), "5|1|A1|Bread|2.000000|0.990000");
}

TEST(CommandText, RendersSixRoundedDecimals)
{
    EXPECT_EQ(FixedSixDecimals(-1.5), "-1.500000");
    EXPECT_EQ(FixedSixDecimals(12.345), "12.345000");
    EXPECT_EQ(FixedSixDecimals(0.0000001), "0.000000");
    EXPECT_EQ(FixedSixDecimals(0.0000005000001), "0.000001");
    EXPECT_EQ(FixedSixDecimals(1e20), "100000000000000000000.000000");
    EXPECT_EQ(FixedSixDecimals(-0.0), "-0.000000");
}

TEST(CommandText, SignedIntegerFieldsCoverTheirWholeRange)
{
    EXPECT_EQ(CommandText(-1, SaleLine{}).substr(0, 3), "-1|");
    EXPECT_EQ(CommandText(-32768, Line(std::numeric_limits<std::int32_t>::min(), "", "", 0, 0)),
              "-32768|-2147483648|||0.000000|0.000000");
    EXPECT_EQ(CommandText(32767, Line(std::numeric_limits<std::int32_t>::max(), "", "", 0, 0)),
              "32767|2147483647|||0.000000|0.000000");
}

TEST(CommandText, WritesSeparatorsInsideTextsUnescaped)
{
    EXPECT_EQ(CommandText(3, Line(7, "X|Y", "a|b|c", 1, 1)), "3|7|X|Y|a|b|c|1.000000|1.000000");
}

TEST(CommandText, KeepsEightBitTextUnchanged)
{
    // "Хляб" in Windows-1251
    const std::string bread = "\xD5\xEB\xFF\xE1";
    EXPECT_EQ(CommandText(1, Line(0, "\xC0\x31", bread, 0, 0)), "1|0|\xC0\x31|" + bread + "|0.000000|0.000000");
}

TEST(CommandText, HugeAmountsKeepEveryIntegerDigit)
{
    const std::string text = CommandText(1, Line(0, "", "", DBL_MAX, -DBL_MAX));
    EXPECT_EQ(text, "1|0|||" + PrintfFixed(DBL_MAX) + "|" + PrintfFixed(-DBL_MAX));
    EXPECT_EQ(PrintfFixed(DBL_MAX).size(), 309u + 7u);
}

TEST(CommandText, InfinityAndNanHaveFixedSpellings)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(FixedSixDecimals(inf), "inf");
    EXPECT_EQ(FixedSixDecimals(-inf), "-inf");
    EXPECT_EQ(FixedSixDecimals(std::nan("")), "nan");
    EXPECT_EQ(FixedSixDecimals(-std::nan("")), "nan");
    EXPECT_EQ(CommandText(2, Line(0, "", "", inf, std::nan(""))), "2|0|||inf|nan");
}

// The reference is the C library's "%f" in the C locale, rounding included.
TEST(CommandText, FixedFormMatchesPrintfForManyValues)
{
    ASSERT_NE(std::setlocale(LC_NUMERIC, "C"), nullptr);
    const double ties[] = {0.0078125, 0.0000005, 0.0000015, 0.0000025, 2.5e-7, 1.0000005, 0.1234565, 1e15 + 0.5,
                           0.99, 0.1, 123456.7890125, 4503599627370495.5, 1e-300, 5e-324};
    for (double value : ties) {
        EXPECT_EQ(FixedSixDecimals(value), PrintfFixed(value)) << value;
        EXPECT_EQ(FixedSixDecimals(-value), PrintfFixed(-value)) << value;
    }

    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> exponent(-12.0, 22.0);
    std::uniform_int_distribution<long long> cents(-10'000'000'000LL, 10'000'000'000LL);
    for (int i = 0; i < 200'000; ++i) {
        const double scaled = std::pow(10.0, exponent(random)) * (i % 2 ? 1.0 : -1.0);
        ASSERT_EQ(FixedSixDecimals(scaled), PrintfFixed(scaled)) << scaled;
        const double money = static_cast<double>(cents(random)) / 1000.0;
        ASSERT_EQ(FixedSixDecimals(money), PrintfFixed(money)) << money;
    }
    for (int i = 0; i < 100'000; ++i) {
        double any;
        std::uint64_t bits = random();
        static_assert(sizeof any == sizeof bits);
        std::memcpy(&any, &bits, sizeof any);
        if (std::isfinite(any)) {
            ASSERT_EQ(FixedSixDecimals(any), PrintfFixed(any)) << bits;
        }
    }
}

TEST(CommandText, DecimalPointIgnoresTheLocale)
{
    const char* locale = nullptr;
    for (const char* name : {"bg_BG.UTF-8", "bg_BG.utf8", "Bulgarian_Bulgaria.1251", "German_Germany.1252"}) {
        if ((locale = std::setlocale(LC_NUMERIC, name)) != nullptr)
            break;
    }
    if (locale == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma";
    const std::string localised = PrintfFixed(0.99);
    const std::string text = CommandText(5, Line(1, "A1", "Bread", 2, 0.99));
    std::setlocale(LC_NUMERIC, "C");
    ASSERT_EQ(localised, "0,990000");
    EXPECT_EQ(text, "5|1|A1|Bread|2.000000|0.990000");
}

TEST(StatusTitle, WritesTheNumberInDecimal)
{
    EXPECT_EQ(StatusTitle(0), "FPStatus=0");
    EXPECT_EQ(StatusTitle(7), "FPStatus=7");
    EXPECT_EQ(StatusTitle(255), "FPStatus=255");
}

}  // namespace
}  // namespace orbalin
