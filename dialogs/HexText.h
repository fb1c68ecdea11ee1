// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Upper-case hexadecimal with leading zeros, at least width digits ("%04X", "%01X").
inline QString hexText(unsigned value, int width) {
    return QString::number(value, 16).toUpper().rightJustified(width, QLatin1Char('0'));
}
