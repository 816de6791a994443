// The analyzer's run. It reads the image itself first: the partition table,
// to choose the partition, and the volume's first sector, to say what it
// holds when it is not a FAT volume the analysis reads. Then it maps the
// volume to a drive letter and runs the very analysis the window runs (volume
// services, volume preparation and the scan thread), playing the UI thread's
// part by waiting for the scan's KIV_END.
#include "cli/run.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "app/kivifat.h"
#include "cli/check.h"
#include "cli/extents.h"
#include "cli/progress.h"
#include "cli/spacereport.h"
#ifdef VANTREL_MAP
#include "cli/mapdraw.h"
#endif
#include "engine/chains.h"
#include "engine/exfatscan.h"
#include "engine/codepage.h"
#include "engine/fatdisk.h"
#include "engine/geometry.h"
#include "engine/longpath.h"
#include "engine/scan.h"
#include "engine/walker.h"
#include "platform/driveletter.h"
#include "volume/volume.h"

namespace {

// What the engine's hooks collect, on the scan thread too.
Analysis analysis;
std::mutex lockMessages;

// Every message the analysis shows is kept for the report and shown at once.
void KeepMessage(const char *caption, const char *text)
{
    std::lock_guard<std::mutex> hold(lockMessages);
    analysis.messages.push_back(text);
    fprintf(stderr, "%s: %s\n", caption, text);
}

// cFileName (`path`) may be shortened; the engine's whole paths are listed.
void KeepFile(const BYTE *entry, LPCSTR, DWORD clusters)
{
    if (analysis.mapPath != nullptr)
        MapMeasuredFile(entry, clusters);
    if (analysis.check != nullptr)
        CheckMeasuredFile(entry, clusters);
    if (!analysis.listFiles || (analysis.onlyFragmented && NumberOfExtents <= 1))
        return;
    const bool exfat = ExfatVolume;
    analysis.files.push_back({NumberOfExtents, clusters, exfat ? ExfatFile.dataLength : ld_32(&entry[DIR_FileSize]),
                              exfat && ExfatFile.noFatChain, FileLongPath(), FileShortPath(),
                              analysis.listRuns ? FileRuns(entry, clusters) : std::vector<ClusterRun>()});
}

// Each directory cluster the walk claims: to the map's hook when there is a
// map, and to the count of fragmented directories.
DIRREAD mapDirClusterRead;

void KeepDirCluster(DWORD cluster)
{
    if (mapDirClusterRead != NULL)
        mapDirClusterRead(cluster);
    NoteDirectoryCluster(cluster);
}

void WaitForEnd()
{
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        if (msg.message == WM_COMMAND && LOWORD(msg.wParam) == KIV_END)
            return;
}

Fault Failed(const char *kind, const std::string &message, bool shown = false)
{
    return Fault{kind, message, shown};
}

}  // namespace

int Run::Execute()
{
    Fault fault = OpenMap();
    if (!fault)
        fault = OpenImage();
    if (!fault)
        fault = ReadTable();
    if (!fault && options_.listPartitions) {
        fault = ListVolumes();
        if (!fault) {
            DropMap();
            return 0;
        }
    }
    if (!fault)
        fault = ChooseVolume();
    if (!fault)
        fault = MapVolume();
    if (!fault)
        fault = Analyse();
    if (fault)
        return Stop(fault);
    const int status = Report();
    return mapFile_ != nullptr ? DrawMap(status) : status;
}

int Run::Stop(const Fault &fault)
{
    if (!fault.shown)
        fprintf(stderr, "vantrel-scan: %s: %s\n", path_.c_str(), fault.message.c_str());
    if (options_.json)
        PrintJsonError(fault.kind, path_ + ": " + fault.message, haveTable_ ? &listing_ : nullptr,
                       haveChosen_ ? &chosen_ : nullptr, analysis.messages);
    DropMap();
    return 2;
}

// A run that ended before the walk leaves no empty picture behind.
void Run::DropMap()
{
    if (mapFile_ == nullptr)
        return;
    fclose(mapFile_);
    mapFile_ = nullptr;
    remove(options_.map.c_str());
}

// The map's file is opened before anything is read, so that a path that
// cannot be written ends the run at once.
Fault Run::OpenMap()
{
    if (options_.map.empty())
        return Fault();
    mapFile_ = fopen(options_.map.c_str(), "wb");
    if (mapFile_ == nullptr)
        return Failed("map", "cannot write the map '" + options_.map + "': " + strerror(errno));
    return Fault();
}

Fault Run::OpenImage()
{
    std::string reason;
    if (!image_.Open(path_.c_str(), &reason))
        return Failed("open", reason);
    systemDrive_ = IsSystemDrive(path_.c_str());
    return Fault();
}

Fault Run::ProbeAt(uint64_t offset, uint64_t limit, Probe *probe)
{
    uint8_t sector[SECTOR_SIZE] = {};
    std::string reason;
    const long long got = image_.Read(offset, sector, limit < SECTOR_SIZE ? (size_t)limit : SECTOR_SIZE, &reason);
    if (got < 0)
        return Failed("open", reason);
    *probe = ProbeSector(sector, (size_t)got);
    if (probe->content == Content::TooSmall && limit != ~0ull)
        probe->what = "too small: " + std::to_string(limit < (uint64_t)got ? limit : (uint64_t)got) + " bytes";
    return Fault();
}

FoundPartition Run::Examine(const Partition &partition)
{
    Probe probe{Content::Unknown, "unreadable"};
    ProbeAt(partition.start, partition.size, &probe);
    const bool fat = probe.content == Content::Fat || probe.content == Content::ExFat;
    static const char *const shortNames[] = {"", "FAT (bad field)", "exFAT", "NTFS", "partition table",
                                             "empty", "unknown", "unknown", "too small"};
    return {partition, fat ? probe.what : shortNames[(int)probe.content], fat};
}

// A drive of the system has no partition table of ours to read.
Fault Run::ReadTable()
{
    if (systemDrive_)
        return Fault();
    const ReadImage read = [this](uint64_t offset, void *buffer, size_t length) {
        std::string reason;
        return image_.Read(offset, buffer, length, &reason) == (long long)length;
    };
    const PartitionTable table = ReadPartitionTable(read, image_.Size());
    if (table.kind == TableKind::None)
        return Fault();
    haveTable_ = true;
    listing_.kind = table.kind;
    for (const Partition &partition : table.partitions)
        listing_.partitions.push_back(Examine(partition));
    if (!table.error.empty())
        return Failed("partition_table",
                      std::string("damaged ") + TableKindLabel(table.kind) + " partition table: " + table.error);
    return Fault();
}

Fault Run::ListVolumes()
{
    Probe probe{Content::Fat, ""};
    if (!haveTable_) {
        const Fault fault = ProbeAt(0, ~0ull, &probe);
        if (fault)
            return fault;
    }
    if (options_.json)
        PrintPartitionsJson(listing_, probe.what);
    else if (haveTable_)
        PrintPartitions(stdout, listing_);
    else
        printf("no partition table: %s\n", probe.what.c_str());
    return Fault();
}

// The partition to analyse (or the whole image), and what its first sector
// holds: a volume the analysis will refuse is described before the engine's
// own messages.
Fault Run::ChooseVolume()
{
    const std::string label = TableKindLabel(listing_.kind);
    if (haveTable_) {
        std::vector<const FoundPartition *> fats;
        for (const FoundPartition &found : listing_.partitions)
            if (options_.partition ? found.partition.number == options_.partition : found.fat)
                fats.push_back(&found);
        if (fats.size() != 1) {
            std::string why;
            if (options_.partition)
                why = "no partition " + std::to_string(options_.partition) + " in its " + label + " partition table";
            else if (fats.empty())
                why = "no FAT partition in its " + label + " partition table";
            else {
                why = std::to_string(fats.size()) + " FAT partitions (";
                for (const FoundPartition *found : fats)
                    why += std::to_string(found->partition.number) + (found == fats.back() ? "" : ", ");
                why += "); choose one with --partition N";
            }
            fprintf(stderr, "vantrel-scan: %s: %s\n", path_.c_str(), why.c_str());
            PrintPartitions(stderr, listing_);
            return Failed("partition", why, true);
        }
        chosen_ = *fats[0];
        haveChosen_ = true;
        if (!options_.partition)
            fprintf(stderr,
                    "vantrel-scan: %s: analysing partition %u, the only FAT partition (%s, %llu bytes at byte %llu)\n",
                    path_.c_str(), chosen_.partition.number, chosen_.fileSystem.c_str(),
                    (unsigned long long)chosen_.partition.size, (unsigned long long)chosen_.partition.start);
    }
    Probe probe{Content::Fat, ""};
    const Fault fault = haveChosen_ ? ProbeAt(chosen_.partition.start, chosen_.partition.size, &probe)
                                    : ProbeAt(0, ~0ull, &probe);
    if (fault)
        return fault;
    if (options_.partition && !haveChosen_)
        return Failed("partition", "no partition table: " + probe.what);
    exfat_ = probe.content == Content::ExFat;
    if (probe.content != Content::Fat && !exfat_) {
        diagnosis_ = (haveChosen_ ? "partition " + std::to_string(chosen_.partition.number) + ": " : std::string()) +
                     "not a FAT volume: " + probe.what;
        fprintf(stderr, "vantrel-scan: %s: %s\n", path_.c_str(), diagnosis_.c_str());
    }
    return Fault();
}

// The drive letter the engine opens: the system's own drive, or the letter
// mapped to the volume's bytes of the image the analyzer holds open.
Fault Run::MapVolume()
{
    SetMessageBoxHook(KeepMessage);
    const char letter = systemDrive_ ? DriveLetter(path_.c_str()) : options_.letter;
    const char device[3] = {letter, ':', 0};
    strcpy(cDrive, device);
    const uint64_t offset = haveChosen_ ? chosen_.partition.start : 0;
    const uint64_t length = haveChosen_ ? chosen_.partition.size : ~0ull;
    if ((!systemDrive_ && !image_.MapDrive(letter, offset, length)) || !OpenVolume())
        return Failed("open", LastErrorReason());
    std::string reason;
    hMutex = CreateMutexA(NULL, FALSE, "MutexForCommonData");
    hWndMain = MessageWindow(&reason);
    if (hWndMain == NULL)
        return Failed("system", "no message window: " + reason);
    return Fault();
}

// The analysis, on the scan thread, with the engine's hooks collecting the
// messages, the files and the map. The walk keeps long names and enters
// every directory however long its path.
Fault Run::Analyse()
{
    KeepLongNames = true;
    ShortNameCodePage = options_.codePage;
    analysis.listFiles = options_.listFiles;
    analysis.onlyFragmented = options_.onlyFragmented;
    analysis.partition = haveChosen_ ? &chosen_ : nullptr;
    GiveAway = options_.throttle;
    if (mapFile_ != nullptr) {
        analysis.mapPath = options_.map.c_str();
        BeginVolumeMap();
    }
    // Whole long paths, which --check matches; with them the walk enters
    // directories however deep their paths.
    KeepLongNames = true;
    analysis.listRuns = options_.listRuns;
    analysis.volumeStart = haveChosen_ ? chosen_.partition.start : 0;
    analysis.fitsAsked = options_.fits;
    analysis.fitsSize = options_.fitsSize;
    if (options_.check) {
        BeginCheck(options_.names, options_.maxExtents, options_.requireFlag);
        analysis.check = &CheckedFiles();
        DirLoaded = CheckLoadedDirectory;
    }
    mapDirClusterRead = DirClusterRead;
    DirClusterRead = KeepDirCluster;
    BeginDirectoryRuns();
    if (analysis.listFiles || analysis.mapPath != nullptr || analysis.check != nullptr)
        FileMeasured = KeepFile;
    ResetStats();
    Running = ANALYSIS_RUNNING;
    if (exfat_ ? !StartExfatScan() : !KivNTInitialize() || !GetDiskStats() || !StartDirScanThread()) {
        if (!diagnosis_.empty())
            return Failed("volume", diagnosis_, true);
        const std::string reason = analysis.messages.empty() ? "no reason given" : analysis.messages.back();
        return Failed("volume", "the analysis cannot read the volume: " + reason);
    }
    StartProgress();
    WaitForEnd();
    StopProgress();
    analysis.completed = WalkCompleted;
    DirClusterRead = mapDirClusterRead;
    analysis.free = CountFreeExtents();
    analysis.fragmentedDirectories = FragmentedDirectories();
    if (analysis.mapPath != nullptr) {
        map_ = &FinishVolumeMap();
        analysis.mapCounts = map_->counts;
        analysis.mapPerCell = ClustersPerCell(TotalClusters, MAP_MAX_CELLS);
    }
    return Fault();
}

// Whatever the walk left out is said on standard error too, and a walk that
// completed does not fail for it. Exit status 1 for an analysis that ended on
// an error comes first, as its answers are incomplete; then 4 for a NAME that
// names no file, and 3 for a file with too many extents or a SIZE that does
// not fit.
int Run::Report()
{
    const std::string skipped = SkippedSummary();
    if (!skipped.empty())
        fprintf(stderr, "vantrel-scan: %s: left out of the walk: %s\n", path_.c_str(), skipped.c_str());
    const bool named = analysis.check == nullptr || EveryNameMatched(path_.c_str());
    const bool passed = analysis.check == nullptr || EveryFilePasses();
    const ULONGLONG dataBytes = (ULONGLONG)TotalClusters * BytesPerCluster;
    if (analysis.fitsAsked && analysis.fitsSize > dataBytes)
        fprintf(stderr, "vantrel-scan: %s: %llu bytes are more than the volume's whole data area (%llu bytes)\n",
                path_.c_str(), analysis.fitsSize, dataBytes);
    const bool fits = !analysis.fitsAsked || Fits(analysis);
    if (options_.json)
        PrintJson(analysis);
    else
        PrintText(analysis);
    return !analysis.completed ? 1 : !named ? 4 : !passed || !fits ? 3 : 0;
}

int Run::DrawMap(int status)
{
    FILE *file = mapFile_;
    mapFile_ = nullptr;
#ifdef VANTREL_MAP
    std::string reason;
    if (!DrawVolumeMap(file, options_.svg, *map_, analysis.mapPerCell, SummaryLine(), &reason)) {
        fclose(file);
        fprintf(stderr, "vantrel-scan: %s: cannot draw the map: %s\n", options_.map.c_str(), reason.c_str());
        return 2;
    }
#endif
    if (fclose(file) != 0) {
        fprintf(stderr, "vantrel-scan: %s: cannot write the map: %s\n", options_.map.c_str(), strerror(errno));
        return 2;
    }
    return status;
}
