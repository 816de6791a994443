// The analyzer's progress line: files so far, the file being examined and the
// rate, redrawn in place on standard error while the scan runs, when standard
// error is a terminal.
#pragma once

void StartProgress();
// Stops the line and clears it.
void StopProgress();
