#include "RecordingFrontend.h"

std::string describe(const ControlStates& s) {
    return std::string("ok=") + (s.okCancelEnabled ? "1" : "0") + " program=" +
           (s.programIsCancel ? "Cancel" : "Program") + "/" + (s.programEnabled ? "1" : "0") +
           " others=" + (s.othersEnabled ? "1" : "0");
}

void RecordingFrontend::showMessage(const std::string& text) { calls.push_back("message: " + text); }
void RecordingFrontend::setStatusText(const std::string& text) {
    calls.push_back("status: " + text);
    if (onStatus) onStatus(text);
}

void RecordingFrontend::setControls(const ControlStates& states) {
    controls = states;
    calls.push_back("controls: " + describe(states));
}

void RecordingFrontend::setProgress(int percent) {
    // Only changes are worth a line: the tick sets the bar every 10 ms.
    if (percent != progress || calls.empty() || calls.back().rfind("progress: ", 0) != 0)
        calls.push_back("progress: " + std::to_string(percent));
    progress = percent;
}

void RecordingFrontend::showProgramDump(const std::string& text) {
    programDump = text;
    calls.push_back("programDump");
}

void RecordingFrontend::showEepromDump(const std::string& text) {
    eepromDump = text;
    calls.push_back("eepromDump");
}

void RecordingFrontend::setFieldText(Field field, const std::string& text) {
    static const char* const names[] = {"ConfigWord", "DeviceId", "UserId", "Socket"};
    fields[field] = text;
    calls.push_back(std::string("field ") + names[static_cast<int>(field)] + ": " + text);
}

void RecordingFrontend::setGroupCaptions(const std::string& program, const std::string& eeprom) {
    programCaption = program;
    eepromCaption = eeprom;
    calls.push_back("captions: " + program + " | " + eeprom);
}

void RecordingFrontend::setDeviceList(const std::vector<std::string>& names) {
    deviceList = names;
    calls.push_back("list: " + std::to_string(names.size()));
}

void RecordingFrontend::setDeviceListSelection(int index) {
    selection = index;
    calls.push_back("selection: " + std::to_string(index));
}

void RecordingFrontend::showVerifyError(const std::string& program, const std::string& eeprom,
                                        const std::string& config) {
    calls.push_back("verifyError: " + program + " " + eeprom + " " + config);
}

void RecordingFrontend::beginWaitCursor() {
    ++waitDepth;
    if (waitDepth > maxWaitDepth) maxWaitDepth = waitDepth;
    calls.push_back("wait+");
}

void RecordingFrontend::endWaitCursor() {
    --waitDepth;
    calls.push_back("wait-");
}

std::vector<std::string> RecordingFrontend::with(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& call : calls)
        if (call.rfind(prefix, 0) == 0) out.push_back(call.substr(prefix.size()));
    return out;
}

std::string RecordingFrontend::field(Field f) const {
    auto it = fields.find(f);
    return it == fields.end() ? "" : it->second;
}
