// --check's NAMEs, matched as Windows matches names: without regard to case,
// with '/' or '\' between names, each name of a path long or short, and the
// wildcards '*' (any characters, none included) and '?' (one character).
// A NAME without a separator matches a file's name in every directory; one
// with a separator matches the whole path from the root, name by name (a
// leading drive "X:" and separator are optional, a wildcard never spans a
// separator).
#pragma once

#include <string>

// A path as the matcher reads it: names separated by '/', from the root,
// without a leading separator or a drive ("Dir/File name.txt").
// `enginePath` is a path as the walk builds it, long ("/Dir/File name.txt",
// UTF-8) or short ("V:\DIR\FILENA~1.TXT", converted to UTF-8).
std::string RootRelative(const std::string &enginePath);

// True when `name` (a NAME of the command line, UTF-8) names the file or
// directory whose paths, long and short (RootRelative forms of the same
// item, with as many names), are `longPath` and `shortPath`.
bool MatchesName(const std::string &name, const std::string &longPath, const std::string &shortPath);

// True when `name` holds a wildcard.
bool IsPattern(const std::string &name);
