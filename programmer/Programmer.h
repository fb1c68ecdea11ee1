// SPDX-License-Identifier: MIT
#pragma once

#include "programmer/FastSchedule.h"
#include "programmer/Scripts.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

class UsbDriver;
class UsbPipe;

using ScriptAnswer = std::array<uint8_t, kAnswerCapacity>;

// The one object through which the chip is reached: geometry and method selectors from the
// catalogue, working buffers, configuration/ID/calibration words, progress, busy and cancel.
//
// Chip operations run on a worker thread; they return false when a transfer failed (write or
// read failed, or an answer came back shorter than the data it should carry). A failed
// operation sends nothing more - not even its exit script - and leaves the buffers and words
// it was filling as they were: it works on copies and commits them only once it has ended
// well. A cancelled operation is not a failed one: what it read before the cancel is kept.
//
// Program method 2 writes its last block clamped to the words that remain, so a size that is
// not a multiple of blockWords is fine. A blockWords outside 1..11 cannot be written at all
// (the load script would not fit): programAll then refuses before sending anything, returns
// false and sets blockSizeRefused, so that nothing on the chip is erased for a write that could
// never follow.
class Programmer {
public:
    explicit Programmer(UsbDriver* driver = nullptr);
    virtual ~Programmer() = default;
    Programmer(const Programmer&) = delete;
    Programmer& operator=(const Programmer&) = delete;

    int32_t writeUserId = 1;
    int32_t programmerClock = 16;
    std::atomic<int32_t> cancelRequested{0};
    int32_t eraseMethod = 1;
    uint16_t blankWord = 0x3FFF;
    uint32_t calibrationAddress = 0;
    uint16_t savedCalibrationBits = 0;
    uint16_t calibrationBitsMask = 0;
    uint16_t calibrationValue = 0x3FFF;
    std::atomic<uint32_t> progressPosition{0};
    uint32_t progressTotal = 0;
    int32_t reservedValue = 0;
    int32_t blockWords = 1;
    std::atomic<int32_t> busy{0};            // released by the worker after its last buffer write
    UsbPipe* readPipe = nullptr;
    UsbPipe* writePipe = nullptr;
    int32_t deviceHandle = -1;
    std::vector<uint16_t> eepromBytes;      // eepromByteCount + 1 cells, or none
    std::vector<uint16_t> programWords;     // programWordCount + 1 cells
    uint16_t configWord = 0x3FFF;
    uint16_t configWord2 = 0x3FFF;
    uint16_t deviceId = 0xFFFF;
    uint16_t userId = 0xFFFF;
    int32_t family = 0;
    int32_t eepromMethod = 0;
    int32_t programMethod = 0;
    int32_t entrySequence = 1;
    uint32_t eepromByteCount = 0;
    uint32_t programWordCount = 0;

    UsbDriver* driver = nullptr;            // not owned; the link poll opens and closes through it
    // Each transfer may take this long plus the time of the waits its own script holds, so a
    // slow clock never turns a long wait into a time-out.
    int32_t transferTimeoutMs = 1000;
    // 1 once a worker operation has failed on a transfer (or refused, see blockSizeRefused).
    // Cleared as readAll, programAll, eraseChip, readCalibration and writeCalibration begin -
    // each of those opens a worker - and never by readCalibrationBits or
    // restoreCalibrationBits, which follow one of them on the same worker: after a worker has
    // ended it tells whether any of its operations failed.
    std::atomic<int32_t> transferFailed{0};
    std::atomic<int32_t> blockSizeRefused{0};  // programAll met a blockWords outside 1..11
    // Set: programAll writes program memory and EEPROM by this device's fast schedule. Unset
    // (the default), every byte on the wire is the standard one.
    std::optional<FastSchedule> fastSchedule;

    void setGeometry(uint32_t words, uint16_t blank, uint32_t eepromBytes);
    void setMethods(int32_t entrySequence, int32_t programMethod, int32_t eepromMethod,
                    int32_t family, int32_t reservedValue, int32_t blockWords, int32_t eraseMethod);

    // Worker-thread operations; false on a transfer failure.
    bool readAll();
    bool programAll();
    bool eraseChip();
    bool readCalibration();
    bool readCalibrationBits();
    bool writeCalibration();
    bool restoreCalibrationBits();
    // Writes configWord (and configWord2 for family 2), then enters afresh and reads them back
    // into the same members: the words stay readable under code protection.
    bool writeConfiguration();

    // Window-thread operations.
    int32_t readDeviceId();                 // the 14-bit ID word, or -1 on a transfer failure
    void requestCancel();
    bool sendControl(int code);             // true also when nothing is open (nothing sent)
    int64_t queryIdentity();                // -1 when nothing is open or the transfer failed
    int32_t queryClock();                   // -1 when nothing is open or the transfer failed
    bool resetOutputs();
    bool selectSocket(int pins);

    // One exchange on the open pipes: the whole script written, then one answer read into
    // answer (zeroed first). False on a null pipe, a failed or short write, a failed read, or
    // an answer shorter than script.answerData. A script of length 0 sends nothing.
    bool exchange(const Script& script, ScriptAnswer& answer);

private:
    class Run;
    bool cancelled() const;
    bool fail();
    // Program memory and EEPROM by the fast schedule; false, with nothing sent, when this
    // device's methods are not ones it can carry.
    bool programFast(Run& run, const FastSchedule& fast, uint32_t wordCount);
};
