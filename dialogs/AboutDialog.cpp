// SPDX-License-Identifier: MIT
#include "dialogs/AboutDialog.h"

#include "dialogs/AppIcon.h"
#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "ui_AboutDialog.h"

AboutDialog::AboutDialog(const QString& programName, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AboutDialog>()) {
    ui_->setupUi(this);
    DialogUnits::layOut(this, proportionalDialogFont());
    // The default button carries the Cancel identity and the other one the OK identity; both
    // simply close the box, whose result nobody reads.
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->closeButton, &QPushButton::clicked, this, &QDialog::accept);
    const QSize iconSize = ui_->icon->size();
    ui_->icon->setPixmap(appIcon().pixmap(iconSize));
    ui_->versionLine->setText(programName + QStringLiteral(" Version 1.0.1"));
    setWindowIcon(appIcon());
}

AboutDialog::~AboutDialog() = default;
