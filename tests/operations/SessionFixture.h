// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

#include "operations/Frontend.h"
#include "operations/Session.h"
#include "operations/Texts.h"
#include "programmer/UsbDriver.h"
#include "sim/SimulatedDriver.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

inline const std::string kWrite = "Program / EEPROM Write";
inline const std::string kRead = "Program / EEPROM Read";
inline const std::string kVerify = "Program / EEPROM Verify";
inline const std::string kProtect = "Code Protect Write";
inline const std::string kErase = "Program / EEPROM Erase";
inline const std::string kCalRead = "OSC Calibration Data Read";
inline const std::string kCalWrite = "OSC Calibration Data Write";
inline const std::string kAllEnabled = "ok=1 program=Program/1 others=1";

std::string describe(const ControlStates& states);   // "ok=0 program=Cancel/1 others=0"

// Expected texts are written out here, never made by the formatters under test.
inline std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}
inline std::string notFactoryMessage(uint16_t read, int bits, const std::string& lastGood) {
    return "OSC校正値が工場出荷値ではありません (読出値 " + hex4(read) + " BG" + std::to_string(bits) +
           ")。\n記録にある最後の正常値: " + lastGood + "\nチップは消去していません。";
}

// Records every call in order as one line ("status: Program / EEPROM Write", "message: ...",
// "controls: ...", "field1: ----", "programDump: ...") from which the tests read what is shown.
class RecordingFrontend : public Frontend {
public:
    std::vector<std::string> calls;
    ControlStates controls;
    int waitDepth = 0, maxWaitDepth = 0;
    // Called with every status text as it is set, on the session's thread.
    std::function<void(const std::string&)> onStatus;

    void showMessage(const std::string& text) override { calls.push_back("message: " + text); }
    void setStatusText(const std::string& text) override {
        calls.push_back("status: " + text);
        if (onStatus) onStatus(text);
    }
    void setControls(const ControlStates& states) override {
        controls = states;
        calls.push_back("controls: " + describe(states));
    }
    void setProgress(int percent) override {
        // Only changes are worth a line: the tick sets the bar every 10 ms.
        const std::string line = "progress: " + std::to_string(percent);
        if (calls.empty() || calls.back() != line) calls.push_back(line);
    }
    void showProgramDump(const std::string& text) override {
        calls.push_back("programDump: " + text);
    }
    void showEepromDump(const std::string& text) override { calls.push_back("eepromDump: " + text); }
    void setFieldText(Field f, const std::string& text) override {
        calls.push_back(fieldKey(f) + text);
    }
    void setGroupCaptions(const std::string& program, const std::string& eeprom) override {
        calls.push_back("captions: " + program + " | " + eeprom);
    }
    void setDeviceList(const std::vector<std::string>& names) override {
        std::string line = "list:";
        for (const std::string& name : names) line += " " + name + ";";
        calls.push_back(line);
    }
    void setDeviceListSelection(int index) override {
        calls.push_back("selection: " + std::to_string(index));
    }
    void showVerifyError(const std::string& program, const std::string& eeprom,
                         const std::string& config) override {
        calls.push_back("verifyError: " + program + " " + eeprom + " " + config);
    }
    // What the user answers when asked for a calibration word; unset: Cancel.
    std::optional<CalibrationChoice> calibrationAnswer;
    std::optional<CalibrationChoice> askCalibration(const std::string& text,
                                                    const CalibrationChoice& suggested) override {
        calls.push_back("message: " + text);
        calls.push_back("suggested: " + hex4(suggested.word) + " " + std::to_string(suggested.bits));
        return calibrationAnswer;
    }
    void beginWaitCursor() override { maxWaitDepth = std::max(maxWaitDepth, ++waitDepth); }
    void endWaitCursor() override { --waitDepth; }

    // The recorded lines that begin with prefix, with the prefix taken off; the latest of them
    // ("" when there is none).
    std::vector<std::string> with(const std::string& prefix) const;
    std::string latest(const std::string& prefix) const;
    std::vector<std::string> messages() const { return with("message: "); }
    std::vector<std::string> statuses() const { return with("status: "); }
    std::vector<std::string> verifyErrors() const { return with("verifyError: "); }
    static std::string fieldKey(Field f) {
        return "field" + std::to_string(static_cast<int>(f)) + ": ";
    }
    std::string field(Field f) const { return latest(fieldKey(f)); }
};

// Passes everything to the simulated programmer and records every script written, in order.
// A gate can hold the worker before a chosen write until the test releases it, so that a
// cancel or an unplug lands inside a step for certain.
class RecordingDriver : public UsbDriver {
    struct Pipe : UsbPipe {
        Pipe(RecordingDriver& owner, UsbPipe* inner) : owner(owner), inner(inner) {}
        int write(const uint8_t* data, std::size_t length, int timeoutMs) override {
            owner.recordWrite(data, length);
            return inner ? inner->write(data, length, timeoutMs) : -1;
        }
        int read(uint8_t* data, std::size_t length, int timeoutMs) override {
            return inner ? inner->read(data, length, timeoutMs) : -1;
        }
        RecordingDriver& owner;
        UsbPipe* inner;
    };

public:
    explicit RecordingDriver(UsbDriver& inner) : inner_(inner) {}

    int openProgrammer() override { return inner_.openProgrammer(); }
    UsbPipe* openPipe(int handle, int reserved, int index) override {
        UsbPipe* inner = inner_.openPipe(handle, reserved, index);
        std::lock_guard lock(mutex_);
        return pipes_.emplace_back(std::make_unique<Pipe>(*this, inner)).get();
    }
    int isRemoved(int handle) override { return inner_.isRemoved(handle); }
    void closeProgrammer(int handle) override { inner_.closeProgrammer(handle); }

    std::vector<std::vector<uint8_t>> scripts() const {
        std::lock_guard lock(mutex_);
        return scripts_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        scripts_.clear();
    }

    // Holds the write with this index (counted from now) until release(). Writes of the thread
    // that set the gate pass: the session's own thread must never be stopped.
    void holdAt(std::size_t writeIndex) {
        std::lock_guard lock(mutex_);
        holdAt_ = static_cast<int64_t>(scripts_.size() + writeIndex);
        gateSetter_ = std::this_thread::get_id();
    }
    bool isHeld() const {
        std::lock_guard lock(mutex_);
        return held_;
    }
    void release() {
        std::lock_guard lock(mutex_);
        holdAt_ = -1;
        changed_.notify_all();
    }

private:
    void recordWrite(const uint8_t* data, std::size_t length) {
        std::unique_lock lock(mutex_);
        if (holdAt_ >= 0 && std::this_thread::get_id() != gateSetter_ &&
            static_cast<int64_t>(scripts_.size()) >= holdAt_) {
            held_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return holdAt_ < 0; });
            held_ = false;
        }
        scripts_.emplace_back(data, data + length);
    }

    UsbDriver& inner_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<uint8_t>> scripts_;
    int64_t holdAt_ = -1;
    bool held_ = false;
    std::thread::id gateSetter_;
    std::vector<std::unique_ptr<Pipe>> pipes_;
};

// Fixture: a session on a catalogue, a simulated programmer behind a recording driver.
class SessionTest : public ::testing::Test {
protected:
    RecordingFrontend frontend;
    std::unique_ptr<SimulatedDriver> sim;
    std::unique_ptr<RecordingDriver> recorder;
    std::unique_ptr<Session> session;

    // A session on the shipped catalogue (or catalogue when given) with device selected and
    // chip in the simulated programmer ("": none), attached, with the record cleared. A test
    // may open again: the earlier session, programmer and record are dropped first.
    void open(const std::string& device, const std::string& chip, SimConfig config = {},
              const std::string& catalogue = "");
    // A session that is only initialised: no tick, no attach. Returns initialise()'s result.
    bool initialiseOn(const std::string& catalogue, const std::string& device,
                      std::vector<std::string> dirs = {});
    // Ticks until done() holds; false when it does not within the watchdog's seconds.
    // betweenTicks runs before every tick.
    bool tickUntil(const std::function<bool()>& done, int seconds,
                   const std::function<void()>& betweenTicks = {});
    // Ticks until the running chain has ended; false when it does not end.
    bool runChain(const std::function<void()>& betweenTicks = {}) {
        return tickUntil([this] { return !session->chainRunning(); }, 60, betweenTicks);
    }
    // Ticks until a worker waits at the recorder's gate: a step's status, and so holdInStep's
    // gate, comes only with the tick that finds its start checks done.
    bool tickUntilHeld() {
        return tickUntil([this] { return recorder->isHeld(); }, 20);
    }
    void press(void (Session::*button)()) {
        (session.get()->*button)();
        ASSERT_TRUE(runChain());
    }
    // Holds the worker at its writeIndex-th write of the step that shows this status.
    void holdInStep(const std::string& step, std::size_t writeIndex) {
        frontend.onStatus = [this, step, writeIndex](const std::string& s) {
            if (s == step) recorder->holdAt(writeIndex);
        };
    }
    // Makes the simulated programmer stop answering, or go away, `after` exchanges into the step
    // that shows this status; the transfer time-out is cut short.
    void faultInStep(const std::string& step, int64_t after, bool unplug = false);

    SimChipState chip() const { return sim->chipState(); }
    void setChip(const std::function<void(SimChipState&)>& change) {
        SimChipState state = chip();
        change(state);
        ASSERT_TRUE(sim->setChipState(state));
    }
    std::string tempPath(const std::string& name);   // in a folder removed after the test
    std::string writeCatalogue(const std::vector<std::string>& lines);
    // A line of the shipped catalogue, columns as in the file (TABs included).
    static std::string shippedLine(const std::string& device);

    // An image of the selected device's geometry with every cell different from blank.
    MemoryImage patternImage(uint16_t configWord, uint16_t userId = 0x1234) const;
    // Writes image as a HEX file and opens it in the session as File Open does.
    void openImage(const MemoryImage& image) {
        const std::string path = tempPath("image.hex");
        ASSERT_TRUE(image.saveHex(path, true, 0x3FFF));
        ASSERT_TRUE(session->openHexFile(path));
    }

    void closeSession() {
        if (recorder) recorder->release();
        session.reset();
        recorder.reset();
    }
    void TearDown() override;

private:
    std::string tempDir_;
};
