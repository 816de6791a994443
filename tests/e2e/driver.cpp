// End-to-end driver of Vantrel.exe: a console program that starts the
// program, drives it only through window messages (menu commands, dialog
// buttons, keys), reads its windows, dialogs and list box, and compares what
// the screen shows with pictures and text it draws itself.
//   driver.exe SCENARIO SETTINGS-FILE
// SETTINGS-FILE is written by tests/e2e/run-scenario.sh. Exit status 0 when
// every check passed, 1 otherwise, 2 for a usage or setup error.
#include <cstdio>
#include <cstring>

#include "drives.h"
#include "scenarios.h"

namespace {

struct Scenario {
    const char *name;
    int (*run)(const Config &);
    bool drives;  // maps the settings' drives first
    const char *about;
};

const Scenario kScenarios[] = {
    {"window", ScenarioWindow, false, "class, title, size, intro picture, menu, second copy, close box"},
    {"no-intro", ScenarioNoIntro, false, "IntroFat.BMP missing: the program ends without a window"},
    {"dialogs", ScenarioDialogs, false, "About, Reading the results, Order: pictures, OK, Enter, close box, Escape"},
    {"no-instruc", ScenarioNoInstruc, false, "Instruc.Bmp missing: an empty dialog at template size"},
    {"palettes", ScenarioPalettes, false, "picture dialogs opened and closed many times leave nothing behind"},
    {"exit", ScenarioExit, false, "Exit notifies the Quellix control window"},
    {"drive-list", ScenarioDriveList, true, "the drive list: FAT12, FAT16, FAT32, floppy, hidden; Cancel"},
    {"analysis", ScenarioAnalysis, true, "a whole analysis with pause and continue, panel against vantrel-scan"},
    {"promo-first", ScenarioPromoFirst, true, "promotion dialog opened before the end: no second one"},
    {"two-analyses", ScenarioTwoAnalyses, true, "both dialogs open at the end, either order; second analysis"},
    {"no-kivnt", ScenarioNoKivnt, true, "KivNT.bmp missing: first Start abandoned, second runs without it"},
    {"failed-start", ScenarioFailedStart, true, "Starts that fail leave the dialog open; another drive works"},
    {"demo", ScenarioDemo, true, "analysis of the first drive with expected values; screenshot of the panel"},
};

void Usage()
{
    printf("usage: driver.exe SCENARIO SETTINGS-FILE\nscenarios:\n");
    for (const Scenario &scenario : kScenarios)
        printf("  %-13s %s\n", scenario.name, scenario.about);
}

bool MapDrives(const Config &config)
{
    bool all = true;
    for (const DriveSpec &drive : config.drives) {
        const std::string error = MapDrive(drive.letter, drive.image, drive.kind == "floppy");
        all = Check(error.empty(), "map %c: to %s (%s)", drive.letter, drive.image.c_str(),
                    error.empty() ? drive.kind.c_str() : error.c_str()) &&
              all;
    }
    for (const DriveSpec &drive : config.drives) {
        const std::string seen = WaitDrive(drive.letter, drive.kind == "floppy", drive.fileSystem, drive.label);
        all = Check(seen.empty(), "the session reports %c: as %s, label \"%s\"%s%s", drive.letter,
                    drive.fileSystem.c_str(), drive.label.c_str(), seen.empty() ? "" : "; it reports ",
                    seen.c_str()) &&
              all;
    }
    return all;
}

}  // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 3) {
        Usage();
        return 2;
    }
    const Scenario *scenario = nullptr;
    for (const Scenario &candidate : kScenarios)
        if (strcmp(candidate.name, argv[1]) == 0)
            scenario = &candidate;
    if (!scenario) {
        Usage();
        return 2;
    }
    Config config;
    std::string error;
    if (!LoadConfig(argv[2], config, error)) {
        printf("driver: %s\n", error.c_str());
        return 2;
    }
    const DWORD start = GetTickCount();
    printf("scenario %s: %s\n", scenario->name, scenario->about);
    if (!MakeQuellixWindow()) {
        printf("driver: cannot make the Quellix control window\n");
        return 2;
    }
    bool ready = true;
    if (scenario->drives && config.mapDrives)
        ready = MapDrives(config);
    if (ready && scenario->run(config) != 0 && Failures() == 0)
        Check(false, "the scenario could not run to its end");
    if (scenario->drives && config.mapDrives)
        for (const DriveSpec &drive : config.drives)
            UnmapDrive(drive.letter);
    DestroyQuellixWindow();
    const int failures = Failures();
    printf("scenario %s: %s, %d failed check%s, %.1f s\n", scenario->name, failures ? "FAILED" : "passed", failures,
           failures == 1 ? "" : "s", (GetTickCount() - start) / 1000.0);
    return failures ? 1 : 0;
}
