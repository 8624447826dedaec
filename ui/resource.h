// Identifiers of the extractor's resources and dialog controls (shared with extractor.rc).
#pragma once

#define IDS_WINDOW_TITLE 103
#define IDD_EXTRACT 103
#define IDI_LARGE 107
#define IDI_SMALL 108

#define IDC_PASSWORD 1001
#define IDC_FOLDER 1003
#define IDC_BROWSE 1004
#define IDC_FILENAME 1005
#define IDC_GO 1006
#define IDC_RIDDLE 1007
#define IDC_DESCRIPTION 1008

// The command that destroys the main window.
#define IDM_EXIT 105
