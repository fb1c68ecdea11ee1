// SPDX-License-Identifier: MIT
#include "dialogs/BitTags.h"

QStringList takeBitTags(QString& tags, int count) {
    QStringList taken;
    taken.reserve(count);
    for (int i = 0; i < count; ++i) {
        const qsizetype end = tags.indexOf(QLatin1Char(']'));
        if (end < 0) {
            taken.append(QString());
            continue;
        }
        taken.append(tags.left(end + 1));
        tags.remove(0, end + 1);
    }
    return taken;
}
