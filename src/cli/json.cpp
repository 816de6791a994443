// The streaming JSON writer.
#include "cli/json.h"

#include "cli/text.h"

void JsonWriter::Separate()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty())
        return;
    Level &level = levels_.back();
    if (!level.empty)
        fputc(',', out_);
    if (level.block)
        fprintf(out_, "\n%*s", (int)(2 * levels_.size()), "");
    else if (!level.empty)
        fputc(' ', out_);
    level.empty = false;
}

JsonWriter &JsonWriter::Key(const char *name)
{
    Separate();
    fprintf(out_, "%s: ", JsonQuote(name).c_str());
    afterKey_ = true;
    return *this;
}

void JsonWriter::Begin(char bracket, Layout layout)
{
    Separate();
    fputc(bracket, out_);
    // Inside an inline container everything stays on the line.
    const bool block = layout == Block && (levels_.empty() || levels_.back().block);
    levels_.push_back({block, true});
}

void JsonWriter::End(char bracket)
{
    const Level level = levels_.back();
    levels_.pop_back();
    if (level.block && !level.empty)
        fprintf(out_, "\n%*s", (int)(2 * levels_.size()), "");
    fputc(bracket, out_);
    if (levels_.empty())
        fputc('\n', out_);
}

void JsonWriter::BeginObject(Layout layout)
{
    Begin('{', layout);
}

void JsonWriter::EndObject()
{
    End('}');
}

void JsonWriter::BeginArray(Layout layout)
{
    Begin('[', layout);
}

void JsonWriter::EndArray()
{
    End(']');
}

void JsonWriter::String(const std::string &utf8)
{
    Separate();
    fputs(JsonQuote(utf8).c_str(), out_);
}

void JsonWriter::Oem(const char *text)
{
    Separate();
    fputs(JsonQuote(OemToUtf8(text)).c_str(), out_);
}

void JsonWriter::Number(unsigned long long value)
{
    Separate();
    fprintf(out_, "%llu", value);
}

void JsonWriter::Hundredths(unsigned long long hundredths)
{
    Separate();
    fprintf(out_, "%llu.%02llu", hundredths / 100, hundredths % 100);
}

void JsonWriter::Bool(bool value)
{
    Separate();
    fputs(value ? "true" : "false", out_);
}

void JsonWriter::Null()
{
    Separate();
    fputs("null", out_);
}
