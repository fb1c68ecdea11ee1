// SPDX-License-Identifier: MIT
#include "dialogs/UserIdDialog.h"

#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/HexText.h"
#include "ui_UserIdDialog.h"

UserIdDialog::UserIdDialog(const UserIdValues& values, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::UserIdDialog>()), values_(values) {
    ui_->setupUi(this);
    DialogUnits::layOut(this, proportionalDialogFont());
    digits_ = {ui_->digit0, ui_->digit1, ui_->digit2, ui_->digit3};
    alignDigitsWithAddresses();
    for (int digit = 0; digit < 4; ++digit)
        connect(digits_[digit], &ClickableLabel::clicked, this, [this, digit] { stepNibble(digit); });
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    ui_->deviceName->setText(values_.deviceName);
    ui_->userIdOffBox->setChecked(values_.userIdOff != 0);
    showUserId();
}

UserIdDialog::~UserIdDialog() = default;

void UserIdDialog::stepNibble(int digit) {
    if (digit < 0 || digit > 3) return;
    const int shift = 4 * digit;
    const unsigned nibble = (values_.userId >> shift) & 0xF;
    const unsigned others = values_.userId & ~(0xFu << shift) & 0xFFFFu;
    values_.userId = static_cast<uint16_t>(others | (((nibble + 1) & 0xF) << shift));
    showUserId();
}

void UserIdDialog::accept() {
    values_.userIdOff = ui_->userIdOffBox->isChecked() ? 1 : 0;
    QDialog::accept();
}

// Each digit cell stands centred under its address in the address row, whatever the font
// makes of that row's width.
void UserIdDialog::alignDigitsWithAddresses() {
    const QLabel* row = ui_->addressRow;
    const QString text = row->text();
    const QFontMetrics metrics(row->font());
    const QStringList addresses = text.split(QStringLiteral(" : "));
    if (addresses.size() != 4) return;
    qsizetype from = 0;
    for (int i = 0; i < 4; ++i) {
        const qsizetype at = text.indexOf(addresses[i], from);
        from = at + addresses[i].size();
        const int centre = row->x() + row->contentsRect().x() + metrics.horizontalAdvance(text.left(at)) +
                           metrics.horizontalAdvance(addresses[i]) / 2;
        ClickableLabel* cell = digits_[3 - i];   // the leftmost address is the highest digit
        cell->move(centre - cell->width() / 2, cell->y());
    }
}

void UserIdDialog::showUserId() {
    ui_->valueField->setText(hexText(values_.userId, 4));
    for (int digit = 0; digit < 4; ++digit)
        digits_[digit]->setText(hexText((values_.userId >> (4 * digit)) & 0xF, 1));
}
