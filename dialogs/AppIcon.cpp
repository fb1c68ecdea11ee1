// SPDX-License-Identifier: MIT
#include "dialogs/AppIcon.h"

// The resources live in a static library; nothing else references them, so they are pulled in
// by name here, once.
static void initialiseIconResources() { Q_INIT_RESOURCE(korvalin); }

QIcon appIcon() {
    static const bool initialised = (initialiseIconResources(), true);
    (void)initialised;
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/icons/korvalin-%1.png").arg(size), QSize(size, size));
    return icon;
}
