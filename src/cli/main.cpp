// vantrel-scan: the command-line analyzer. Maps an image file, a block device
// or one partition of a disk image to a drive letter (on Windows, PATH may
// also be a drive such as E:) and runs the very analysis the window runs
// (volume services, volume preparation and the scan thread), playing the UI
// thread's part by waiting for the scan's KIV_END; then prints the report.
// Before the engine it reads the image itself: the partition table, to choose
// the partition, and the volume's first sector, to say what it holds when it
// is not a FAT volume the analysis reads.
//
// Exit status: 0 when the walk completed, 1 when the analysis ended on an
// error, 2 for a usage error or a volume that cannot be opened or prepared.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "app/kivifat.h"
#include "cli/console.h"
#include "cli/partitions.h"
#include "cli/probe.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/volmap.h"
#ifdef VANTREL_MAP
#include "cli/mapdraw.h"
#endif
#include "engine/chains.h"
#include "engine/fatdisk.h"
#include "engine/geometry.h"
#include "engine/scan.h"
#include "volume/volume.h"

namespace {

const char kVersion[] = "vantrel-scan (Vantrel) " VANTREL_VERSION;
const char kUsage[] = "usage: vantrel-scan [OPTION]... PATH\n";
const char kHelp[] =
    "Measures how fragmented the files of a FAT12, FAT16 or FAT32 volume are.\n"
    "PATH is an image file, a block device or a disk image with an MBR or GPT\n"
    "partition table (on Windows also a drive such as E:); it is only read.\n"
    "\n"
    "  --json               print one JSON object instead of labelled lines\n"
    "  --files              list every measured file: extents, clusters, size, path\n"
    "  --fragmented         list only the files in more than one extent\n"
    "  --list-partitions    list the partitions of a disk image and exit\n"
    "  --partition N        analyse partition N of a disk image\n"
    "  --drive X:           the drive letter the volume is mapped to (default V:)\n"
    "  --throttle           pause 50 ms per file, as the window does\n"
#ifdef VANTREL_MAP
    "  --map FILE           draw the volume's clusters by state into FILE.png or FILE.svg\n"
#else
    "  --map FILE           (drawn by the host build only; this build exits 2)\n"
#endif
    "  --help               show this help and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Exit status: 0 when the analysis completed, 1 when it ended on an error,\n"
    "2 for a usage error or a volume that cannot be opened or prepared.\n";

struct Options {
    bool json = false;
    bool listPartitions = false;
    bool help = false;
    bool version = false;
    char letter = 'V';
    unsigned partition = 0;   // --partition N; 0 chooses the only FAT partition
    const char *path = nullptr;
    std::string map;             // --map FILE
    bool svg = false;            // the map's FILE ends in .svg
};

Analysis analysis;
std::mutex lockMessages;

// Every message the analysis shows is kept for the report and shown at once.
void KeepMessage(const char *caption, const char *text)
{
    std::lock_guard<std::mutex> hold(lockMessages);
    analysis.messages.push_back(text);
    fprintf(stderr, "%s: %s\n", caption, text);
}

void KeepFile(const BYTE *entry, LPCSTR path, DWORD clusters)
{
    if (analysis.mapPath != nullptr)
        MapMeasuredFile(entry, clusters);
    if (!analysis.listFiles || (analysis.onlyFragmented && NumberOfExtents <= 1))
        return;
    analysis.files.push_back({NumberOfExtents, clusters, ld_32(&entry[DIR_FileSize]), path});
}

void WaitForEnd()
{
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        if (msg.message == WM_COMMAND && LOWORD(msg.wParam) == KIV_END)
            return;
}

bool ParseDrive(const std::string &drive, char *letter)
{
    const char upper = drive.size() == 2 ? (char)(drive[0] & ~0x20) : 0;
    if (upper < 'A' || upper > 'Z' || drive[1] != ':')
        return false;
    *letter = upper;
    return true;
}

bool ParsePartition(const std::string &text, unsigned *number)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *number = (unsigned)std::stoul(text);
    return *number != 0;
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

// Reads the command line into `options`; the first fault, or "".
std::string ParseOptions(int argc, char **argv, Options *options)
{
    std::string fault;
    bool operands = false;   // after "--"
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (operands || arg == "-" || arg[0] != '-') {
            if (options->path != nullptr && fault.empty())
                fault = "extra operand '" + arg + "'";
            options->path = argv[i];
            continue;
        }
        if (arg == "--") {
            operands = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const bool takesValue = name == "--drive" || name == "--partition" || name == "--map";
        std::string value;
        if (takesValue && equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (takesValue && i + 1 < argc) {
            value = argv[++i];
        } else if (takesValue) {
            fault = fault.empty() ? "option '" + name + "' requires an argument" : fault;
            continue;
        } else if (equals != std::string::npos && arg.compare(0, 2, "--") == 0) {
            fault = fault.empty() ? "option '" + name + "' doesn't allow an argument" : fault;
            continue;
        }
        if (name == "--json") {
            options->json = true;
        } else if (name == "--files") {
            analysis.listFiles = true;
        } else if (name == "--fragmented") {
            analysis.listFiles = analysis.onlyFragmented = true;
        } else if (name == "--throttle") {
            GiveAway = true;
        } else if (name == "--list-partitions") {
            options->listPartitions = true;
        } else if (name == "--help") {
            options->help = true;
        } else if (name == "--version") {
            options->version = true;
        } else if (name == "--drive") {
            if (!ParseDrive(value, &options->letter) && fault.empty())
                fault = "invalid drive '" + value + "' (a letter and a colon, such as V:)";
        } else if (name == "--map") {
            if (fault.empty())
                fault = ParseMap(value, options);
        } else if (name == "--partition") {
            if (!ParsePartition(value, &options->partition) && fault.empty())
                fault = "invalid partition number '" + value + "'";
        } else if (fault.empty()) {
            fault = "unrecognized option '" + arg + "'";
        }
    }
    if (fault.empty() && options->path == nullptr && !options->help && !options->version)
        fault = "missing PATH";
    return fault;
}

// One run on PATH: what is known so far, for the report of an early end.
class Run {
public:
    explicit Run(const Options &options) : options_(options), path_(options.path) {}
    int Analyse();
    // The analysis and its report; Analyse adds the map around it.
    int AnalyseVolume(std::string *reason);

private:
    // Ends the run with exit status 2: the message on standard error (unless
    // already shown) and, with --json, the JSON object of the error.
    int Stop(const char *kind, const std::string &message, bool shown = false);
    // Reads the partition table; false when the run ends there (`status`).
    bool ChoosePartition(int *status);
    FoundPartition Examine(const Partition &partition);
    std::string ProbeAt(uint64_t offset, uint64_t limit, Probe *probe);

    const Options &options_;
    const std::string path_;
    Image image_;
    bool haveTable_ = false;
    Listing listing_;
    FoundPartition chosen_;
    bool haveChosen_ = false;
    const VolumeMap *map_ = nullptr;   // the finished map, with --map
};

int Run::Stop(const char *kind, const std::string &message, bool shown)
{
    if (!shown)
        fprintf(stderr, "vantrel-scan: %s: %s\n", path_.c_str(), message.c_str());
    if (options_.json)
        PrintJsonError(kind, path_ + ": " + message, haveTable_ ? &listing_ : nullptr,
                       haveChosen_ ? &chosen_ : nullptr, analysis.messages);
    return 2;
}

// What the first sector at `offset` holds, reading no further than `limit`
// bytes; "" or the system's reason when the read fails.
std::string Run::ProbeAt(uint64_t offset, uint64_t limit, Probe *probe)
{
    uint8_t sector[SECTOR_SIZE] = {};
    std::string reason;
    const long long got = image_.Read(offset, sector, limit < SECTOR_SIZE ? (size_t)limit : SECTOR_SIZE, &reason);
    if (got < 0)
        return reason;
    *probe = ProbeSector(sector, (size_t)got);
    if (probe->content == Content::TooSmall && limit != ~0ull)
        probe->what = "too small: " + std::to_string(limit < (uint64_t)got ? limit : (uint64_t)got) + " bytes";
    return std::string();
}

FoundPartition Run::Examine(const Partition &partition)
{
    Probe probe{Content::Unknown, "unreadable"};
    ProbeAt(partition.start, partition.size, &probe);
    const bool fat = probe.content == Content::Fat;
    static const char *const shortNames[] = {"", "FAT (bad field)", "exFAT", "NTFS", "partition table",
                                             "empty", "unknown", "unknown", "too small"};
    return {partition, fat ? probe.what : shortNames[(int)probe.content], fat};
}

bool Run::ChoosePartition(int *status)
{
    const ReadImage read = [this](uint64_t offset, void *buffer, size_t length) {
        std::string reason;
        return image_.Read(offset, buffer, length, &reason) == (long long)length;
    };
    const PartitionTable table = ReadPartitionTable(read, image_.Size());
    if (table.kind == TableKind::None)
        return true;
    haveTable_ = true;
    listing_.kind = table.kind;
    for (const Partition &partition : table.partitions)
        listing_.partitions.push_back(Examine(partition));
    const std::string kind = table.kind == TableKind::Gpt ? "GPT" : "MBR";
    if (!table.error.empty()) {
        *status = Stop("partition_table", "damaged " + kind + " partition table: " + table.error);
        return false;
    }
    if (options_.listPartitions) {
        if (options_.json)
            PrintPartitionsJson(listing_, "");
        else
            PrintPartitions(stdout, listing_);
        *status = 0;
        return false;
    }
    std::vector<const FoundPartition *> fats;
    for (const FoundPartition &found : listing_.partitions)
        if (options_.partition ? found.partition.number == options_.partition : found.fat)
            fats.push_back(&found);
    if (fats.size() != 1) {
        std::string why;
        if (options_.partition)
            why = "no partition " + std::to_string(options_.partition) + " in its " + kind + " partition table";
        else if (fats.empty())
            why = "no FAT partition in its " + kind + " partition table";
        else {
            why = std::to_string(fats.size()) + " FAT partitions (";
            for (const FoundPartition *found : fats)
                why += std::to_string(found->partition.number) + (found == fats.back() ? "" : ", ");
            why += "); choose one with --partition N";
        }
        fprintf(stderr, "vantrel-scan: %s: %s\n", path_.c_str(), why.c_str());
        PrintPartitions(stderr, listing_);
        *status = Stop("partition", why, true);
        return false;
    }
    chosen_ = *fats[0];
    haveChosen_ = true;
    analysis.partition = &chosen_;
    if (!options_.partition)
        fprintf(stderr, "vantrel-scan: %s: analysing partition %u, the only FAT partition (%s, %llu bytes at byte %llu)\n",
                path_.c_str(), chosen_.partition.number, chosen_.fileSystem.c_str(),
                (unsigned long long)chosen_.partition.size, (unsigned long long)chosen_.partition.start);
    return true;
}

int Run::Analyse()
{
    std::string reason;
    // The map's file is opened before anything is read, so that a path that
    // cannot be written ends the run at once.
    FILE *mapFile = nullptr;
    if (!options_.map.empty()) {
        mapFile = fopen(options_.map.c_str(), "wb");
        if (mapFile == nullptr)
            return Stop("map", "cannot write the map '" + options_.map + "': " + strerror(errno));
        analysis.mapPath = options_.map.c_str();
        BeginVolumeMap();
    }
    const int status = AnalyseVolume(&reason);
    if (mapFile == nullptr)
        return status;
    // A run that ended before the walk leaves no empty picture behind.
    if (map_ == nullptr) {
        fclose(mapFile);
        remove(options_.map.c_str());
        return status;
    }
#ifdef VANTREL_MAP
    if (!DrawVolumeMap(mapFile, options_.svg, *map_, analysis.mapPerCell, SummaryLine(), &reason)) {
        fclose(mapFile);
        fprintf(stderr, "vantrel-scan: %s: cannot draw the map: %s\n", options_.map.c_str(), reason.c_str());
        return 2;
    }
#endif
    if (fclose(mapFile) != 0) {
        fprintf(stderr, "vantrel-scan: %s: cannot write the map: %s\n", options_.map.c_str(), strerror(errno));
        return 2;
    }
    return status;
}

int Run::AnalyseVolume(std::string *reasonOut)
{
    std::string &reason = *reasonOut;
    if (!image_.Open(path_.c_str(), &reason))
        return Stop("open", reason);
    const bool drive = IsSystemDrive(path_.c_str());
    int status = 0;
    if (!drive && !ChoosePartition(&status))
        return status;

    const uint64_t offset = haveChosen_ ? chosen_.partition.start : 0;
    const uint64_t length = haveChosen_ ? chosen_.partition.size : ~0ull;
    Probe probe{Content::Fat, ""};
    reason = ProbeAt(offset, length, &probe);
    if (!reason.empty())
        return Stop("open", reason);
    if (options_.listPartitions) {
        if (options_.json)
            PrintPartitionsJson(listing_, probe.what);
        else
            printf("no partition table: %s\n", probe.what.c_str());
        return 0;
    }
    if (options_.partition && !haveChosen_)
        return Stop("partition", "no partition table: " + probe.what);

    // A volume the analysis will refuse is described first; the engine's own
    // messages follow when it refuses it.
    std::string diagnosis;
    if (probe.content != Content::Fat) {
        diagnosis = (haveChosen_ ? "partition " + std::to_string(chosen_.partition.number) + ": " : std::string()) +
                    "not a FAT volume: " + probe.what;
        fprintf(stderr, "vantrel-scan: %s: %s\n", path_.c_str(), diagnosis.c_str());
    }

    SetMessageBoxHook(KeepMessage);
    const char device[3] = {drive ? (char)(path_[0] & ~0x20) : options_.letter, ':', 0};
    strcpy(cDrive, device);
    if ((!drive && !MapDriveRange(device[0], path_.c_str(), offset, length)) || !OpenVolume())
        return Stop("open", LastErrorReason());
    hMutex = CreateMutexA(NULL, FALSE, "MutexForCommonData");
    hWndMain = MessageWindow(&reason);
    if (hWndMain == NULL)
        return Stop("system", "no message window: " + reason);
    if (analysis.listFiles || analysis.mapPath != nullptr)
        FileMeasured = KeepFile;
    ResetStats();
    Running = ANALYSIS_RUNNING;
    if (!KivNTInitialize() || !GetDiskStats() || !StartDirScanThread()) {
        if (!diagnosis.empty())
            return Stop("volume", diagnosis, true);
        return Stop("volume", "the analysis cannot read the volume: " +
                                  (analysis.messages.empty() ? std::string("no reason given") : analysis.messages.back()));
    }
    StartProgress();
    WaitForEnd();
    StopProgress();

    analysis.completed = WalkCompleted;
    if (analysis.mapPath != nullptr) {
        map_ = &FinishVolumeMap();
        analysis.mapCounts = map_->counts;
        analysis.mapPerCell = ClustersPerCell(TotalClusters, MAP_MAX_CELLS);
    }
    if (options_.json)
        PrintJson(analysis);
    else
        PrintText(analysis);
    return analysis.completed ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    GiveAway = false;
    const std::string fault = ParseOptions(argc, argv, &options);
    if (!fault.empty()) {
        if (options.json)
            PrintJsonError("usage", fault, nullptr, nullptr, {});
        fprintf(stderr, "vantrel-scan: %s\n%sTry 'vantrel-scan --help' for more information.\n", fault.c_str(),
                kUsage);
        return 2;
    }
    if (options.help) {
        printf("%s%s", kUsage, kHelp);
        return 0;
    }
    if (options.version) {
        printf("%s\n", kVersion);
        return 0;
    }
    return Run(options).Analyse();
}
