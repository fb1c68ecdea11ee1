// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The fields of the window that show single values.
enum class Field { ConfigWord, DeviceId, UserId, Socket };

// Enabled states of the window's controls, computed by the session (setControlsEnabled).
struct ControlStates {
    bool okCancelEnabled = true;   // OK and the window's Cancel
    bool programIsCancel = false;  // the Program button reads "Cancel" instead of "Program"
    bool programEnabled = true;
    bool othersEnabled = true;     // Verify, Read, Erase, File Open, File Save, device list,
                                   // the four clickable fields and Test
};

// A calibration word to write instead of the chip's; bits < 0 keeps the chip's band-gap bits.
struct CalibrationChoice {
    uint16_t word = 0x3FFF;
    int bits = -1;
};

// Everything the user sees goes through here. The window implements it with widgets, the CLI
// with terminal lines, the tests with a recorder. Texts arrive exactly as they are to be shown.
class Frontend {
public:
    virtual ~Frontend() = default;
    virtual void showMessage(const std::string& text) = 0;       // modal, stop icon, one OK
    virtual void setStatusText(const std::string& text) = 0;
    virtual void setControls(const ControlStates& states) = 0;
    virtual void setProgress(int percent) = 0;                  // bar range 0..100
    virtual void showProgramDump(const std::string& text) = 0;
    virtual void showEepromDump(const std::string& text) = 0;
    virtual void setFieldText(Field field, const std::string& text) = 0;
    virtual void setGroupCaptions(const std::string& program, const std::string& eeprom) = 0;
    virtual void setDeviceList(const std::vector<std::string>& names) = 0;
    virtual void setDeviceListSelection(int index) = 0;         // -1: no selection
    virtual void showVerifyError(const std::string& program, const std::string& eeprom,
                                 const std::string& config) = 0; // "OK"/"NG" each, modal
    virtual void beginWaitCursor() = 0;
    virtual void endWaitCursor() = 0;
    // The chip's calibration cannot be written back as read; message says why and nothing has
    // been erased. A front end may let the user give a factory word instead (suggested: the last
    // good one known); nullopt ends the chain.
    virtual std::optional<CalibrationChoice> askCalibration(const std::string& message,
                                                            const CalibrationChoice& suggested) {
        (void)suggested;
        showMessage(message);
        return std::nullopt;
    }
};
