// The command line, read with getopt_long. getopt_long reports only that an
// option was wrong; the message says how, in the words GNU tools use, from
// the element getopt_long has just passed over.
#include "cli/options.h"

#include <cstring>
#include <getopt.h>
#include <vector>

#include "platform/driveletter.h"

const char kVersion[] = "vantrel-scan (Vantrel) " VANTREL_VERSION;
const char kUsage[] = "usage: vantrel-scan [OPTION]... PATH\n"
                      "       vantrel-scan --check [--max-extents=N] [OPTION]... PATH NAME...\n";
const char kHelp[] =
    "Measures how fragmented the files of a FAT12, FAT16 or FAT32 volume are.\n"
    "PATH is an image file, a block device or a disk image with an MBR or GPT\n"
    "partition table (on Windows also a drive such as E:); it is only read.\n"
    "\n"
    "  -j, --json              print one JSON object instead of labelled lines\n"
    "  -f, --files             list every measured file: extents, clusters, size, long path\n"
    "      --fragmented        list only the files in more than one extent\n"
    "      --list-partitions   list the partitions of a disk image and exit\n"
    "  -p, --partition=N       analyse partition N of a disk image\n"
    "      --drive=X:          the drive letter the volume is mapped to (default V:)\n"
    "      --codepage=CP       read short names' bytes as code page 850 (default) or 437\n"
    "      --throttle          pause 50 ms per file, as the window does\n"
#ifdef VANTREL_MAP
    "      --map=FILE          draw the volume's clusters by state into FILE.png or FILE.svg\n"
#else
    "      --map=FILE          (drawn by the host build only; this build exits 2)\n"
#endif
    "      --check             check the files that the NAMEs after PATH name: a path\n"
    "                          in the volume or a pattern with * and ? ('*.hda',\n"
    "                          '/GAMES/*.iso'), long or short names, any case\n"
    "      --max-extents=N     the most extents a checked file may have (default 1)\n"
    "      --require-flag      on exFAT, a checked file passes only when its NoFatChain\n"
    "                          flag is set too\n"
    "      --runs              list each listed file's runs (first cluster+clusters)\n"
    "      --fits=SIZE         whether a file of SIZE bytes (suffix k, M or G for\n"
    "                          KiB, MiB, GiB) fits in one free extent\n"
    "  -h, --help              show this help and exit\n"
    "  -V, --version           show the version and exit\n"
    "\n"
    "Long options may be abbreviated to any unique prefix (--frag).\n"
    "\n"
    "Exit status: 0 when the analysis completed, 1 when it ended on an error\n"
    "(or its output could not be written), 2 for a usage error or a volume that\n"
    "cannot be opened or prepared, 3 when a checked file has more extents than\n"
    "allowed or SIZE does not fit, 4 when a NAME names no measured file.\n";

namespace {

// The options without a short form.
enum { FRAGMENTED = 256, LIST_PARTITIONS, DRIVE, THROTTLE, MAP, CHECK, MAX_EXTENTS, RUNS, FITS, CODEPAGE, REQUIRE_FLAG };

const char kShortOptions[] = ":hVjfp:";   // ':' first: a missing argument returns ':'
const option kLongOptions[] = {
    {"json", no_argument, nullptr, 'j'},
    {"files", no_argument, nullptr, 'f'},
    {"fragmented", no_argument, nullptr, FRAGMENTED},
    {"list-partitions", no_argument, nullptr, LIST_PARTITIONS},
    {"partition", required_argument, nullptr, 'p'},
    {"drive", required_argument, nullptr, DRIVE},
    {"throttle", no_argument, nullptr, THROTTLE},
    {"map", required_argument, nullptr, MAP},
    {"check", no_argument, nullptr, CHECK},
    {"max-extents", required_argument, nullptr, MAX_EXTENTS},
    {"require-flag", no_argument, nullptr, REQUIRE_FLAG},
    {"runs", no_argument, nullptr, RUNS},
    {"fits", required_argument, nullptr, FITS},
    {"codepage", required_argument, nullptr, CODEPAGE},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// Why the long option `arg` ("--name" or "--name=value") was refused.
std::string LongOptionFault(const std::string &arg)
{
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    std::vector<const option *> matches;
    for (const option *o = kLongOptions; o->name != nullptr; o++) {
        if (name == o->name) {
            matches.assign(1, o);
            break;
        }
        if (!name.empty() && strncmp(o->name, name.c_str(), name.size()) == 0)
            matches.push_back(o);
    }
    if (matches.size() > 1) {
        std::string fault = "option '--" + name + "' is ambiguous; possibilities:";
        for (const option *o : matches)
            fault += std::string(" '--") + o->name + "'";
        return fault;
    }
    if (matches.size() == 1 && equals != std::string::npos && matches[0]->has_arg == no_argument)
        return std::string("option '--") + matches[0]->name + "' doesn't allow an argument";
    return "unrecognized option '" + arg.substr(0, equals) + "'";
}

// The long option that `arg` abbreviates, for a missing argument.
std::string LongOptionName(const std::string &arg)
{
    const std::string name = arg.substr(2);
    for (const option *o = kLongOptions; o->name != nullptr; o++)
        if (strncmp(o->name, name.c_str(), name.size()) == 0)
            return o->name;
    return name;
}

bool ParsePartition(const std::string &text, unsigned *number)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *number = (unsigned)std::stoul(text);
    return *number != 0;
}

// --max-extents N: a whole number from 1 to 4294967295.
bool ParseMaxExtents(const std::string &text, unsigned long *number)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long value = std::stoull(text);
    *number = (unsigned long)value;
    return value != 0 && value <= 0xFFFFFFFFull;
}

// --fits SIZE: a whole number of bytes above 0, or of KiB, MiB or GiB with
// the suffix k, M or G (either case), below 2^53.
bool ParseSize(const std::string &text, unsigned long long *bytes)
{
    const size_t digits = text.find_first_not_of("0123456789");
    const std::string number = text.substr(0, digits);
    const std::string suffix = digits == std::string::npos ? std::string() : text.substr(digits);
    if (number.empty() || number.size() > 16 || suffix.size() > 1)
        return false;
    const char unit = suffix.empty() ? 0 : (char)(suffix[0] | 0x20);
    const unsigned shift = unit == 0 ? 0 : unit == 'k' ? 10 : unit == 'm' ? 20 : unit == 'g' ? 30 : 64;
    const unsigned long long value = std::stoull(number);
    if (shift == 64 || value == 0 || value >= (1ull << (53 - shift)))
        return false;
    *bytes = value << shift;
    return true;
}

// Takes --map FILE: a name ending in .png or .svg (any case); the fault or "".
std::string ParseMap(const std::string &value, Options *options)
{
#ifdef VANTREL_MAP
    const size_t dot = value.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : value.substr(dot + 1);
    for (char &c : extension)
        c = (char)(c | 0x20);
    if (extension != "png" && extension != "svg")
        return "map '" + value + "': unknown picture type (the name must end in .png or .svg)";
    options->map = value;
    options->svg = extension == "svg";
    return std::string();
#else
    (void)value;
    (void)options;
    return "option '--map' is not available in this build (maps are drawn by the host build only)";
#endif
}

// Applies option `code` with its argument; the fault or "".
std::string Apply(int code, const char *argument, Options *options)
{
    const std::string value = argument != nullptr ? argument : "";
    switch (code) {
    case 'j': options->json = true; break;
    case 'f': options->listFiles = true; break;
    case FRAGMENTED: options->listFiles = options->onlyFragmented = true; break;
    case LIST_PARTITIONS: options->listPartitions = true; break;
    case THROTTLE: options->throttle = true; break;
    case 'h': options->help = true; break;
    case 'V': options->version = true; break;
    case 'p':
        if (!ParsePartition(value, &options->partition))
            return "invalid partition number '" + value + "'";
        break;
    case DRIVE:
        options->letter = DriveLetter(value.c_str());
        if (options->letter == 0)
            return "invalid drive '" + value + "' (a letter and a colon, such as V:)";
        break;
    case MAP: return ParseMap(value, options);
    case CHECK: options->check = true; break;
    case RUNS: options->listRuns = true; break;
    case REQUIRE_FLAG: options->requireFlag = true; break;
    case MAX_EXTENTS:
        if (!ParseMaxExtents(value, &options->maxExtents))
            return "invalid number of extents '" + value + "' (a whole number from 1)";
        break;
    case FITS:
        options->fits = true;
        if (!ParseSize(value, &options->fitsSize))
            return "invalid size '" + value + "' (bytes, or a number with k, M or G, above 0)";
        break;
    case CODEPAGE:
        if (value != "437" && value != "850")
            return "invalid code page '" + value + "' (437 or 850)";
        options->codePage = (unsigned)std::stoul(value);
        break;
    }
    return std::string();
}

}  // namespace

std::string ParseOptions(int argc, char **argv, Options *options)
{
    std::string fault;
    const auto keep = [&fault](const std::string &found) {
        if (fault.empty())
            fault = found;
    };
    opterr = 0;   // the faults are reported here, once
    int code;
    while ((code = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1) {
        // The element just passed over: the faulty option, for a long one.
        const std::string passed = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        const bool isLong = passed.compare(0, 2, "--") == 0;
        if (code == ':' && isLong)
            keep("option '--" + LongOptionName(passed) + "' requires an argument");
        else if (code == ':')
            keep(std::string("option requires an argument -- '") + (char)optopt + "'");
        else if (code == '?' && optopt > 0 && optopt < 256 && (optopt == ':' || !strchr(kShortOptions, optopt)))
            keep(std::string("invalid option -- '") + (char)optopt + "'");
        else if (code == '?')
            keep(LongOptionFault(passed));
        else
            keep(Apply(code, optarg, options));
    }
    for (int i = optind; i < argc; i++) {
        if (options->path != nullptr && options->check) {
            if (argv[i][0] == 0)
                keep("empty NAME: give a file's path in the volume or a pattern");
            options->names.push_back(argv[i]);
            continue;
        }
        if (options->path != nullptr)
            keep(std::string("extra operand '") + argv[i] + "'");
        else if (strcmp(argv[i], "-") == 0)
            keep("cannot read a volume from standard input");
        options->path = argv[i];
    }
    if (options->path == nullptr && !options->help && !options->version)
        keep("missing PATH");
    const bool asked = !options->help && !options->version;
    if (asked && options->check && options->path != nullptr && options->names.empty())
        keep("option '--check' needs a NAME after PATH");
    if (asked && !options->check && options->maxExtents != 0)
        keep("option '--max-extents' needs '--check'");
    if (asked && !options->check && options->requireFlag)
        keep("option '--require-flag' needs '--check'");
    if (options->maxExtents == 0)
        options->maxExtents = 1;
    if (asked && options->listRuns && !options->check && !options->listFiles)
        keep("option '--runs' needs '--files', '--fragmented' or '--check'");
    return fault;
}
