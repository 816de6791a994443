// Text conversions for the analyzer's output: names from the volume printed
// as UTF-8, paths in the platform's own form, strings quoted for JSON.
#pragma once

#include <string>

// Bytes of short names and engine texts (code page ShortNameCodePage, 850 or
// 437) as UTF-8. Control characters are kept.
std::string OemToUtf8(const char *text);

// A long path as the walk builds it ("/Long Dir/File name.txt", UTF-8) in the
// form the platform's own tools print: the same on Linux, and with the drive
// and backslashes on Windows ("E:\Long Dir\File name.txt"). Every path the
// analyzer prints goes through here.
std::string PlatformPath(const std::string &longPath, const char *drive);

// UTF-8 `text` as a quoted JSON string: quotes, backslashes and control
// characters escaped, and each byte that is not part of a valid UTF-8
// sequence (a path given in another encoding) replaced by U+FFFD, so that
// the document is always valid UTF-8.
std::string JsonQuote(const std::string &text);
