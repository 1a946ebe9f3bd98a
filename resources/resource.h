// Identifiers of the launcher's own resources, shared by the resource script and the code.
#pragma once

// Application icon.
#define IDR_MAINFRAME 128
// Progress window template and its controls.
#define IDD_PROGRESS 101
#define IDC_PROGRESS_BAR 1000
#define IDC_PROGRESS_LABEL 1002
// String table: the progress window's label.
#define IDS_PROGRESS_LABEL 102
