// The JSON writer: commas and layout placed by the writer for block and
// inline containers, and strings that are always valid, escaped UTF-8.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "cli/json.h"
#include "cli/text.h"

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
    // Code page 437 names go through the same quoting.
    EXPECT_EQ(Written([](JsonWriter &j) { j.Cp437("\x9E\"\x01"); }), "\"\xE2\x82\xA7\\\"\\u0001\"");
}

}  // namespace
