// SPDX-License-Identifier: MIT
#include "app/FileFilter.h"

#include <QStringList>

QString qtFileFilter(const QString& pairs) {
    QStringList parts = pairs.split(QLatin1Char('|'));
    while (!parts.isEmpty() && parts.last().isEmpty()) parts.removeLast();
    QStringList filters;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        QString name = parts[i].trimmed();
        QString pattern = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
        // "*.*" means every file only where every name has a dot: here it would hide files
        // without an extension.
        if (pattern == QLatin1String("*.*")) {
            pattern = QStringLiteral("*");
            if (name.endsWith(QLatin1String("(*.*)"))) {
                name.chop(5);
                name.append(QLatin1String("(*)"));
            }
        }
        if (name.isEmpty() && pattern.isEmpty()) continue;
        // Qt reads the patterns from the last bracketed group of the name.
        const QString shown = QStringLiteral("(%1)").arg(pattern);
        if (pattern.isEmpty() || name.endsWith(shown))
            filters.append(name.isEmpty() ? shown : name);
        else
            filters.append(name.isEmpty() ? shown : name + QLatin1Char(' ') + shown);
    }
    return filters.join(QStringLiteral(";;"));
}
