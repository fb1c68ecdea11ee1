// SPDX-License-Identifier: MIT
#pragma once

#include "operations/Frontend.h"

#include <QString>

#include <functional>
#include <optional>

class QWidget;

// The window's modal questions and messages, replaceable so that tests can answer them
// without a modal loop. standard() gives the real dialogs.
struct WindowPrompts {
    // A full path, or an empty string when the user cancelled. The dialog starts in folder
    // (empty: wherever the platform starts it).
    std::function<QString(QWidget* parent, const QString& folder)> openFile;
    std::function<QString(QWidget* parent, const QString& folder)> saveFile;
    // A stop-icon box with one OK, captioned "KorvalinLoader".
    std::function<void(QWidget* parent, const QString& text)> message;
    // The "Verify Error" dialog: "OK" or "NG" for each area.
    std::function<void(QWidget* parent, const QString& program, const QString& eeprom,
                       const QString& config)>
        verifyError;

    // The stop box for a calibration that cannot be written back as read, with a button that
    // opens the calibration dialog; the word and bits given there, or nullopt.
    std::function<std::optional<CalibrationChoice>(QWidget* parent, const QString& text,
                                                   const CalibrationChoice& suggested)>
        calibration;

    static WindowPrompts standard();
};
