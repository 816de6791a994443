// The drive fixture shared by the volume and engine tests.
#include "support/volumefixture.h"

#include <gtest/gtest.h>

#include "app/kivifat.h"
#include "support/testplatform.h"
#include "engine/scan.h"
#include "volume/volume.h"

std::string UseImage(const FatImage &image, char letter)
{
    const std::string path = image.Save(std::string(1, letter) + ".img");
    EXPECT_TRUE(MapDrive(letter, path)) << path;
    cDrive[0] = letter;
    cDrive[1] = ':';
    cDrive[2] = 0;
    ClearMessages();
    return path;
}

bool ReadSuperArea()
{
    return OpenVolume() && KivNTInitialize() && GetDiskStats();
}

bool StartAnalysis(const FatImage &image, std::string *path)
{
    if (hMutex == NULL)
        hMutex = CreateMutexA(NULL, FALSE, "MutexForCommonData");
    hWndMain = TestWindow();
    GiveAway = false;
    const std::string saved = UseImage(image);
    if (path != nullptr)
        *path = saved;
    ResetStats();
    return ReadSuperArea() && StartDirScanThread();
}

bool RunAnalysis(const FatImage &image, std::string *path)
{
    return StartAnalysis(image, path) && WaitForCommand(KIV_END, 20000);
}
