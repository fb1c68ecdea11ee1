// SPDX-License-Identifier: MIT
#include "app/WindowPrompts.h"

#include "app/FileFilter.h"
#include "dialogs/CalibrationDialog.h"
#include "dialogs/VerifyErrorDialog.h"
#include "operations/Texts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

QString chooseFileToOpen(QWidget* parent, const QString& folder) {
    return QFileDialog::getOpenFileName(parent, QString(), folder, qtFileFilter(kHexFileFilter));
}

QString chooseFileToSave(QWidget* parent, const QString& folder) {
    QFileDialog dialog(parent);
    if (!folder.isEmpty()) dialog.setDirectory(folder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(qtFileFilter(kHexFileFilter));
    dialog.setDefaultSuffix(QStringLiteral("hex"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(QStringLiteral("ReadData.hex"));
    if (dialog.exec() != QDialog::Accepted) return QString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void showStopMessage(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QStringLiteral("KorvalinLoader"), text, QMessageBox::Ok);
}

void showVerifyError(QWidget* parent, const QString& program, const QString& eeprom,
                     const QString& config) {
    VerifyErrorDialog dialog(program, eeprom, config, parent);
    dialog.exec();
}

std::optional<CalibrationChoice> askForCalibration(QWidget* parent, const QString& text,
                                                   const CalibrationChoice& suggested) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("KorvalinLoader"), text, QMessageBox::Ok,
                    parent);
    QPushButton* give =
        box.addButton(QString::fromUtf8(texts::calibrationChooseButton), QMessageBox::ActionRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    if (box.clickedButton() != give) return std::nullopt;
    CalibrationDialog dialog(suggested, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.values();
}

}  // namespace

WindowPrompts WindowPrompts::standard() {
    return WindowPrompts{chooseFileToOpen, chooseFileToSave, showStopMessage, showVerifyError,
                         askForCalibration};
}
