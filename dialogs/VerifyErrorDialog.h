// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui { class VerifyErrorDialog; }

// Tells which of the three areas differed in the last verify: "OK" or "NG" each.
class VerifyErrorDialog : public QDialog {
    Q_OBJECT
public:
    VerifyErrorDialog(const QString& program, const QString& eeprom, const QString& config,
                      QWidget* parent = nullptr);
    ~VerifyErrorDialog() override;

private:
    std::unique_ptr<Ui::VerifyErrorDialog> ui_;
};
