// SPDX-License-Identifier: MIT
#pragma once

#include "Frontend.h"
#include "Operation.h"

#include "device/MemoryImage.h"
#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class UsbDriver;
struct DeviceRecord;

enum class StartCheck { Passed, TransferFailed, SocketEmpty, DeviceIdMismatch };

// The session a front end drives: device selection, the operation chains, verify, the file
// rules and the connection poll. Owns the Programmer and the MemoryImage. Runs on the front
// end's thread; only the worker it starts touches the Programmer meanwhile.
class Session {
public:
    Session(Frontend& frontend, UsbDriver* driver);
    ~Session();   // cancels and joins a worker that is still running
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Remembered options, stored as "do not" flags; any non-zero value counts as set.
    int32_t skipDeviceIdCheck = 0;
    int32_t protectOff = 0;
    int32_t userIdOff = 0;

    // Values of the selected device.
    std::string deviceName = "PIC16F628";
    std::string configBitTags;
    uint16_t configKeepMask = 0xFFFF;
    uint16_t protectOffBits = 0;
    uint16_t configWord2KeepMask = 0xFFFF;   // implemented bits of configuration word 2
    int32_t socketPins = 0;
    bool hasCalibrationWord = false;
    int32_t expectedDeviceId = 0;
    int32_t deviceIdMask = 0;

    // Where the catalogue is: catalogPath when set, else the first of catalogueDirs holding
    // "PicDeviceList.txt" (then kept in catalogPath). Front ends fill catalogueDirs (the
    // executable's folder first).
    std::string catalogPath;
    std::vector<std::string> catalogueDirs;

    // The calibration journal (calibrationJournalPath()); "" keeps none. Every calibration read
    // is on the disk there before anything is erased.
    std::string calibrationJournal;
    // Written instead of the calibration read from the chip, when set (the CLI's --calibration).
    std::optional<CalibrationChoice> calibrationOverride;

    Operation currentOperation = Operation::None;
    // The operation whose start checks (socket selection, device ID) are running on the worker;
    // None otherwise. The step is armed, or refused, by the tick that finds them done.
    Operation startingOperation = Operation::None;
    Operation followUpOperation = Operation::None;
    bool programButtonIsCancel = false;
    bool verifyProgramOk = true;
    bool verifyEepromOk = true;
    bool verifyConfigOk = true;
    bool socketMode = true;           // true: the device's socket; false: ICSP
    bool lastChainOk = true;          // the last chain ran every step, without a transfer
                                      // failure, a refused start or a cancel, and verified OK
                                      // where it verified; for the CLI's exit code
    bool lastChainCancelled = false;  // the last chain ended on a cancel
    bool lastChainCalibrationRefused = false;   // stopped before the erase: no factory word
    bool lastChainCalibrationLost = false;      // erased, and the calibration not written back
    std::vector<std::string> deviceNames;   // the list, in file order

    Programmer programmer;
    MemoryImage image;
    LinkState link;                   // link.connected is the window's `connected`

    // Start-up: fill the list and select deviceName; false when the catalogue is missing
    // (the message has been shown; the front end then closes).
    bool initialise();
    bool fillDeviceList();
    // Applies the catalogue line of that name. Returns false when nothing was applied: a name
    // not in the list (lookUpInList), a missing catalogue, a name no longer in the file or an
    // unusable line; the last three show a message and put the list's selection back on the
    // device that stays in use.
    bool selectDevice(const std::string& name, bool lookUpInList);
    void onDeviceListChange(const std::string& name);

    // The 10 ms tick: connection poll, then onOperationTick.
    void tick();
    void onOperationTick();

    // Buttons. While a chain runs only the Program button acts, and only while it reads
    // "Cancel"; the others are ignored (their controls are disabled then).
    void onProgramButton();
    void onReadButton();
    void onVerifyButton();
    void onEraseButton();
    void onSocketFieldClick();
    // Cancels whatever step runs (the CLI's interrupt); the chain ends at its next tick.
    void cancelChain();

    // File Open after the dialog returned a path; false when the file could not be read (the
    // message has been shown and nothing changed). Resets the progress bar first.
    // A file that loads but is not what it seems (see HexLoadReport) is kept as loaded, with a
    // warning naming what was found; hexLoadReport keeps the facts for the caller.
    bool openHexFile(const std::string& path);
    // The same from a stream that is already open (the CLI's standard input).
    bool openHexStream(std::FILE* input);
    HexLoadReport hexLoadReport;
    // False when the file could not be written (the message has been shown; an existing file
    // is left as it was).
    bool saveHexFile(const std::string& path);
    // What saveHexFile writes, onto a stream (the CLI's standard output); false, with the
    // message shown, when it could not all be written.
    bool writeHexStream(std::FILE* output);

    // Results of the editors, applied as the window applies them. Ignored while a chain runs.
    void applyConfigWords(uint16_t configWord, uint16_t configWord2, int32_t protectOff);
    void applyUserId(uint16_t userId, int32_t userIdOff);
    void applySkipDeviceIdCheck(int32_t skip);

    void resetProgress();
    void setProgress(uint32_t done, uint32_t total);

    // True from the start of a chain until its last step has completed: front ends must not
    // end the session meanwhile.
    bool chainRunning() const {
        return currentOperation != Operation::None || startingOperation != Operation::None;
    }
    const ControlStates& controls() const { return controls_; }

    // Exposed for tests and the CLI. startOperation hands the start checks to a worker, so that
    // the front end's thread never waits on the chip's power-up; a later tick arms the step and
    // starts its transfer when they pass, or shows why not. False when refused at once (the
    // message has been shown).
    bool startOperation(Operation operation);
    bool verifyAgainstImage();
    void mergeCalibration();   // after a calibration read

private:
    void setControlsEnabled(bool enable);
    void startWorker(Operation operation);
    void completeStart();
    void armStep(Operation operation);
    void joinWorker();

    bool openCatalogue(std::string& path);
    void applyRecord(const DeviceRecord& record);
    void showAppliedSelection();
    bool refuseStart(const std::string& message);
    std::string transferFailureText();
    void readCompletion();
    void copyImageToProgrammer();
    bool openHex(const std::function<bool(MemoryImage&)>& load);
    bool takeLoadedHex(const MemoryImage& loaded, bool ok);
    void endChain(bool verifyResult, bool ok);
    void holdBackProtection();     // as a Program step starts
    bool protectionTookHold();     // after the protected configuration word was written
    bool acceptCalibration();
    bool journalCalibration(uint16_t word, uint16_t savedBits);
    // How a chain ends once the calibration is written back: with this failure, or cancelled.
    struct AfterWriteBack {
        std::string failure;
        bool cancelled = false;
    };
    bool writeBackBeforeEnding(Operation finished, const AfterWriteBack& after);
    void reportCalibrationLost();
    int calibrationBits(uint16_t saved) const;
    uint16_t savedBitsFor(int bits) const;

    void showProgramDump(const std::vector<uint16_t>& cells);
    void showEepromDump(const std::vector<uint16_t>& cells);
    void showIds(uint16_t userId, uint16_t deviceId, uint16_t configWord);
    void showDeviceId(uint16_t deviceId);
    void showSocket();

    Frontend& frontend_;
    std::thread worker_;
    // Written by the start checks' worker before it releases busy, read by the tick after it
    // has seen busy cleared.
    StartCheck startCheck_ = StartCheck::Passed;
    ControlStates controls_;
    bool deviceApplied_ = false;   // a catalogue line has been applied at least once
    // A protected chip reads its program memory as 0 and could never be verified: a Program
    // chain of an image with protection bits writes and verifies everything with protection
    // off, and writes the protected configuration word(s) kept here only after that verify.
    bool protectionPending_ = false;
    uint16_t protectedConfigWord_ = 0;
    uint16_t protectedConfigWord2_ = 0;
    // Written by the start checks' worker like startCheck_: the ID read, -1 when none was.
    int32_t lastDeviceIdRead_ = -1;
    std::optional<AfterWriteBack> afterWriteBack_;   // set while a write-back runs
};
