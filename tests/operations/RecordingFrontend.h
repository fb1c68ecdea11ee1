#pragma once

#include "operations/Frontend.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

// Records every call in order as one line ("status: Program / EEPROM Write", "message: ...",
// "controls: ok=0 program=Cancel/1 others=0", ...) and keeps the latest value of each display.
class RecordingFrontend : public Frontend {
public:
    std::vector<std::string> calls;

    std::string programDump, eepromDump;
    std::map<Field, std::string> fields;
    std::string programCaption = "Program Memorys", eepromCaption = "EEPROM Memorys";
    std::vector<std::string> deviceList;
    int selection = -1;
    int progress = 0;
    ControlStates controls;
    int waitDepth = 0;
    int maxWaitDepth = 0;
    // Called with every status text as it is set, on the session's thread.
    std::function<void(const std::string&)> onStatus;

    void showMessage(const std::string& text) override;
    void setStatusText(const std::string& text) override;
    void setControls(const ControlStates& states) override;
    void setProgress(int percent) override;
    void showProgramDump(const std::string& text) override;
    void showEepromDump(const std::string& text) override;
    void setFieldText(Field field, const std::string& text) override;
    void setGroupCaptions(const std::string& program, const std::string& eeprom) override;
    void setDeviceList(const std::vector<std::string>& names) override;
    void setDeviceListSelection(int index) override;
    void showVerifyError(const std::string& program, const std::string& eeprom,
                         const std::string& config) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;

    // The recorded lines that begin with prefix, with the prefix taken off.
    std::vector<std::string> with(const std::string& prefix) const;
    std::vector<std::string> messages() const { return with("message: "); }
    std::vector<std::string> statuses() const { return with("status: "); }
    std::vector<std::string> verifyErrors() const { return with("verifyError: "); }
    std::string field(Field f) const;
    void clear() { calls.clear(); }
};

std::string describe(const ControlStates& states);
