// SPDX-License-Identifier: MIT
#include "dialogs/Translation.h"

#include <QCoreApplication>
#include <QTranslator>

bool applyLanguage(Language language, QTranslator& translator) {
    setLanguage(language);
    QCoreApplication::removeTranslator(&translator);
    if (language == Language::Japanese) return true;
    if (!translator.load(QStringLiteral(":/translations/korvalin_en.qm"))) return false;
    return QCoreApplication::installTranslator(&translator);
}
