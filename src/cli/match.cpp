// NAME matching: paths split into names, names decoded from UTF-8 and folded
// to capitals, then matched with '*' and '?' character by character.
#include "cli/match.h"

#include <vector>

namespace {

// The code points of UTF-8 `text`; a byte that starts no valid sequence
// stands for itself, so that every byte is matched somehow.
std::u32string Decode(const std::string &text)
{
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = (unsigned char)text[i];
        const size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                                : (lead & 0xF8) == 0xF0 ? 4 : 0;
        char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; k++) {
            const unsigned char next = (unsigned char)text[i + k];
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        out.push_back(valid ? code : lead);
        i += valid ? length : 1;
    }
    return out;
}

// Capital of `c` for the letters names on FAT volumes mostly use: Latin
// (ASCII, Latin-1 and Latin Extended-A), Greek and Cyrillic.
char32_t Fold(char32_t c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F))
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;
    if (c == 0x3C2)   // final sigma
        return 0x3A3;
    if (c >= 0x450 && c <= 0x45F)
        return c - 0x50;
    const bool oddLower = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool evenLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((oddLower && c % 2 == 1) || (evenLower && c % 2 == 0))
        return c - 1;
    return c;
}

std::u32string Folded(const std::string &text)
{
    std::u32string out = Decode(text);
    for (char32_t &c : out)
        c = Fold(c);
    return out;
}

// Glob match of one name: '*' any run of characters, '?' exactly one.
// Backtracks only to the last '*', so it takes time linear in the product
// of the lengths at worst.
bool Glob(const std::u32string &pattern, const std::u32string &name)
{
    size_t p = 0, n = 0, star = std::u32string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            p++;
            n++;
        } else if (p < pattern.size() && pattern[p] == U'*') {
            star = p++;
            resume = n;
        } else if (star != std::u32string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*')
        p++;
    return p == pattern.size();
}

std::vector<std::string> Names(const std::string &path)
{
    std::vector<std::string> names(1);
    for (char c : path) {
        if (c == '/')
            names.emplace_back();
        else
            names.back() += c;
    }
    return names;
}

bool NameMatches(const std::string &pattern, const std::string &longName, const std::string &shortName)
{
    const std::u32string folded = Folded(pattern);
    return Glob(folded, Folded(longName)) || Glob(folded, Folded(shortName));
}

}  // namespace

std::string RootRelative(const std::string &enginePath)
{
    std::string path = enginePath;
    if (path.size() >= 2 && path[1] == ':' && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z'))
        path.erase(0, 2);
    for (char &c : path)
        if (c == '\\')
            c = '/';
    const size_t first = path.find_first_not_of('/');
    return first == std::string::npos ? std::string() : path.substr(first);
}

bool IsPattern(const std::string &name)
{
    return name.find_first_of("*?") != std::string::npos;
}

bool MatchesName(const std::string &name, const std::string &longPath, const std::string &shortPath)
{
    const std::vector<std::string> longNames = Names(longPath), shortNames = Names(shortPath);
    if (longNames.size() != shortNames.size())
        return false;
    if (name.find_first_of("/\\") == std::string::npos)
        return !name.empty() && NameMatches(name, longNames.back(), shortNames.back());
    const std::vector<std::string> patterns = Names(RootRelative(name));
    if (patterns.size() != longNames.size())
        return false;
    for (size_t i = 0; i < patterns.size(); i++)
        if (!NameMatches(patterns[i], longNames[i], shortNames[i]))
            return false;
    return true;
}
