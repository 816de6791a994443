// vantrel-scan's command line: the options, read with getopt_long (short
// forms, unique abbreviations of the long ones, options after PATH), and the
// texts of --help, --version and the usage line.
#pragma once

#include <string>
#include <vector>

struct Options {
    bool json = false;             // -j, --json
    bool listFiles = false;        // -f, --files, or --fragmented
    bool onlyFragmented = false;   // --fragmented: files in more than one extent
    bool throttle = false;         // --throttle: the window's pause per file
    bool listPartitions = false;   // --list-partitions
    bool help = false;             // -h, --help
    bool version = false;          // -V, --version
    char letter = 'V';             // --drive X:
    unsigned codePage = 850;       // --codepage 437|850: short names' bytes 0x80-0xFF
    unsigned partition = 0;        // -p N, --partition N; 0 chooses the only FAT partition
    const char *path = nullptr;    // PATH
    std::string map;               // --map FILE
    bool svg = false;              // the map's FILE ends in .svg
    bool check = false;            // --check PATH NAME...
    std::vector<std::string> names;   // the NAMEs of --check
    unsigned long maxExtents = 0;  // --max-extents N: most extents a checked file may have (1 when not given)
    bool listRuns = false;         // --runs: each listed file's runs
    bool requireFlag = false;      // --require-flag: an exFAT file passes --check only with NoFatChain set
    bool fits = false;             // --fits SIZE
    unsigned long long fitsSize = 0;   // SIZE in bytes
};

// Reads the command line into `options`; the first fault, or "". Every option
// is read even after a fault, so that --json shapes the report of the fault.
std::string ParseOptions(int argc, char **argv, Options *options);

extern const char kUsage[];     // the usage line
extern const char kHelp[];      // what --help prints after the usage line
extern const char kVersion[];   // what --version prints
