// The analyzer's report of one analysis: the values of the results panel as
// labelled lines or as one JSON object, and the optional list of files.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

struct MeasuredFile {
    DWORD extents;
    DWORD clusters;
    DWORD size;
    std::string path;   // code page 437, as the program builds it
};

struct Analysis {
    bool completed;                       // the walk ended normally
    std::vector<std::string> messages;    // every message shown, in order
    bool listFiles;                       // --files or --fragmented
    bool onlyFragmented;                  // --fragmented: files in more than one extent
    std::vector<MeasuredFile> files;      // in the order they were measured
};

// Writes the report from the statistics of the finished analysis.
void PrintText(const Analysis &analysis);
void PrintJson(const Analysis &analysis);
