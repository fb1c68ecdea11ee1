// SPDX-License-Identifier: MIT
#include "dialogs/DialogFonts.h"

#include <QFontDatabase>
#include <QFontInfo>

namespace {
constexpr int kPointSize = 9;

QFont pick(const QString& family, QFontDatabase::SystemFont fallback) {
    if (QFontDatabase::hasFamily(family)) {
        QFont font(family, kPointSize);
        if (fallback == QFontDatabase::FixedFont) font.setStyleHint(QFont::TypeWriter);
        return font;
    }
    QFont font = QFontDatabase::systemFont(fallback);
    font.setPointSize(kPointSize);
    return font;
}
}  // namespace

QFont fixedDialogFont() {
    return pick(QStringLiteral("Noto Sans Mono CJK JP"), QFontDatabase::FixedFont);
}

QFont proportionalDialogFont() {
    return pick(QStringLiteral("Noto Sans CJK JP"), QFontDatabase::GeneralFont);
}
