// Code page 437 to UTF-8, and JSON string quoting.
#include "cli/text.h"

#include <cstdio>

namespace {

// Unicode code points of the bytes 0x80 to 0xFF in code page 437.
const unsigned short UpperHalf[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void AppendUtf8(std::string &out, unsigned code)
{
    if (code < 0x80) {
        out += (char)code;
    } else if (code < 0x800) {
        out += (char)(0xC0 | (code >> 6));
        out += (char)(0x80 | (code & 0x3F));
    } else {
        out += (char)(0xE0 | (code >> 12));
        out += (char)(0x80 | ((code >> 6) & 0x3F));
        out += (char)(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string Cp437ToUtf8(const char *text)
{
    std::string out;
    for (const unsigned char *byte = (const unsigned char *)text; *byte != 0; byte++)
        AppendUtf8(out, *byte < 0x80 ? *byte : UpperHalf[*byte - 0x80]);
    return out;
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

std::string JsonString(const char *text)
{
    return JsonQuote(Cp437ToUtf8(text));
}
