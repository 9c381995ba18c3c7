#include "tool/report/utf8_text.h"

#include <gtest/gtest.h>

#if __has_include(<iconv.h>)
#include <iconv.h>
#define HAVE_ICONV 1
#endif

namespace quillon::report {
namespace {

#ifdef HAVE_ICONV
// The system's own converter is the reference where it has one.
std::string IconvFrom1251(std::string_view text)
{
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in(text);
    std::string out(text.size() * 4, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    EXPECT_NE(done, static_cast<std::size_t>(-1));
    out.resize(out.size() - outLeft);
    return out;
}

TEST(Utf8From1251, EveryAssignedByteAgreesWithIconv)
{
    for (int b = 1; b < 256; ++b) {
        if (b == 0x98)
            continue;   // unassigned in the code page
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(Utf8From1251(one), IconvFrom1251(one)) << "byte " << b;
    }
}
#endif

TEST(Utf8From1251, UnassignedByteAndWholeTexts)
{
    EXPECT_EQ(Utf8From1251("\x98"), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8From1251("(\xD5 \xEE\xF2\xF7\xE5\xF2) Z"), "(\xD0\xA5 \xD0\xBE\xD1\x82\xD1\x87\xD0\xB5\xD1\x82) Z");
    EXPECT_EQ(Utf8From1251(""), "");
}

}  // namespace
}  // namespace quillon::report
