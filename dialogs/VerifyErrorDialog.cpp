// SPDX-License-Identifier: MIT
#include "dialogs/VerifyErrorDialog.h"

#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "ui_VerifyErrorDialog.h"

VerifyErrorDialog::VerifyErrorDialog(const QString& program, const QString& eeprom,
                                     const QString& config, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::VerifyErrorDialog>()) {
    ui_->setupUi(this);
    DialogUnits::layOut(this, proportionalDialogFont());
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
    ui_->programResult->setText(program);
    ui_->eepromResult->setText(eeprom);
    ui_->configResult->setText(config);
}

VerifyErrorDialog::~VerifyErrorDialog() = default;
