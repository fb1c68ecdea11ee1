// SPDX-License-Identifier: MIT
#include "dialogs/DialogUnits.h"

#include <QFontMetrics>
#include <QLabel>
#include <QWidget>

#include <algorithm>

#include <cmath>

namespace {
const QString kAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

int scaled(int dlu, double base, int divisor) {
    return static_cast<int>(std::lround(dlu * base / divisor));
}
}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    averageCharWidth_ = metrics.horizontalAdvance(kAlphabet) / 52.0;
    fontHeight_ = metrics.height();
}

int DialogUnits::x(int dlu) const { return scaled(dlu, averageCharWidth_, 4); }

int DialogUnits::y(int dlu) const { return scaled(dlu, fontHeight_, 8); }

QRect DialogUnits::toPixels(const QRect& dlu) const {
    return QRect(x(dlu.x()), y(dlu.y()), x(dlu.width()), y(dlu.height()));
}

void DialogUnits::layOut(QWidget* dialog, const QFont& font) {
    dialog->setFont(font);
    const DialogUnits units(font);
    const QList<QWidget*> children =
        dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (child->isWindow()) continue;
        QRect pixels = units.toPixels(child->geometry());
        // Templates were sized for another font; a plain caption that this font makes wider
        // grows to the right rather than lose its end.
        auto* label = qobject_cast<QLabel*>(child);
        if (label && label->frameShape() == QFrame::NoFrame && !label->wordWrap() &&
            label->pixmap().isNull())
            pixels.setWidth(std::max(pixels.width(), label->sizeHint().width()));
        child->setGeometry(pixels);
    }
    const QSize size(units.x(dialog->width()), units.y(dialog->height()));
    dialog->setFixedSize(size);
}
