// A streaming JSON writer for the analyzer's documents: members and elements
// are written as they come, commas and indentation placed by the writer.
// A block container puts each member on a line of its own, indented two
// spaces per level; an inline one keeps its members on one line, separated by
// ", " (and so does everything inside it). Strings are UTF-8, escaped.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class JsonWriter {
public:
    enum Layout { Block, Inline };

    // Writes to `out`; the outermost container's end also ends the line.
    explicit JsonWriter(FILE *out) : out_(out) {}
    JsonWriter(const JsonWriter &) = delete;
    JsonWriter &operator=(const JsonWriter &) = delete;

    // The name of the next member, inside an object.
    JsonWriter &Key(const char *name);

    void BeginObject(Layout layout = Inline);
    void EndObject();
    void BeginArray(Layout layout = Inline);
    void EndArray();

    void String(const std::string &utf8);
    // A string of short names' bytes (code page 850 or 437), or an engine text.
    void Oem(const char *text);
    void Number(unsigned long long value);
    // `hundredths` / 100 with two decimals: 1234 as 12.34.
    void Hundredths(unsigned long long hundredths);
    void Bool(bool value);
    void Null();

private:
    struct Level {
        bool block;
        bool empty;
    };
    // Separates the value about to be written from the one before it.
    void Separate();
    void Begin(char bracket, Layout layout);
    void End(char bracket);

    FILE *out_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};
