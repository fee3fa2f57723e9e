// Resource identifiers shared by the program and its resource script.
#pragma once

#define IDD_PROGRESS 101
#define IDC_PROGRESS_TEXT 1000
#define IDC_PROGRESS_BAR 1001
