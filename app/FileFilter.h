// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Turns a filter in the "name|pattern|name|pattern||" form the texts are written in into
// Qt's "name (pattern);;name (pattern)". A name that already shows its pattern in brackets is
// kept as it stands; otherwise " (pattern)" is added so Qt can find it.
QString qtFileFilter(const QString& pairs);

inline const QString kHexFileFilter = QStringLiteral("Hex Files (*.hex)|*.hex|All Files (*.*)|*.*||");
