// SPDX-License-Identifier: MIT
#pragma once

#include "programmer/usb/UsbProbe.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Ui { class UsbSetupDialog; }

// What the USB setup shows: the devices that can be the programmer and where the window
// stands with them.
struct UsbSetupValues {
    std::vector<UsbCandidate> candidates;
    std::string listError;        // why there is no list at all
    uint16_t vendorId = 0;        // the remembered choice; 0:0 none
    uint16_t productId = 0;
    std::string serial;
    std::string connectedPath;    // the programmer the window has open, ""
    bool chosenBusy = false;      // the chosen one is held by another program
};

struct UsbSetupActions {
    std::function<UsbSetupValues()> refresh;
    std::function<UsbProbe(const UsbCandidate&)> probe;
};

// Lists the candidates, asks one who it is on request, and on "use this one" hands back that
// candidate (accepted); closing hands back nothing.
class UsbSetupDialog : public QDialog {
    Q_OBJECT
public:
    UsbSetupDialog(const UsbSetupValues& values, UsbSetupActions actions, QWidget* parent = nullptr);
    ~UsbSetupDialog() override;

    const UsbCandidate& chosen() const { return chosen_; }
    void accept() override;

private:
    void showValues(const UsbSetupValues& values);
    void onProbe();
    int selectedRow() const;

    std::unique_ptr<Ui::UsbSetupDialog> ui_;
    UsbSetupActions actions_;
    UsbSetupValues values_;
    UsbCandidate chosen_;
};
