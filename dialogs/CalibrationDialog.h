// SPDX-License-Identifier: MIT
#pragma once

#include "operations/Frontend.h"

#include <QDialog>

#include <memory>

namespace Ui { class CalibrationDialog; }

// The calibration word and band-gap bits to write instead of what the chip gave. OK takes only
// a factory word (RETLW, 34xx); Cancel is the default, so Enter never erases a chip by accident.
class CalibrationDialog : public QDialog {
    Q_OBJECT
public:
    explicit CalibrationDialog(const CalibrationChoice& values, QWidget* parent = nullptr);
    ~CalibrationDialog() override;

    CalibrationChoice values() const { return values_; }
    void accept() override;

private:
    bool wordGiven(uint16_t& word) const;

    std::unique_ptr<Ui::CalibrationDialog> ui_;
    CalibrationChoice values_;
};
