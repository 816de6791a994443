// Names from the volume as UTF-8, paths in the platform's form, and JSON
// string quoting.
#include "cli/text.h"

#include <cstdio>
#include <cstring>

#include "engine/codepage.h"

std::string OemToUtf8(const char *text)
{
    std::string out;
    AppendOemText(out, (const BYTE *)text, strlen(text));
    return out;
}

std::string PlatformPath(const std::string &longPath, const char *drive)
{
#ifdef _WIN32
    std::string path = drive;
    for (const char c : longPath)
        path += c == '/' ? '\\' : c;
    return path;
#else
    (void)drive;
    return longPath;
#endif
}

namespace {

// The length of the valid UTF-8 sequence at `text` (1 to 4 bytes), or 0 when
// it is not one: a stray continuation byte, an overlong form, a surrogate, a
// code point past U+10FFFF or a sequence cut short.
size_t Utf8Length(const unsigned char *text, size_t left)
{
    const unsigned char lead = text[0];
    if (lead < 0x80)
        return 1;
    size_t length;
    unsigned code;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07;
    } else {
        return 0;
    }
    if (length > left)
        return 0;
    for (size_t i = 1; i < length; i++) {
        if ((text[i] & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (text[i] & 0x3F);
    }
    const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

}  // namespace

std::string JsonQuote(const std::string &text)
{
    std::string out = "\"";
    const unsigned char *bytes = (const unsigned char *)text.data();
    for (size_t at = 0; at < text.size();) {
        const unsigned char byte = bytes[at];
        const size_t length = Utf8Length(bytes + at, text.size() - at);
        if (length == 0) {
            out += "\xEF\xBF\xBD";   // U+FFFD
            at++;
            continue;
        }
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += (char)byte;
        } else if (byte < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out + "\"";
}

