// The drive list's lines: 35 characters for every FAT label, the file-system
// column at character 31, "No label" for an empty label.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/driveline.h"

namespace {

TEST(DriveLine, PadsTheLabelColumnToThirtyCharacters)
{
    const struct {
        char letter;
        const char *label;
        const char *line;
    } cases[] = {
        {'D', "DATA", "D:  [DATA]                    [FAT]"},
        {'C', "", "C:  [No label]                [FAT]"},
        {'Z', "ELEVENCHARS", "Z:  [ELEVENCHARS]             [FAT]"},
        // Longer than a FAT label can be: still one space before the name.
        {'E', "A LABEL OF TWENTY-SIX CHAR", "E:  [A LABEL OF TWENTY-SIX CHAR] [FAT]"},
    };
    for (const auto &test : cases) {
        char line[DRIVE_LINE_SIZE];
        BuildDriveLine(line, test.letter, test.label, "FAT");
        EXPECT_EQ(std::string(line), test.line);
    }
    char line[DRIVE_LINE_SIZE];
    BuildDriveLine(line, 'G', "X", "FAT");
    EXPECT_EQ(strlen(line), 35u);
    EXPECT_EQ(line[30], '[');
}

}  // namespace
