// SPDX-License-Identifier: MIT
#include "dialogs/ConfigWordDialog.h"

#include "dialogs/BitTags.h"
#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/HexText.h"
#include "ui_ConfigWordDialog.h"

namespace {
constexpr int kBitsPerWord = 14;
}

ConfigWordDialog::ConfigWordDialog(const ConfigWordValues& values, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ConfigWordDialog>()), values_(values) {
    ui_->setupUi(this);
    DialogUnits::layOut(this, proportionalDialogFont());
    cells_ = {ui_->cell0, ui_->cell1, ui_->cell2,  ui_->cell3,  ui_->cell4,  ui_->cell5,  ui_->cell6,
              ui_->cell7, ui_->cell8, ui_->cell9, ui_->cell10, ui_->cell11, ui_->cell12, ui_->cell13};
    names_ = {ui_->name0, ui_->name1, ui_->name2,  ui_->name3,  ui_->name4,  ui_->name5,  ui_->name6,
              ui_->name7, ui_->name8, ui_->name9, ui_->name10, ui_->name11, ui_->name12, ui_->name13};
    for (int bit = 0; bit < kBitsPerWord; ++bit)
        connect(cells_[bit], &ClickableLabel::clicked, this,
                [this, bit] { toggleBit(bit); });
    connect(ui_->nextButton, &QPushButton::clicked, this, &ConfigWordDialog::nextPage);
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    ui_->deviceName->setText(values_.deviceName);
    ui_->protectOffBox->setChecked(values_.protectOff != 0);
    if (values_.family == 0) {
        ui_->nextButton->hide();
    } else {
        configBitTags2_ = values_.configBitTags;
        takeBitTags(configBitTags2_, kBitsPerWord);
    }
    showBitTags(values_.configBitTags);
    showBits(values_.configWord);
    showHex();
    page_ = 1;
}

ConfigWordDialog::~ConfigWordDialog() = default;

// Clearing a bit goes through the 14-bit mask, so a word that came in with bits 14 and 15 set
// loses them at its first cleared bit; setting a bit leaves the others alone.
void ConfigWordDialog::toggleBit(int bit) {
    if (bit < 0 || bit >= kBitsPerWord) return;
    const uint16_t mask = static_cast<uint16_t>(1u << bit);
    if (workingWord_ & mask)
        workingWord_ &= static_cast<uint16_t>(0x3FFF & ~mask);
    else
        workingWord_ |= mask;
    showHex();
    cells_[bit]->setText((workingWord_ & mask) ? QStringLiteral("1") : QStringLiteral("0"));
}

void ConfigWordDialog::nextPage() {
    if (page_ == 1) {
        values_.configWord = workingWord_;
        page_ = 2;
        showBitTags(configBitTags2_);
        showBits(values_.configWord2);
    } else {
        values_.configWord2 = workingWord_;
        page_ = 1;
        showBitTags(values_.configBitTags);
        showBits(values_.configWord);
    }
    showHex();
}

// Every way out keeps the edits of the page on show, so both words are complete after OK
// whichever page was last visible.
void ConfigWordDialog::done(int result) {
    if (page_ == 1)
        values_.configWord = workingWord_;
    else
        values_.configWord2 = workingWord_;
    if (result == QDialog::Accepted) values_.protectOff = ui_->protectOffBox->isChecked() ? 1 : 0;
    QDialog::done(result);
}

void ConfigWordDialog::showBitTags(const QString& tags) {
    QString rest = tags;
    const QStringList taken = takeBitTags(rest, kBitsPerWord);
    // The first tag names bit 13.
    for (int k = 0; k < kBitsPerWord; ++k) names_[kBitsPerWord - 1 - k]->setText(taken[k]);
}

void ConfigWordDialog::showBits(uint16_t word) {
    workingWord_ = word;
    for (int bit = 0; bit < kBitsPerWord; ++bit)
        cells_[bit]->setText(((word >> bit) & 1) ? QStringLiteral("1") : QStringLiteral("0"));
}

void ConfigWordDialog::showHex() {
    ui_->valueField->setText(hexText(workingWord_, 4));
}
