// SPDX-License-Identifier: MIT
#include "dialogs/DeviceIdDialog.h"

#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "ui_DeviceIdDialog.h"

DeviceIdDialog::DeviceIdDialog(const DeviceIdValues& values, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::DeviceIdDialog>()), values_(values) {
    ui_->setupUi(this);
    DialogUnits::layOut(this, proportionalDialogFont());
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    ui_->deviceName->setText(values_.deviceName);
    ui_->skipDeviceIdCheckBox->setChecked(values_.skipDeviceIdCheck != 0);
}

DeviceIdDialog::~DeviceIdDialog() = default;

void DeviceIdDialog::accept() {
    values_.skipDeviceIdCheck = ui_->skipDeviceIdCheckBox->isChecked() ? 1 : 0;
    QDialog::accept();
}
