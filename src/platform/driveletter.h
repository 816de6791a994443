// Drive letters as the system names them: "X:" for a drive, "\\.\X:" for its
// raw volume. The one parser of both, for the host layer and the analyzer.
#pragma once

// The upper-case letter of `c` when it is a letter A-Z (either case), or 0.
inline char DriveLetterOf(char c)
{
    const char upper = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
    return upper >= 'A' && upper <= 'Z' ? upper : 0;
}

// The upper-case letter of a drive name, exactly a letter and a colon ("e:"),
// or 0 for anything else.
inline char DriveLetter(const char *name)
{
    if (name == nullptr || name[0] == 0 || name[1] != ':' || name[2] != 0)
        return 0;
    return DriveLetterOf(name[0]);
}

// The upper-case letter of a raw volume's name ("\\.\E:"), or 0.
inline char DeviceDriveLetter(const char *name)
{
    if (name == nullptr || name[0] != '\\' || name[1] != '\\' || name[2] != '.' || name[3] != '\\')
        return 0;
    return DriveLetter(name + 4);
}
