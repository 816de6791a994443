// The JSON writer: commas and layout placed by the writer for block and
// inline containers, and strings that are always valid, escaped UTF-8; the
// texts it is given: short names through their code page, long paths in the
// platform's form.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "cli/json.h"
#include "cli/text.h"
#include "engine/codepage.h"

namespace {

std::string Written(const std::function<void(JsonWriter &)> &write)
{
    FILE *file = tmpfile();
    {
        JsonWriter json(file);
        write(json);
    }
    std::string text(size_t(ftell(file)), '\0');
    rewind(file);
    text.resize(fread(&text[0], 1, text.size(), file));
    fclose(file);
    return text;
}

TEST(JsonWriter, PlacesCommasAndLines)
{
    const struct {
        const char *what;
        std::function<void(JsonWriter &)> write;
        const char *text;
    } cases[] = {
        {"empty block object", [](JsonWriter &j) { j.BeginObject(JsonWriter::Block); j.EndObject(); }, "{}\n"},
        {"members, one a line",
         [](JsonWriter &j) {
             j.BeginObject(JsonWriter::Block);
             j.Key("a").Number(1);
             j.Key("b").Hundredths(205);
             j.Key("c").Null();
             j.Key("d").Bool(false);
             j.EndObject();
         },
         "{\n  \"a\": 1,\n  \"b\": 2.05,\n  \"c\": null,\n  \"d\": false\n}\n"},
        {"inline inside block, block inside inline stays inline",
         [](JsonWriter &j) {
             j.BeginObject(JsonWriter::Block);
             j.Key("e").BeginObject();
             j.Key("k").String("x");
             j.Key("l").BeginArray(JsonWriter::Block);
             j.Number(1);
             j.Number(2);
             j.EndArray();
             j.EndObject();
             j.Key("m").BeginArray();
             j.EndArray();
             j.EndObject();
         },
         "{\n  \"e\": {\"k\": \"x\", \"l\": [1, 2]},\n  \"m\": []\n}\n"},
        {"block array of inline objects",
         [](JsonWriter &j) {
             j.BeginObject(JsonWriter::Block);
             j.Key("f").BeginArray(JsonWriter::Block);
             for (unsigned n : {7u, 8u}) {
                 j.BeginObject();
                 j.Key("n").Number(n);
                 j.EndObject();
             }
             j.EndArray();
             j.Key("g").BeginArray(JsonWriter::Block);
             j.EndArray();
             j.EndObject();
         },
         "{\n  \"f\": [\n    {\"n\": 7},\n    {\"n\": 8}\n  ],\n  \"g\": []\n}\n"},
        {"largest numbers", [](JsonWriter &j) { j.BeginArray(); j.Number(~0ull); j.Hundredths(7); j.EndArray(); },
         "[18446744073709551615, 0.07]\n"},
    };
    for (const auto &test : cases)
        EXPECT_EQ(Written(test.write), test.text) << test.what;
}

TEST(JsonWriter, QuotesValidUtf8)
{
    const struct {
        std::string text, quoted;
    } cases[] = {
        {"plain", "\"plain\""},
        {"q\"b\\\n\x1f", "\"q\\\"b\\\\\\u000a\\u001f\""},
        {std::string("nul\0.", 5), "\"nul\\u0000.\""},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},   // 2, 3, 4 bytes
        {"a\xE9z", "\"a\xEF\xBF\xBDz\""},                     // a Latin-1 byte
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},         // an overlong '/'
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},   // a surrogate
        {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},   // past U+10FFFF
        {"cut\xE2\x82", "\"cut\xEF\xBF\xBD\xEF\xBF\xBD\""},   // a sequence cut short
        {"\x80", "\"\xEF\xBF\xBD\""},                         // a stray continuation byte
    };
    for (const auto &test : cases)
        EXPECT_EQ(JsonQuote(test.text), test.quoted) << test.text;
}

// Short names' bytes through the code page chosen, quoted like any string.
TEST(Text, ReadsShortNamesInTheCodePageChosen)
{
    const struct {
        DWORD codePage;
        const char *bytes, *utf8;
    } cases[] = {
        {850, "V:\\GAMES\\SAVE.DAT", "V:\\GAMES\\SAVE.DAT"},
        {850, "\x80" "A\xFF", "\xC3\x87" "A\xC2\xA0"},               // both tables' first and last
        {850, "CAF\x90\x9D", "CAF\xC3\x89\xC3\x98"},                  // É, and Ø where 437 has ¥
        {437, "CAF\x90\x9D", "CAF\xC3\x89\xC2\xA5"},
        {437, "\x9E\xB0", "\xE2\x82\xA7\xE2\x96\x91"},                 // three-byte forms
        {850, "A\"B\x01", "A\"B\x01"},                                 // control characters are kept
    };
    for (const auto &test : cases) {
        ShortNameCodePage = test.codePage;
        EXPECT_EQ(OemToUtf8(test.bytes), test.utf8) << test.bytes;
        EXPECT_EQ(Written([&](JsonWriter &j) { j.Oem(test.bytes); }), JsonQuote(test.utf8));
    }
    ShortNameCodePage = 850;
}

// Long paths in the platform's own form: as they are on Linux, with the drive
// and backslashes on Windows.
TEST(Text, PrintsLongPathsInThePlatformsForm)
{
    const struct {
        const char *path, *posix, *windows;
    } cases[] = {
        {"/", "/", "E:\\"},
        {"/Very Long Directory Name/A Long File Name With Spaces.txt",
         "/Very Long Directory Name/A Long File Name With Spaces.txt",
         "E:\\Very Long Directory Name\\A Long File Name With Spaces.txt"},
        {"/\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt", "/\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt",
         "E:\\\xC3\xA9t\xC3\xA9\\\xE6\x97\xA5\xE6\x9C\xAC.txt"},
    };
    for (const auto &test : cases)
#ifdef _WIN32
        EXPECT_EQ(PlatformPath(test.path, "E:"), test.windows) << test.path;
#else
        EXPECT_EQ(PlatformPath(test.path, "E:"), test.posix) << test.path;
#endif
}

}  // namespace
