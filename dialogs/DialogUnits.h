// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>
#include <QRect>

class QWidget;

// Converts dialog units to pixels for one font, the way dialog templates were laid out: a
// horizontal unit is a quarter of the font's average character width (the width of "A".."Z"
// "a".."z" divided by 52), a vertical unit an eighth of its height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int x(int dlu) const;
    int y(int dlu) const;
    QRect toPixels(const QRect& dlu) const;

    double averageCharWidth() const { return averageCharWidth_; }
    int fontHeight() const { return fontHeight_; }

    // The .ui files keep every geometry in dialog units, so that they read like the layout
    // tables they come from. This rescales the dialog and its direct children to pixels, sets
    // the font on the dialog and fixes its size.
    static void layOut(QWidget* dialog, const QFont& font);

private:
    double averageCharWidth_ = 0;
    int fontHeight_ = 0;
};
