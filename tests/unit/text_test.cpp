// The analyzer's text conversions: FAT names in code page 437 come out as
// valid UTF-8 and valid JSON strings.
#include <gtest/gtest.h>

#include "cli/text.h"

namespace {

TEST(Text, MapsCodePage437AndQuotesJson)
{
    const struct {
        const char *fat;
        const char *utf8;
        const char *json;
    } cases[] = {
        {"V:\\GAMES\\SAVE.DAT", "V:\\GAMES\\SAVE.DAT", "\"V:\\\\GAMES\\\\SAVE.DAT\""},
        {"\x80" "A\x9A", "\xC3\x87" "A\xC3\x9C", "\"\xC3\x87" "A\xC3\x9C\""},          // Ç A Ü
        {"\xE1\xFF", "\xC3\x9F\xC2\xA0", "\"\xC3\x9F\xC2\xA0\""},                     // ß, no-break space
        {"\x9E\xB0", "\xE2\x82\xA7\xE2\x96\x91", "\"\xE2\x82\xA7\xE2\x96\x91\""},     // three-byte forms
        {"A\"B\x01", "A\"B\x01", "\"A\\\"B\\u0001\""},
        {"", "", "\"\""},
    };
    for (const auto &test : cases) {
        EXPECT_EQ(Cp437ToUtf8(test.fat), test.utf8) << test.fat;
        EXPECT_EQ(JsonString(test.fat), test.json) << test.fat;
    }
}

}  // namespace
