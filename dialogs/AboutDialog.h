// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui { class AboutDialog; }

// The version box: icon, product name and "<program> Version 1.0.1". Either button closes it.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(const QString& programName, QWidget* parent = nullptr);
    ~AboutDialog() override;

private:
    std::unique_ptr<Ui::AboutDialog> ui_;
};
