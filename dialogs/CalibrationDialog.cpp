// SPDX-License-Identifier: MIT
#include "dialogs/CalibrationDialog.h"

#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "operations/CalibrationJournal.h"
#include "ui_CalibrationDialog.h"

#include <QRegularExpressionValidator>

CalibrationDialog::CalibrationDialog(const CalibrationChoice& values, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CalibrationDialog>()), values_(values) {
    ui_->setupUi(this);
    DialogUnits::layOut(this, proportionalDialogFont());
    ui_->wordEdit->setFont(fixedDialogFont());
    ui_->wordEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9A-Fa-f]{0,4}")), ui_->wordEdit));
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->wordEdit, &QLineEdit::textChanged, this, [this] {
        uint16_t word = 0;
        ui_->okButton->setEnabled(wordGiven(word));
    });
    ui_->wordEdit->setText(QStringLiteral("%1").arg(values_.word, 4, 16, QLatin1Char('0')).toUpper());
    ui_->bitsSpin->setValue(values_.bits < 0 ? 0 : values_.bits);
    uint16_t word = 0;
    ui_->okButton->setEnabled(wordGiven(word));
    ui_->cancelButton->setFocus();
}

CalibrationDialog::~CalibrationDialog() = default;

bool CalibrationDialog::wordGiven(uint16_t& word) const {
    bool ok = false;
    const QString text = ui_->wordEdit->text();
    word = static_cast<uint16_t>(text.toUInt(&ok, 16));
    return ok && text.size() == 4 && isFactoryCalibration(word);
}

void CalibrationDialog::accept() {
    uint16_t word = 0;
    if (!wordGiven(word)) return;
    values_.word = word;
    values_.bits = ui_->bitsSpin->value();
    QDialog::accept();
}
