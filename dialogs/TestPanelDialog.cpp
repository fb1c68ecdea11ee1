// SPDX-License-Identifier: MIT
#include "dialogs/TestPanelDialog.h"

#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "programmer/Programmer.h"
#include "ui_TestPanelDialog.h"

TestPanelDialog::TestPanelDialog(Programmer* programmer, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TestPanelDialog>()), programmer_(programmer) {
    ui_->setupUi(this);
    DialogUnits::layOut(this, proportionalDialogFont());

    // The programmer's control codes.
    const std::pair<QAbstractButton*, int> codes[] = {
        {ui_->ledOn, 0},        {ui_->ledOff, 1},      {ui_->dcdcOn, 2},      {ui_->dcdcOff, 3},
        {ui_->mclrVpp, 4},      {ui_->mclrReset, 5},   {ui_->mclrNormal, 6},  {ui_->socket8_18, 7},
        {ui_->socket28_40, 8},  {ui_->socketIcsp, 9},  {ui_->fiveVoltOn, 10}, {ui_->fiveVoltOff, 11},
    };
    for (const auto& [button, code] : codes) {
        connect(button, &QAbstractButton::clicked, this, [this, code = code] {
            if (programmer_) programmer_->sendControl(code);
        });
    }
    connect(ui_->exitButton, &QPushButton::clicked, this, &QDialog::accept);

    // The safe state the window has just sent; nothing is sent here.
    ui_->ledOn->setChecked(true);
    ui_->dcdcOff->setChecked(true);
    ui_->mclrNormal->setChecked(true);
    ui_->socketIcsp->setChecked(true);
    ui_->fiveVoltOff->setChecked(true);
}

TestPanelDialog::~TestPanelDialog() = default;
