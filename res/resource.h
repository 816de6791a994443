// Identifiers shared by the resource script (vantrel.rc) and the program:
// menu commands, drive-dialog controls and About-box static texts.
#pragma once

// Menu commands of the KIVIFAT menu, and the command sent to the Quellix
// control window at exit.
#define KIV_START         1301
#define KIV_PAUSE         1302
#define KIV_CONTINUE      1303
#define KIV_EXIT          1304
#define KIV_NOTIFY_DRIVE  1305
#define KIV_ABOUT         1306
#define KIV_ORDER         1307
#define KIV_INSTRUC       1308
// Posted by the scan thread when an analysis ends; also defined in
// src/app/kivifat.h with the same value.
#ifndef KIV_END
#define KIV_END           1309
#endif

// Controls of the drive-selection dialog OPENVOLUME.
#define IDC_DRIVELIST     1003
#define IDC_START         1005

// Static texts of the About box ABOUTBOX: the title line and the notice
// block, lines 1 to 13.
#define IDC_ABOUT_TITLE   300
#define IDC_ABOUT_LINE1   301
#define IDC_ABOUT_LINE2   302
#define IDC_ABOUT_LINE3   303
#define IDC_ABOUT_LINE4   304
#define IDC_ABOUT_LINE5   305
#define IDC_ABOUT_LINE6   306
#define IDC_ABOUT_LINE7   307
#define IDC_ABOUT_LINE8   308
#define IDC_ABOUT_LINE9   309
#define IDC_ABOUT_LINE10  310
#define IDC_ABOUT_LINE11  311
#define IDC_ABOUT_LINE12  312
#define IDC_ABOUT_LINE13  313
