// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>

// The application icon (a chip with a lightning bolt), from the compiled-in resources.
QIcon appIcon();
