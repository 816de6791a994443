// The volume map drawn with cairo into a PNG or SVG stream: summary line,
// legend of the six states, then the cells, as square as the count allows.
#include "cli/mapdraw.h"

#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>

namespace {

struct Colour {
    double r, g, b;
    const char *name;
};

// Indexed by MapState; MAP_UNSEEN never reaches a finished map.
const Colour kColours[MAP_STATES] = {
    {1, 1, 1, ""},
    {0.88, 0.88, 0.88, "free"},
    {0.23, 0.48, 0.84, "contiguous"},
    {0.91, 0.77, 0.28, "directory"},
    {0.85, 0.20, 0.17, "fragmented"},
    {0.56, 0.27, 0.68, "lost"},
    {0.12, 0.12, 0.12, "bad"},
};

const double kMargin = 12, kLine = 22;

cairo_status_t WriteTo(void *closure, const unsigned char *data, unsigned int length)
{
    return fwrite(data, 1, length, (FILE *)closure) == length ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

void Fill(cairo_t *cr, MapState state)
{
    cairo_set_source_rgb(cr, kColours[state].r, kColours[state].g, kColours[state].b);
}

}  // namespace

bool DrawVolumeMap(FILE *out, bool svg, const VolumeMap &map, unsigned long long perCell,
                   const std::string &summary, std::string *reason)
{
    const unsigned long long clusters = map.states.size();
    const unsigned long long cells = clusters == 0 ? 0 : (clusters + perCell - 1) / perCell;
    // Twice as wide as tall, at most 1024 columns; cells of 1 to 12 pixels.
    const unsigned long long columns =
        std::max(1ull, std::min(1024ull, (unsigned long long)std::ceil(std::sqrt(2.0 * (double)cells))));
    const unsigned long long rows = (cells + columns - 1) / columns;
    const double cell = std::max(1.0, std::min(12.0, std::floor(960.0 / (double)columns)));
    const double width = std::max(columns * cell, 620.0) + 2 * kMargin;
    const double top = kMargin + 2 * kLine;
    const double height = top + rows * cell + kMargin;

    cairo_surface_t *surface = svg ? cairo_svg_surface_create_for_stream(WriteTo, out, width, height)
                                   : cairo_image_surface_create(CAIRO_FORMAT_RGB24, (int)width, (int)height);
    cairo_t *cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);

    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 13);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, kMargin, kMargin + 13);
    cairo_show_text(cr, summary.c_str());
    double x = kMargin;
    for (int state = MAP_FREE; state < MAP_STATES; state++) {
        const std::string label = std::string(kColours[state].name) + " " + std::to_string(map.counts[state]);
        Fill(cr, (MapState)state);
        cairo_rectangle(cr, x, kMargin + kLine + 3, 12, 12);
        cairo_fill_preserve(cr);
        cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
        cairo_set_line_width(cr, 0.5);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_move_to(cr, x + 16, kMargin + kLine + 14);
        cairo_show_text(cr, label.c_str());
        cairo_text_extents_t extents;
        cairo_text_extents(cr, label.c_str(), &extents);
        x += 16 + extents.x_advance + 14;
    }

    // The most severe state among each cell's clusters; a run of cells of one
    // state in a row is one rectangle, which keeps an SVG small.
    auto worstOf = [&](unsigned long long i) {
        const unsigned long long first = i * perCell, end = std::min(clusters, first + perCell);
        BYTE worst = MAP_FREE;
        for (unsigned long long c = first; c < end; c++)
            worst = std::max(worst, map.states[c]);
        return worst;
    };
    BYTE state = cells != 0 ? worstOf(0) : (BYTE)MAP_FREE;
    for (unsigned long long start = 0, i = 1; start < cells; i++) {
        const BYTE next = i < cells ? worstOf(i) : (BYTE)MAP_FREE;
        if (i < cells && next == state && i % columns != 0)
            continue;
        Fill(cr, (MapState)state);
        cairo_rectangle(cr, kMargin + (double)(start % columns) * cell, top + (double)(start / columns) * cell,
                        (double)(i - start) * cell, cell);
        cairo_fill(cr);
        start = i;
        state = next;
    }

    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_status_t status = cairo_surface_status(surface);
    if (status == CAIRO_STATUS_SUCCESS && !svg)
        status = cairo_surface_write_to_png_stream(surface, WriteTo, out);
    cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS)
        status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    // The font caches that the text filled are given back, as the program ends.
    cairo_debug_reset_static_data();
    FcFini();
    if (status != CAIRO_STATUS_SUCCESS) {
        *reason = cairo_status_to_string(status);
        return false;
    }
    return true;
}
