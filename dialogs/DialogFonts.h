// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>

// The two dialog fonts: a fixed-pitch one for the main window, whose dumps rely on equal
// column widths, and a proportional one for the other dialogs. Both 9 pt, Japanese-capable
// where the system has Noto CJK, else the system's own fixed or proportional font.
QFont fixedDialogFont();
QFont proportionalDialogFont();
