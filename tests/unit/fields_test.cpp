// The results panel's field texts: the 41-character path field, numbers as
// the signed low 32 bits of their value, and the average with two decimals
// in wrapping 32-bit arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "display/fields.h"

namespace {

TEST(Fields, PathFieldKeepsTheLast41CharactersOrPadsWithSpaces)
{
    const std::string fifty = "C:\\0123456789\\abcdefghijklmnopqrstuvwxyz\\ABCDEFGHI";
    ASSERT_EQ(fifty.size(), 50u);
    const std::string exact(fifty.end() - 41, fifty.end());
    const struct {
        std::string text, field;
    } cases[] = {
        {fifty, exact},
        {exact, exact},
        {"C:\\ten.txt", "C:\\ten.txt" + std::string(31, ' ')},
        {"", std::string(41, ' ')},
    };
    for (const auto &test : cases) {
        char field[PATH_FIELD + 1];
        field[PATH_FIELD] = '#';
        PathField(test.text.c_str(), field);
        EXPECT_EQ(std::string(field, PATH_FIELD), test.field) << test.text;
        EXPECT_EQ(field[PATH_FIELD], '#') << test.text << ": written beyond the field";
    }
}

TEST(Fields, NumberFieldPrintsTheSignedLow32Bits)
{
    const struct {
        ULONGLONG value;
        const char *text;
    } cases[] = {
        {0, "      0"},
        {1440, "   1440"},
        {0x100000005ull, "      5"},
        {0xFFFFFFFFull, "     -1"},
        {0x80000000ull, "-2147483648"},
        {12345678, "12345678"},
    };
    for (const auto &test : cases) {
        char buffer[32];
        EXPECT_EQ(NumberField(buffer, test.value), (int)strlen(test.text)) << test.text;
        EXPECT_STREQ(buffer, test.text);
    }
}

TEST(Fields, AverageFieldHasTwoDecimalsAndWraps)
{
    const struct {
        DWORD extents, files;
        const char *text;
    } cases[] = {
        {5, 4, "   1.25"},
        {3, 2, "   1.50"},
        {1, 3, "   0.33"},
        {7, 7, "   1.00"},
        {50000000, 1, "7050327.04"},         // 5e9 hundredths wrap to 705032704
        {0xFFFFFFFF, 1, "  -1.00"},          // -100 hundredths
        {0x20000000, 0xFFFFFFFF, "-21474836.-48"},   // INT_MIN / -1 stays defined
    };
    for (const auto &test : cases) {
        char buffer[32];
        EXPECT_EQ(AverageField(buffer, test.extents, test.files), (int)strlen(test.text)) << test.text;
        EXPECT_STREQ(buffer, test.text);
    }
}

}  // namespace
