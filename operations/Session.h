#pragma once

#include "Frontend.h"
#include "Operation.h"

#include "device/MemoryImage.h"
#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class UsbDriver;

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
    int32_t socketPins = 0;
    bool hasCalibrationWord = false;
    int32_t expectedDeviceId = 0;
    int32_t deviceIdMask = 0;

    // Where the catalogue is: catalogPath when set, else the first of catalogueDirs holding
    // "PicDeviceList.txt". Front ends fill catalogueDirs (the executable's folder first).
    std::string catalogPath;
    std::vector<std::string> catalogueDirs;

    Operation currentOperation = Operation::None;
    Operation followUpOperation = Operation::None;
    bool programButtonIsCancel = false;
    bool verifyProgramOk = true;
    bool verifyEepromOk = true;
    bool verifyConfigOk = true;
    bool socketMode = true;           // true: the device's socket; false: ICSP
    bool lastChainOk = true;          // outcome of the last finished chain (verify result,
                                      // transfer success); for the CLI's exit code
    std::vector<std::string> deviceNames;   // the list, in file order

    Programmer programmer;
    MemoryImage image;
    LinkState link;

    // Start-up: fill the list and select deviceName; false when the catalogue is missing
    // (the message has been shown; the front end then closes).
    bool initialise();
    bool fillDeviceList();
    // Applies the catalogue line of that name. Returns false when nothing was applied.
    bool selectDevice(const std::string& name, bool lookUpInList);
    void onDeviceListChange(const std::string& name);

    // The 10 ms tick: connection poll, then onOperationTick.
    void tick();
    void onOperationTick();

    void onProgramButton();
    void onReadButton();
    void onVerifyButton();
    void onEraseButton();
    void onSocketFieldClick();

    // File Open after the dialog returned a path; false when the file could not be read (the
    // message has been shown and nothing changed).
    bool openHexFile(const std::string& path);
    bool saveHexFile(const std::string& path);

    // Results of the editors, applied as the window applies them.
    void applyConfigWords(uint16_t configWord, uint16_t configWord2, int32_t protectOff);
    void applyUserId(uint16_t userId, int32_t userIdOff);
    void applySkipDeviceIdCheck(int32_t skip);

    void resetProgress();
    void setProgress(uint32_t done, uint32_t total);

    bool chainRunning() const { return currentOperation != Operation::None; }

    // Exposed for tests and the CLI.
    bool startOperation(Operation operation);
    bool verifyAgainstImage();
    void mergeCalibration();

private:
    void setControlsEnabled(bool enable);
    void startWorker(Operation operation);
    void joinWorker();

    Frontend& frontend_;
    std::thread worker_;
    bool programEnabled_ = true;
};
