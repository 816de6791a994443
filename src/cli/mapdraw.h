// Drawing of the volume map (host build, with cairo): the cells in disk
// order, row by row, under the summary line and a legend.
#pragma once

#include <cstdio>
#include <string>

#include "cli/volmap.h"

// Writes the map to `out` as PNG, or SVG when `svg`, each cell `perCell`
// clusters in the colour of the most severe state among them. False with
// the reason when cairo cannot draw or write it.
bool DrawVolumeMap(FILE *out, bool svg, const VolumeMap &map, unsigned long long perCell,
                   const std::string &summary, std::string *reason);
