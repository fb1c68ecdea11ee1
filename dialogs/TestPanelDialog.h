// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

#include <memory>

class Programmer;
namespace Ui { class TestPanelDialog; }

// Drives the programmer's outputs one at a time. Every click sends that button's control code
// at once, a click on the selected button included; nothing is sent while no programmer is
// given. The buttons show the last click, never what the hardware reports.
class TestPanelDialog : public QDialog {
    Q_OBJECT
public:
    explicit TestPanelDialog(Programmer* programmer, QWidget* parent = nullptr);
    ~TestPanelDialog() override;

private:
    std::unique_ptr<Ui::TestPanelDialog> ui_;
    Programmer* programmer_;   // not owned
};
