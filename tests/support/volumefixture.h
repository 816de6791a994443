// Puts an image in place of a drive as an analysis start would find it: the
// image saved, mapped to a drive letter and selected in cDrive, and the
// volume services run on it.
#pragma once

#include <string>

#include "support/fatimage.h"

// Saves `image`, maps it as drive `letter` and selects it in cDrive; clears
// the captured messages. Returns the image file's path.
std::string UseImage(const FatImage &image, char letter = 'V');

// OpenVolume, KivNTInitialize and GetDiskStats, as a start runs them.
bool ReadSuperArea();

// Starts an analysis of `image` as drive V: the way the window does (with
// the statistics reset, without the 50 ms pause per file) and returns without
// waiting. False when StartDirScanThread refused the volume. The image file's
// path goes to `path` when given.
bool StartAnalysis(const FatImage &image, std::string *path = nullptr);

// Runs a whole analysis of `image` as drive V: the way the window does (with
// the statistics reset, without the 50 ms pause per file) and waits for its
// KIV_END. False when StartDirScanThread refused the volume or no KIV_END
// came. The image file's path goes to `path` when given.
bool RunAnalysis(const FatImage &image, std::string *path = nullptr);
