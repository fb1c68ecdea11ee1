#include "app/FileFilter.h"

#include <QStringList>

QString qtFileFilter(const QString& pairs) {
    QStringList parts = pairs.split(QLatin1Char('|'));
    while (!parts.isEmpty() && parts.last().isEmpty()) parts.removeLast();
    QStringList filters;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString name = parts[i].trimmed();
        const QString pattern = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
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
