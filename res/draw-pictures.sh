#!/bin/sh
# Draws Vantrel's pictures and icon with ImageMagick and checks the results:
# IntroFat.BMP (start-up picture), KivNT.bmp (results-panel background with
# the labels and the light-grey value fields), Instruc.Bmp (how to read the
# panel), Promo.Bmp (Quellix), and kivnt.ico (program icon, 32x32 + 16x16).
# The pictures are written as 8-bit palettized bottom-up BMP files with the
# 40-byte information header, which is the layout the program's loader reads.
# Usage: res/draw-pictures.sh   (writes into the folder of this script)
set -eu

CONVERT=/usr/bin/convert        # a stand-in convert may come first on PATH
OUT=$(cd "$(dirname "$0")" && pwd)
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

FONT=DejaVu-Sans
BOLD=DejaVu-Sans-Bold

# Palette shared by the pictures.
PAGE='#E9EDF2'      # page ground
NAVY='#23395B'      # title bands, headings
INK='#1E2430'       # body text
MUTED='#56627A'     # secondary text
PALE='#C9D6E8'      # light text on navy
LINE='#9AA6B8'      # rules
SHADOW='#7A8594'    # top/left edge of sunken fields
FIELD='#C0C0C0'     # ground of the value fields: the program draws its text on
                    # an opaque 0xC0C0C0 background, so the fields match it
ACCENT='#B5462E'    # fragment colour in the drawings
GOOD='#3C7A4A'      # contiguous-file colour in the drawings

# Writes image $1 (any format) as an 8-bit palettized BMP $2.  Dithering is
# off so that flat colours such as the field grey stay exact.
to_bmp8() {
    "$CONVERT" "$1" -dither None -colors 256 -type Palette \
        -compress None BMP3:"$2"
}

# ---------------------------------------------------------------- sizes
# Main window pictures (IntroFat.BMP, KivNT.bmp): the main window is made
# picture width + 2 by height + 40 pixels.  Under Wine its client area is then
# about 4 pixels narrower and lower than the picture (3-pixel frames, 19-pixel
# caption, 19-pixel menu bar), so nothing that matters is drawn in the last
# 6 pixels on the right and at the bottom.  The last value field of the panel
# ends at y 485 + 13 = 498 and the widest ones at x 28 + 328 = 356.
MAIN_W=400
MAIN_H=516

# Dialog pictures (Instruc.Bmp, Promo.Bmp): the dialog is made picture
# width + 2 by height + 43 pixels; its OK button sits at dialog units
# (0, 298), 222 x 14.  With the dialog font MS Sans Serif 8 pt under Wine the
# dialog base units are 6 x 13 pixels, so one vertical unit is 13/8 pixel and
# one horizontal unit 6/4 pixel:
#   button top    = 298 * 13 / 8 = 484.25 -> 484
#   button height =  14 * 13 / 8 =  22.75 ->  23, bottom edge at 507
#   button width  = 222 *  6 / 4 = 333 (389 if the base width were 7)
# The window's non-client part is a 19-pixel caption and 3-pixel frames, so
# the client area is (W + 2 - 6) x (H + 43 - 19 - 6) = (W - 4) x (H + 18).
# The button must lie inside it: H + 18 >= 507, so H >= 489.  A picture
# ending above the button would need H <= 484, which these frames do not
# allow; so H = 496 (client height 514, 7 pixels to spare below the button)
# and everything drawn stays above y 478: the rows from 478 down, which the
# button partly covers, are plain page colour.  W = 400 gives a client width
# of 396, enough for the button in both cases.  (Measured under Wine 8 with
# its fonts: base units 6 x 13, client 396 x 514, button at 0,484 to 333,507.)
DLG_W=400
DLG_H=496

# ---------------------------------------------------------------- KivNT.bmp
# A value field: a sunken box whose inner ground is exactly FIELD and covers
# the text cell (x, y, width w, 13 pixels high) plus 4 pixels left and right
# and 2 pixels above and below.  Arguments: x y w.
field() {
    x=$1; y=$2; w=$3
    x0=$((x - 5)); y0=$((y - 3)); x1=$((x + w + 4)); y1=$((y + 15))
    printf "fill '%s' rectangle %d,%d %d,%d\n" "$SHADOW" $x0 $y0 $x1 $y1
    printf "fill '%s' rectangle %d,%d %d,%d\n" '#FFFFFF' $((x0 + 1)) $((y0 + 1)) $x1 $y1
    printf "fill '%s' rectangle %d,%d %d,%d\n" "$FIELD" $((x - 4)) $((y - 2)) $((x + w + 3)) $((y + 14))
}

# A label left of, or above, a field: baseline 10 pixels below the field's
# text top, so label and value line up.  Arguments: x y text [font] [colour].
label() {
    printf "font '%s' fill '%s' text %d,%d '%s'\n" "${4:-$FONT}" "${5:-$INK}" "$1" $(($2 + 10)) "$3"
}

# A section heading with a rule running to the right edge.
# Arguments: baseline y, text, x where the rule starts.
heading() {
    printf "font '%s' fill '%s' text 20,%d '%s'\n" "$BOLD" "$NAVY" "$1" "$2"
    printf "fill '%s' rectangle %d,%d 386,%d\n" "$LINE" "$3" $(($1 - 4)) $(($1 - 4))
}

{
    echo "viewbox 0 0 $MAIN_W $MAIN_H"
    # Title band.
    printf "fill '%s' rectangle 0,0 %d,33\n" "$NAVY" $((MAIN_W - 1))
    printf "font '%s' font-size 22 fill '#FFFFFF' text 20,26 'Vantrel'\n" "$BOLD"
    printf "font '%s' font-size 11 fill '%s' text 150,24 'FAT12 / FAT16 fragmentation analysis'\n" "$FONT" "$PALE"
    echo "font-size 12"

    # Drive: 2 characters at (318, 47).
    label 20 47 'Results for the volume on' "$FONT" "$MUTED"
    label 270 47 'Drive' "$BOLD"
    field 318 47 16

    # Volume: numeric fields of 7 characters (56 px) at x 234.
    heading 90 'VOLUME' 85
    label 28 106 'Total space (KB)';      field 234 106 56
    label 28 126 'Free space (KB)';       field 234 126 56
    label 28 146 'Cluster size (bytes)';  field 234 146 56

    heading 178 'FILES' 65
    label 28 186 'Files';                 field 234 186 56
    label 28 206 'Allocated space (KB)';  field 234 206 56
    label 28 226 'Allocated (%)';         field 234 226 56

    heading 256 'FRAGMENTATION' 143
    label 28 264 'Fragmented files';      field 234 264 56
    label 28 284 'Total extents';         field 234 284 56
    label 28 304 'Average extents';       field 234 304 56
    label 306 304 'per file' "$FONT" "$MUTED"

    # Records: a value at x 234 and, on the next line, the file's path in a
    # 41-character field (328 px) at x 28.
    heading 334 'RECORDS' 92
    label 28 342 'Largest file (KB)';     field 234 342 56
    field 28 364 328
    label 28 386 'Smallest file (bytes)'; field 234 386 56
    field 28 407 328
    label 28 428 'Most extents';          field 234 428 56
    field 28 450 328

    heading 480 'FILE BEING EXAMINED' 175
    field 28 485 328
} > "$TMP/kivnt.mvg"
"$CONVERT" -size ${MAIN_W}x${MAIN_H} xc:"$PAGE" -font $FONT -pointsize 12 \
    -draw "$(cat "$TMP/kivnt.mvg")" "$TMP/kivnt.png"
to_bmp8 "$TMP/kivnt.png" "$OUT/KivNT.bmp"

# ---------------------------------------------------------------- IntroFat.BMP
# A filled sector of a circle as a polygon: centre, radius, colour, start
# and end angle in degrees (clockwise from the right).  Sectors covered by a
# smaller disc leave a band: one file's run of clusters on a track.
sector() {
    awk -v cx="$1" -v cy="$2" -v r="$3" -v col="$4" -v a0="$5" -v a1="$6" 'BEGIN {
        pi = atan2(0, -1)
        printf "fill \x27%s\x27 polygon %d,%d", col, cx, cy
        for (a = a0; a < a1 + 1; a += 2) {
            t = (a > a1 ? a1 : a) * pi / 180
            printf " %.2f,%.2f", cx + r * cos(t), cy + r * sin(t)
        }
        printf "\n"
    }'
}

# A disk platter whose tracks carry files: tidy ones in one run, fragmented
# ones in scattered pieces; how to start an analysis.
{
    echo "viewbox 0 0 $MAIN_W $MAIN_H"
    printf "fill '%s' rectangle 0,0 %d,120\n" "$NAVY" $((MAIN_W - 1))
    printf "font '%s' font-size 40 fill '#FFFFFF' text 24,62 'Vantrel'\n" "$BOLD"
    printf "font '%s' font-size 15 fill '%s' text 26,92 'FAT fragmentation analysis'\n" "$FONT" "$PALE"
    printf "font '%s' font-size 11 fill '%s' text 26,110 'Version 1.03'\n" "$FONT" "$PALE"

    # Platter: a grey disc with files on three tracks.
    printf "fill '%s' stroke '%s' stroke-width 2 circle 200,240 200,150\n" '#D5DBE4' "$SHADOW"
    echo "stroke none"
    sector 200 240 75 "$GOOD" 200 310
    sector 200 240 75 "$ACCENT" 20 60
    sector 200 240 75 "$ACCENT" 110 130
    printf "fill '%s' circle 200,240 200,306\n" '#D5DBE4'
    sector 200 240 55 "$GOOD" 240 350
    sector 200 240 55 "$ACCENT" 30 80
    sector 200 240 55 "$ACCENT" 150 175
    printf "fill '%s' circle 200,240 200,286\n" '#D5DBE4'
    sector 200 240 35 "$GOOD" 160 250
    sector 200 240 35 "$ACCENT" 300 320
    sector 200 240 35 "$ACCENT" 10 35
    printf "fill '%s' circle 200,240 200,266\n" '#D5DBE4'
    printf "fill '%s' circle 200,240 200,226\n" "$NAVY"
    printf "fill '%s' circle 200,240 200,235\n" '#D5DBE4'

    echo "font '$FONT' font-size 13"
    printf "fill '%s' text 26,362 'Vantrel measures how fragmented the files'\n" "$INK"
    printf "fill '%s' text 26,380 'on a FAT12 or FAT16 volume are. It only'\n" "$INK"
    printf "fill '%s' text 26,398 'reads the volume and never changes it.'\n" "$INK"

    # How to start.
    printf "fill '%s' stroke '%s' stroke-width 1 rectangle 20,420 379,470\n" "$FIELD" "$SHADOW"
    echo "stroke none"
    printf "font '%s' font-size 13 fill '%s' text 34,441 'To start, choose'\n" "$FONT" "$INK"
    printf "font '%s' font-size 14 fill '%s' text 34,461 'Analysis > Select Disk'\n" "$BOLD" "$NAVY"
    printf "font '%s' font-size 11 fill '%s' text 20,496 'Analysis > Reading the results explains the values.'\n" "$FONT" "$MUTED"
} > "$TMP/intro.mvg"
"$CONVERT" -size ${MAIN_W}x${MAIN_H} xc:"$PAGE" -draw "$(cat "$TMP/intro.mvg")" "$TMP/intro.png"
to_bmp8 "$TMP/intro.png" "$OUT/IntroFat.BMP"

# ---------------------------------------------------------------- Instruc.Bmp
# One line per value of the panel: the name and what it tells.
{
    echo "viewbox 0 0 $DLG_W $DLG_H"
    printf "fill '%s' rectangle 0,0 %d,45\n" "$NAVY" $((DLG_W - 1))
    printf "font '%s' font-size 20 fill '#FFFFFF' text 16,30 'Reading the results'\n" "$BOLD"
    printf "font '%s' font-size 11 fill '%s' text 16,66 'KB means thousands of bytes. The panel is refreshed'\n" "$FONT" "$MUTED"
    printf "font '%s' font-size 11 fill '%s' text 16,80 'five times a second while the analysis runs.'\n" "$FONT" "$MUTED"
    y=104
    while IFS='|' read -r name text; do
        printf "font '%s' font-size 11 fill '%s' text 16,%d '%s'\n" "$BOLD" "$NAVY" $y "$name"
        printf "font '%s' font-size 11 fill '%s' text 150,%d '%s'\n" "$FONT" "$INK" $y "$text"
        y=$((y + 22))
    done <<'ITEMS'
Drive|The volume being analysed.
Total space|Size of the volume, in KB.
Free space|Space no file uses, in KB.
Cluster size|Bytes in one allocation unit.
Files|Files found so far, empty ones too.
Allocated|Space the files take, in KB and %.
Fragmented files|Files in more than one extent.
Total extents|Runs of clusters, all files together.
Average extents|Extents per file; 1.00 is ideal.
Largest file|Biggest file in KB; path below.
Smallest file|Smallest file in bytes; path below.
Most extents|Most fragmented file; path below.
File being examined|The file measured now; at the end,
ITEMS
    printf "font '%s' font-size 11 fill '%s' text 150,%d '%s'\n" "$FONT" "$INK" $((y - 8)) 'the completion line.'
    printf "fill '%s' rectangle 16,%d 383,%d\n" "$FIELD" $((y + 6)) $((y + 7))
    printf "font '%s' font-size 11 fill '%s' text 16,%d '%s'\n" "$FONT" "$MUTED" $((y + 24)) 'Pause and Continue are in the Analysis menu.'
} > "$TMP/instruc.mvg"
"$CONVERT" -size ${DLG_W}x${DLG_H} xc:"$PAGE" -draw "$(cat "$TMP/instruc.mvg")" "$TMP/instruc.png"
to_bmp8 "$TMP/instruc.png" "$OUT/Instruc.Bmp"

# ---------------------------------------------------------------- Promo.Bmp
# Quellix: what it does, a before/after row of clusters, how to order.
cells() {   # y, then one colour letter per cluster: a accent, g good, e free
    y=$1; x=40
    for c in $(echo "$2" | sed 's/./& /g'); do
        case $c in a) col=$ACCENT ;; g) col=$GOOD ;; *) col=$FIELD ;; esac
        printf "fill '%s' stroke '%s' rectangle %d,%d %d,%d\n" "$col" "$SHADOW" $x "$y" $((x + 14)) $((y + 18))
        x=$((x + 16))
    done
    echo "stroke none"
}
{
    echo "viewbox 0 0 $DLG_W $DLG_H"
    printf "fill '%s' rectangle 0,0 %d,110\n" "$NAVY" $((DLG_W - 1))
    printf "font '%s' font-size 40 fill '#FFFFFF' text 24,60 'Quellix'\n" "$BOLD"
    printf "font '%s' font-size 15 fill '%s' text 26,90 'defragments your FAT volumes'\n" "$FONT" "$PALE"

    echo "font '$FONT' font-size 13"
    printf "fill '%s' text 24,140 'Vantrel has shown where your files lie in'\n" "$INK"
    printf "fill '%s' text 24,158 'pieces. Quellix puts every file back into'\n" "$INK"
    printf "fill '%s' text 24,176 'one run of clusters.'\n" "$INK"

    printf "font '%s' font-size 11 fill '%s' text 40,206 'Before'\n" "$BOLD" "$MUTED"
    cells 212 'agaegaageagegaeagaga'
    printf "font '%s' font-size 11 fill '%s' text 40,256 'After Quellix'\n" "$BOLD" "$MUTED"
    cells 262 'aaaaaaaaagggggggeeee'

    echo "font '$FONT' font-size 13"
    printf "fill '%s' text 24,318 '-  Joins the extents of fragmented files'\n" "$INK"
    printf "fill '%s' text 24,338 '-  Works on FAT12 and FAT16 volumes'\n" "$INK"
    printf "fill '%s' text 24,358 '-  Run Vantrel again to see the difference'\n" "$INK"

    printf "fill '%s' rectangle 20,384 379,452\n" "$ACCENT"
    printf "font '%s' font-size 20 fill '#FFFFFF' text 36,414 'Order Quellix'\n" "$BOLD"
    printf "font '%s' font-size 12 fill '#FFFFFF' text 36,438 'from the maker of Vantrel'\n" "$FONT"
} > "$TMP/promo.mvg"
"$CONVERT" -size ${DLG_W}x${DLG_H} xc:"$PAGE" -draw "$(cat "$TMP/promo.mvg")" "$TMP/promo.png"
to_bmp8 "$TMP/promo.png" "$OUT/Promo.Bmp"

# ---------------------------------------------------------------- kivnt.ico
# A hard-disk platter in a grey case with coloured file extents on it.
"$CONVERT" -size 32x32 xc:none \
    -fill "$SHADOW" -draw "roundrectangle 1,3 30,28 4,4" \
    -fill '#D5DBE4' -draw "roundrectangle 2,4 29,27 3,3" \
    -fill "$NAVY" -draw "circle 15.5,15.5 15.5,5" \
    -fill none -strokewidth 2 \
    -stroke "$GOOD" -draw "arc 8,8 23,23 200,330" \
    -stroke "$ACCENT" -draw "arc 8,8 23,23 20,70" \
    -stroke "$ACCENT" -draw "arc 8,8 23,23 110,150" \
    -stroke none -fill '#FFFFFF' -draw "circle 15.5,15.5 15.5,13.5" \
    "$TMP/icon32.png"
"$CONVERT" -size 16x16 xc:none \
    -fill "$SHADOW" -draw "roundrectangle 0,1 15,14 2,2" \
    -fill '#D5DBE4' -draw "roundrectangle 1,2 14,13 2,2" \
    -fill "$NAVY" -draw "circle 7.5,7.5 7.5,2.5" \
    -fill "$ACCENT" -draw "rectangle 9,4 10,5" \
    -fill "$GOOD" -draw "rectangle 4,9 6,10" \
    -fill '#FFFFFF' -draw "point 7,7 point 8,7 point 7,8 point 8,8" \
    "$TMP/icon16.png"
"$CONVERT" "$TMP/icon32.png" "$TMP/icon16.png" "$OUT/kivnt.ico"

# ---------------------------------------------------------------- checks
# Header of every picture, and the exact field grey under every value of the
# results panel (cell plus margin).
python3 - "$OUT" <<'CHECK'
import struct, sys
out = sys.argv[1]
fields = [(318, 47, 2)] + [(234, y, 7) for y in
          (106, 126, 146, 186, 206, 226, 264, 284, 304, 342, 386, 428)] + \
         [(28, y, 41) for y in (364, 407, 450, 485)]
ok = True
for name in ("IntroFat.BMP", "KivNT.bmp", "Instruc.Bmp", "Promo.Bmp"):
    data = open(f"{out}/{name}", "rb").read()
    (bisize, width, height, planes, bits, comp, _, _, _,
     used, _) = struct.unpack_from("<IiiHHIIiiII", data, 14)
    off = struct.unpack_from("<I", data, 10)[0]
    ncol = used or 256
    table = [data[54 + 4 * i:54 + 4 * i + 3] for i in range(ncol)]
    grey = [i for i, c in enumerate(table) if c == b"\xc0\xc0\xc0"]
    good = (data[:2] == b"BM" and bisize == 40 and bits == 8 and height > 0
            and comp == 0 and planes == 1 and grey and off == 54 + 4 * ncol)
    print(f"{name}: {len(data)} bytes, {width}x{height}, biSize {bisize}, "
          f"biBitCount {bits}, compression {comp}, colours {ncol}, "
          f"0xC0C0C0 at index {grey}: {'ok' if good else 'BAD'}")
    ok &= bool(good)
    if name == "KivNT.bmp" and good:
        stride = (width + 3) & ~3
        def pixel(x, y):
            return data[off + (height - 1 - y) * stride + x]
        bad = 0
        for x, y, n in fields:
            for yy in range(y - 2, y + 15):
                for xx in range(x - 4, x + 8 * n + 4):
                    if table[pixel(xx, yy)] != b"\xc0\xc0\xc0":
                        bad += 1
        print(f"  {len(fields)} value fields: "
              f"{'all exactly 0xC0C0C0' if bad == 0 else f'{bad} pixels off'}")
        ok &= bad == 0
sys.exit(0 if ok else 1)
CHECK
