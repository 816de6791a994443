// The results panel of programs that have no window (the command-line
// analyzer and the unit tests): painting draws nothing, the values stay in
// their module variables for the caller to read.
#include "volume/volume.h"

void UpdateDiskStats(HDC)
{
}
