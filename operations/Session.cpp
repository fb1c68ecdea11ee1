// SPDX-License-Identifier: MIT
#include "operations/Session.h"

#include "device/Catalogue.h"
#include "device/DeviceRecord.h"
#include "operations/CalibrationJournal.h"
#include "operations/Texts.h"
#include "operations/Verify.h"

#include <algorithm>
#include <functional>
#include <bit>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

class WaitCursor {
public:
    explicit WaitCursor(Frontend& frontend) : frontend_(frontend) { frontend_.beginWaitCursor(); }
    ~WaitCursor() { frontend_.endWaitCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    Frontend& frontend_;
};

// The worker: the transfers of one operation, then busy released after its last buffer write.
// A failed first step skips the second: the second would only act on what the first failed
// to read or write.
void runWorker(Programmer* programmer, Operation operation) {
    bool ok = true;
    switch (operation) {
    case Operation::Program: ok = programmer->programAll(); break;
    case Operation::Read:
    case Operation::Verify: ok = programmer->readAll(); break;
    case Operation::CalibrationRead:
        ok = programmer->readCalibration() && programmer->readCalibrationBits();
        break;
    case Operation::CalibrationWrite:
        ok = programmer->writeCalibration() && programmer->restoreCalibrationBits();
        break;
    case Operation::Erase: ok = programmer->eraseChip(); break;
    case Operation::ProtectWrite: ok = programmer->writeConfiguration(); break;
    case Operation::None: break;
    }
    if (!ok) programmer->transferFailed.store(1);
    programmer->busy.store(0, std::memory_order_release);
}

struct StartCheckSetup {
    int32_t socketPins;
    bool icsp;
    bool checkDeviceId;
    int32_t deviceIdMask;
    int32_t expectedDeviceId;
};

// idRead: the device ID the check read, -1 when none was read (it goes into the calibration
// journal).
StartCheck checkStart(Programmer& programmer, const StartCheckSetup& setup, int32_t& idRead) {
    idRead = -1;
    if (!programmer.selectSocket(setup.socketPins)) return StartCheck::TransferFailed;
    if (setup.icsp && !programmer.selectSocket(0)) return StartCheck::TransferFailed;
    if (!setup.checkDeviceId) return StartCheck::Passed;
    const int32_t id = programmer.readDeviceId();
    idRead = id;
    if (id < 0) return StartCheck::TransferFailed;
    const int32_t masked = id & setup.deviceIdMask;
    if (masked == setup.expectedDeviceId) return StartCheck::Passed;
    // A socket without a chip reads all ones.
    return masked == (setup.deviceIdMask & 0x3FFF) ? StartCheck::SocketEmpty
                                                   : StartCheck::DeviceIdMismatch;
}

// The exchanges before a step wait on the chip's power-up (over 100 ms at the slower clocks),
// so they run here and not on the front end's thread. The result is written before busy is
// released, and read by the tick only after it has seen busy cleared.
void runStartChecks(Programmer* programmer, StartCheckSetup setup, StartCheck* result,
                    int32_t* idRead) {
    *result = checkStart(*programmer, setup, *idRead);
    programmer->busy.store(0, std::memory_order_release);
}

// The first cells of from into to, never past either buffer.
void copyCells(const std::vector<uint16_t>& from, std::vector<uint16_t>& to, uint32_t count) {
    const std::size_t n = std::min<std::size_t>({count, from.size(), to.size()});
    std::copy_n(from.begin(), n, to.begin());
}

}  // namespace

Session::Session(Frontend& frontend, UsbDriver* driver)
    : programmer(driver), frontend_(frontend) {}

Session::~Session() {
    // Front ends refuse to close while a chain runs; this is the last resort, so that the
    // worker never outlives the Programmer it uses. Transfers are bounded by their time-out.
    if (worker_.joinable()) {
        programmer.requestCancel();
        worker_.join();
    }
    if (startingOperation != Operation::None) frontend_.endWaitCursor();
}

// ---- start-up and device selection ------------------------------------------------------

bool Session::initialise() {
    const bool listed = fillDeviceList();
    selectDevice(deviceName, true);
    link.firstTick = true;
    currentOperation = Operation::None;
    resetProgress();
    programButtonIsCancel = false;
    programmer.writeUserId = userIdOff ? 0 : 1;
    return listed;
}

bool Session::openCatalogue(std::string& path) {
    if (catalogPath.empty()) {
        for (const std::string& dir : catalogueDirs) {
            const std::filesystem::path candidate =
                std::filesystem::path(dir) / texts::catalogueFileName;
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error)) {
                catalogPath = candidate.string();
                break;
            }
        }
    }
    if (catalogPath.empty()) {
        frontend_.showMessage(texts::catalogueMissing);
        return false;
    }
    path = catalogPath;
    return true;
}

bool Session::fillDeviceList() {
    std::string path;
    if (!openCatalogue(path)) return false;
    CatalogueNames names = readCatalogueNames(path);
    if (!names.opened) {
        frontend_.showMessage(names.tooLarge ? texts::catalogueInvalid : texts::catalogueMissing);
        return false;
    }
    deviceNames = std::move(names.names);
    frontend_.setDeviceList(deviceNames);
    return true;
}

bool Session::selectDevice(const std::string& name, bool lookUpInList) {
    // A selection resizes the buffers a worker may be using.
    if (chainRunning()) return false;
    WaitCursor wait(frontend_);
    if (lookUpInList) {
        auto it = std::find(deviceNames.begin(), deviceNames.end(), name);
        if (it == deviceNames.end()) return false;
        frontend_.setDeviceListSelection(static_cast<int>(it - deviceNames.begin()));
    }

    std::string path;
    if (!openCatalogue(path)) {
        showAppliedSelection();
        return false;
    }
    CatalogueLookup lookup = findCatalogueDevice(path, name);
    if (!lookup.opened) {
        frontend_.showMessage(lookup.tooLarge ? texts::catalogueInvalid : texts::catalogueMissing);
        showAppliedSelection();
        return false;
    }
    // A name that has left the file, or a line whose values would overrun a buffer, must not
    // leave the list naming one device while another device's values are in use.
    if (!lookup.found || !lookup.record.valid) {
        frontend_.showMessage(texts::catalogueInvalid);
        showAppliedSelection();
        return false;
    }

    applyRecord(lookup.record);
    showProgramDump(programmer.programWords);
    showEepromDump(programmer.eepromBytes);
    showIds(programmer.userId, programmer.deviceId, programmer.configWord);
    socketMode = true;
    showSocket();
    deviceName = name;
    deviceApplied_ = true;
    return true;
}

void Session::applyRecord(const DeviceRecord& record) {
    configBitTags = record.configBitTags;
    socketPins = record.socketPins;
    hasCalibrationWord = record.hasCalibrationWord;
    programmer.calibrationAddress = record.calibrationAddress;
    programmer.calibrationBitsMask = record.calibrationBitsMask;
    expectedDeviceId = record.expectedDeviceId;
    deviceIdMask = record.deviceIdMask;
    configKeepMask = record.configKeepMask;
    protectOffBits = record.protectOffBits;
    configWord2KeepMask = ::configWord2KeepMask(record.configBitTags);

    const auto words = static_cast<uint32_t>(record.programWordCount);
    const auto bytes = static_cast<uint32_t>(record.eepromByteCount);
    image.resize(words, record.blankWord, bytes);
    image.setFamily(record.family);
    programmer.setGeometry(words, record.blankWord, bytes);
    programmer.setMethods(record.entrySequence, record.programMethod, record.eepromMethod,
                          record.family, record.reservedValue, record.blockWords,
                          record.eraseMethod);
    frontend_.setGroupCaptions(programCaption(words), eepromCaption(bytes));

    image.configWord = static_cast<uint16_t>(image.configWord & configKeepMask);
    programmer.configWord = static_cast<uint16_t>(programmer.configWord & configKeepMask);
}

void Session::showAppliedSelection() {
    int index = -1;
    if (deviceApplied_) {
        auto it = std::find(deviceNames.begin(), deviceNames.end(), deviceName);
        if (it != deviceNames.end()) index = static_cast<int>(it - deviceNames.begin());
    }
    frontend_.setDeviceListSelection(index);
}

void Session::onDeviceListChange(const std::string& name) {
    // The list stays enabled while a step's start checks run; it must not name another device
    // than the one in use.
    if (chainRunning()) {
        showAppliedSelection();
        return;
    }
    setProgress(0, 1);
    selectDevice(name, false);
}

// ---- the tick ---------------------------------------------------------------------------

void Session::tick() {
    const std::string status = pollConnection(programmer, link);
    if (!status.empty()) frontend_.setStatusText(status);
    onOperationTick();
}

void Session::onOperationTick() {
    if (startingOperation != Operation::None) {
        completeStart();
        return;
    }
    if (currentOperation == Operation::None) return;
    setProgress(programmer.progressPosition.load(), programmer.progressTotal);
    if (programmer.busy.load(std::memory_order_acquire) != 0) return;
    // The position read above may predate the worker's last step: show where it really ended,
    // or a finished read would stay at 99 %.
    setProgress(programmer.progressPosition.load(), programmer.progressTotal);

    // Cleared first: a tick arriving while a message or dialog of this step is open finds
    // nothing to do.
    const Operation finished = currentOperation;
    currentOperation = Operation::None;
    joinWorker();

    // Nothing that followed a failed transfer could be trusted: no follow-up, no verify, and
    // a failed read leaves the image and the dumps as they were.
    if (programmer.transferFailed.load() != 0) {
        const std::string text = transferFailureText();
        // The failed operation stopped before its exit script, so the chip may still sit at
        // VPP with its supply on. One attempt at the safe output state; if the link is really
        // dead this fails by its time-out and changes nothing.
        if (link.connected) programmer.resetOutputs();
        if (writeBackBeforeEnding(finished, {text, false})) return;
        endChain(true, false);
        return;
    }
    if (programmer.cancelRequested.load() != 0) {
        // A cancelled write-back has still run to its end: the calibration operations never
        // look at a cancel.
        if (finished != Operation::CalibrationWrite && writeBackBeforeEnding(finished, {"", true}))
            return;
        endChain(true, false);
        lastChainCancelled = true;
        return;
    }

    bool verifyResult = true;
    bool complete = true;
    switch (finished) {
    case Operation::Program:
        showDeviceId(programmer.deviceId);
        if (startOperation(Operation::Verify)) return;
        complete = false;
        break;
    case Operation::Read:
        readCompletion();
        break;
    case Operation::Verify:
        verifyResult = verifyAgainstImage();
        if (verifyResult && protectionPending_) {
            programmer.configWord = protectedConfigWord_;
            programmer.configWord2 = protectedConfigWord2_;
            if (startOperation(Operation::ProtectWrite)) return;
            complete = false;
        }
        break;
    case Operation::ProtectWrite:
        verifyResult = protectionTookHold();
        break;
    case Operation::CalibrationRead: {
        if (!acceptCalibration()) {
            followUpOperation = Operation::None;
            endChain(true, false);
            lastChainCalibrationRefused = true;
            return;
        }
        mergeCalibration();
        const Operation next = followUpOperation;
        followUpOperation = Operation::None;
        if (next == Operation::None) break;
        if (startOperation(next)) return;
        complete = false;
        break;
    }
    case Operation::CalibrationWrite:
        // A write-back after a failed or cancelled step: the chip is whole again, the step
        // still failed or was cancelled.
        if (afterWriteBack_) {
            const AfterWriteBack after = *afterWriteBack_;
            afterWriteBack_.reset();
            if (after.cancelled) {
                endChain(true, false);
                lastChainCancelled = true;
                return;
            }
            frontend_.showMessage(after.failure);
            complete = false;
        }
        break;
    case Operation::Erase:
        if (hasCalibrationWord) {
            if (startOperation(Operation::CalibrationWrite)) return;
            complete = false;
            reportCalibrationLost();
        }
        break;
    case Operation::None:
        break;
    }
    endChain(verifyResult, complete && verifyResult);
}

void Session::endChain(bool verifyResult, bool ok) {
    protectionPending_ = false;
    setControlsEnabled(true);
    lastChainOk = ok;
    lastChainCancelled = false;
    lastChainCalibrationRefused = false;
    afterWriteBack_.reset();
    if (!verifyResult)
        frontend_.showVerifyError(verifyLineText(verifyProgramOk), verifyLineText(verifyEepromOk),
                                  verifyLineText(verifyConfigOk));
}

int Session::calibrationBits(uint16_t saved) const {
    const uint16_t mask = programmer.calibrationBitsMask;
    return mask == 0 ? 0 : (saved & mask) >> std::countr_zero(mask);
}

uint16_t Session::savedBitsFor(int bits) const {
    const uint16_t mask = programmer.calibrationBitsMask;
    return mask == 0 ? 0 : static_cast<uint16_t>((bits << std::countr_zero(mask)) & mask);
}

bool Session::journalCalibration(uint16_t word, uint16_t savedBits) {
    if (calibrationJournal.empty()) return true;
    CalibrationRecord record;
    record.time = journalTimeNow();
    record.device = deviceName;
    if (lastDeviceIdRead_ >= 0) {
        char id[8];
        std::snprintf(id, sizeof id, "%04X", lastDeviceIdRead_ & 0x3FFF);
        record.deviceId = id;
    } else {
        record.deviceId = "----";
    }
    record.word = word;
    record.bits = calibrationBits(savedBits);
    return appendToJournal(calibrationJournal, record);
}

// After a calibration read, before anything is erased: the read goes to the journal, and only a
// factory word (or one the user gives instead) may go on to the erase and the write-back.
bool Session::acceptCalibration() {
    if (!journalCalibration(programmer.calibrationValue, programmer.savedCalibrationBits)) {
        frontend_.showMessage(texts::calibrationJournalFailed);
        return false;
    }

    std::optional<CalibrationChoice> choice = calibrationOverride;
    if (!choice && !isFactoryCalibration(programmer.calibrationValue)) {
        const std::optional<CalibrationRecord> last =
            lastFactoryRecord(readJournal(calibrationJournal).lines, deviceName);
        const int readBits = calibrationBits(programmer.savedCalibrationBits);
        CalibrationChoice suggested;
        suggested.word = last ? last->word : 0x3400;
        suggested.bits = last ? last->bits : readBits;
        choice = frontend_.askCalibration(
            calibrationNotFactoryText(programmer.calibrationValue, readBits,
                                      last ? last->word : -1, last ? last->bits : 0),
            suggested);
        if (!choice || !isFactoryCalibration(choice->word)) return false;
    }
    if (choice) {
        programmer.calibrationValue = choice->word;
        if (choice->bits >= 0) programmer.savedCalibrationBits = savedBitsFor(choice->bits);
    }
    return true;
}

// A step that failed or was cancelled after the erase (or a failed write-back) has left the
// chip without its calibration. While the programmer is still there the calibration is written
// back before the chain ends as after says; otherwise the user is told what to write.
bool Session::writeBackBeforeEnding(Operation finished, const AfterWriteBack& after) {
    const bool erased = hasCalibrationWord &&
                        (finished == Operation::Program || finished == Operation::Erase ||
                         finished == Operation::CalibrationWrite);
    if (erased && finished != Operation::CalibrationWrite && link.connected) {
        afterWriteBack_ = after;
        if (startOperation(Operation::CalibrationWrite)) return true;
        afterWriteBack_.reset();
    } else if (!after.cancelled) {
        frontend_.showMessage(after.failure);
    }
    if (erased) reportCalibrationLost();
    return false;
}

void Session::reportCalibrationLost() {
    frontend_.showMessage(calibrationRestoreText(programmer.calibrationValue,
                                                 calibrationBits(programmer.savedCalibrationBits)));
    lastChainCalibrationLost = true;
}

std::string Session::transferFailureText() {
    // The poll may not have noticed yet that the programmer has gone: with no worker running
    // it can now close a programmer that is no longer there.
    const std::string status = pollConnection(programmer, link);
    if (!status.empty()) frontend_.setStatusText(status);
    return link.connected ? texts::transferFailed : texts::notConnected;
}

void Session::readCompletion() {
    WaitCursor wait(frontend_);
    showProgramDump(programmer.programWords);
    showEepromDump(programmer.eepromBytes);
    showIds(programmer.userId, programmer.deviceId, programmer.configWord);
    copyCells(programmer.programWords, image.programWords, programmer.programWordCount);
    copyCells(programmer.eepromBytes, image.eepromBytes, programmer.eepromByteCount);
    image.userId = programmer.userId;
    image.configWord = programmer.configWord;
    image.configWord2 = programmer.configWord2;
    // A read is a chance to have the chip's calibration on record before it is ever erased.
    if (hasCalibrationWord &&
        !journalCalibration(programmer.calibrationValue,
                            static_cast<uint16_t>(programmer.configWord & programmer.calibrationBitsMask)))
        frontend_.showMessage(texts::calibrationJournalFailed);
}

// ---- buttons and operation start ---------------------------------------------------------

void Session::onProgramButton() {
    if (!link.connected) {
        frontend_.showMessage(texts::notConnected);
        return;
    }
    if (chainRunning()) {
        // Only the first step of a Program chain can be cancelled from here; in the later steps
        // the button reads "Program" and is disabled.
        if (controls_.programIsCancel && controls_.programEnabled) programmer.requestCancel();
        return;
    }
    // A verify leaves what it read from the chip in the Programmer's buffers; Program writes
    // the image, not that (a protected chip's zeros would otherwise be written back).
    copyImageToProgrammer();
    programButtonIsCancel = true;
    lastChainCalibrationLost = false;
    if (hasCalibrationWord) {
        followUpOperation = Operation::Program;
        startOperation(Operation::CalibrationRead);
    } else {
        startOperation(Operation::Program);
    }
}

void Session::onReadButton() {
    if (chainRunning()) return;
    startOperation(Operation::Read);
}

void Session::onVerifyButton() {
    if (chainRunning()) return;
    startOperation(Operation::Verify);
}

void Session::onEraseButton() {
    if (!link.connected) {
        frontend_.showMessage(texts::notConnected);
        return;
    }
    if (chainRunning()) return;
    lastChainCalibrationLost = false;
    if (hasCalibrationWord) {
        followUpOperation = Operation::Erase;
        startOperation(Operation::CalibrationRead);
    } else {
        startOperation(Operation::Erase);
    }
}

void Session::cancelChain() {
    if (chainRunning()) programmer.requestCancel();
}

void Session::onSocketFieldClick() {
    if (chainRunning()) return;
    setProgress(0, 1);
    socketMode = !socketMode;
    showSocket();
}

bool Session::refuseStart(const std::string& message) {
    frontend_.showMessage(message);
    programButtonIsCancel = false;
    lastChainOk = false;
    return false;
}

bool Session::startOperation(Operation operation) {
    if (operation == Operation::None || chainRunning()) {
        programButtonIsCancel = false;
        return false;
    }
    if (!link.connected) return refuseStart(texts::notConnected);

    startingOperation = operation;
    frontend_.beginWaitCursor();
    joinWorker();
    // Only a request made while these checks run may give the step up.
    programmer.cancelRequested.store(0);
    programmer.busy.store(1, std::memory_order_release);
    const StartCheckSetup setup{socketPins, !socketMode, skipDeviceIdCheck == 0, deviceIdMask,
                                expectedDeviceId};
    worker_ = std::thread(runStartChecks, &programmer, setup, &startCheck_, &lastDeviceIdRead_);
    return true;
}

void Session::completeStart() {
    if (programmer.busy.load(std::memory_order_acquire) != 0) return;
    const Operation operation = startingOperation;
    startingOperation = Operation::None;
    joinWorker();
    frontend_.endWaitCursor();
    // The controls are disabled exactly while a chain has armed a step; a step that cannot
    // start after it ends the chain.
    const bool followsStep = !controls_.okCancelEnabled;

    std::string refusal;
    switch (startCheck_) {
    case StartCheck::Passed:
        // Gone while the checks ran: the step would only fail on its first exchange.
        if (!link.connected) refusal = texts::notConnected;
        break;
    case StartCheck::TransferFailed: refusal = transferFailureText(); break;
    case StartCheck::SocketEmpty: refusal = texts::socketEmpty; break;
    case StartCheck::DeviceIdMismatch: refusal = texts::deviceIdMismatch; break;
    }
    if (!refusal.empty()) {
        refuseStart(refusal);
        // The erase has run and its write-back cannot: the user must learn the value now.
        if (operation == Operation::CalibrationWrite) {
            afterWriteBack_.reset();
            reportCalibrationLost();
        }
        if (followsStep) endChain(true, false);
        return;
    }
    // A cancel that came while the checks ran (the CLI's interrupt) gives the step up before it
    // touches the chip; not the calibration write, which puts back what the erase took.
    if (programmer.cancelRequested.load() != 0 && operation != Operation::CalibrationWrite) {
        programButtonIsCancel = false;
        if (followsStep) endChain(true, false);
        lastChainOk = false;
        lastChainCancelled = true;
        return;
    }
    armStep(operation);
}

void Session::armStep(Operation operation) {
    frontend_.setStatusText(operationStatusText(operation));
    setControlsEnabled(false);
    programmer.cancelRequested.store(0);
    programmer.transferFailed.store(0);
    if (operation == Operation::Program) holdBackProtection();
    currentOperation = operation;
    startWorker(operation);
}

void Session::startWorker(Operation operation) {
    joinWorker();
    programmer.busy.store(1, std::memory_order_release);
    worker_ = std::thread(runWorker, &programmer, operation);
}

void Session::joinWorker() {
    if (worker_.joinable()) worker_.join();
}

void Session::setControlsEnabled(bool enable) {
    controls_ = controlStatesFor(controls_, enable, programButtonIsCancel);
    frontend_.setControls(controls_);
    programButtonIsCancel = false;
}

// ---- verify and calibration ---------------------------------------------------------------

void Session::mergeCalibration() {
    mergeCalibrationForWrite(programmer, image);
}

bool Session::verifyAgainstImage() {
    if (hasCalibrationWord) {
        mergeCalibrationForVerify(programmer, image);
        showProgramDump(image.programWords);
        showIds(image.userId, programmer.deviceId, image.configWord);
    }
    const VerifyOutcome outcome = compareWithImage(programmer, image, configWord2KeepMask,
                                                   protectionPending_ ? protectOffBits : 0);
    verifyProgramOk = outcome.programOk;
    verifyEepromOk = outcome.eepromOk;
    verifyConfigOk = outcome.configOk;
    frontend_.setStatusText(outcome.ok() ? texts::verifyOk : texts::verifyNg);
    showDeviceId(programmer.deviceId);
    return outcome.ok();
}

void Session::holdBackProtection() {
    const uint16_t word = programmer.configWord;
    protectionPending_ = (word & protectOffBits) != protectOffBits;
    if (!protectionPending_) return;
    protectedConfigWord_ = word;
    protectedConfigWord2_ = programmer.configWord2;
    programmer.configWord = static_cast<uint16_t>(word | protectOffBits);
}

bool Session::protectionTookHold() {
    const bool word1Ok = programmer.configWord == (protectedConfigWord_ & programmer.blankWord);
    const bool word2Ok = programmer.family != 2 ||
                         ((programmer.configWord2 ^ protectedConfigWord2_) & configWord2KeepMask) == 0;
    verifyProgramOk = true;
    verifyEepromOk = true;
    verifyConfigOk = word1Ok && word2Ok;
    // The status line goes back to the verify's result, or tells that the last write failed.
    frontend_.setStatusText(verifyConfigOk ? texts::verifyOk : texts::verifyNg);
    return verifyConfigOk;
}

// ---- files and editors --------------------------------------------------------------------

bool Session::openHexFile(const std::string& path) {
    return openHex([&](MemoryImage& loaded) { return loaded.loadHex(path, hexLoadReport); });
}

bool Session::openHexStream(std::FILE* input) {
    return openHex([&](MemoryImage& loaded) { return loaded.loadHex(input, hexLoadReport); });
}

bool Session::openHex(const std::function<bool(MemoryImage&)>& load) {
    if (chainRunning()) return false;
    setProgress(0, 1);
    // Loaded into a copy: a file that cannot be read leaves the image, the Programmer and the
    // dumps as they were.
    MemoryImage loaded = image;
    bool ok;
    {
        WaitCursor wait(frontend_);
        ok = load(loaded);
    }
    return takeLoadedHex(loaded, ok);
}

bool Session::takeLoadedHex(const MemoryImage& loaded, bool ok) {
    if (!ok) {
        frontend_.showMessage(hexLoadReport.tooLarge ? texts::hexFileTooLarge : texts::fileOpenFailed);
        return false;
    }

    {
        WaitCursor wait(frontend_);
        image = loaded;
        image.configWord = applyConfigRule(image.configWord, configKeepMask, protectOffBits,
                                           protectOff != 0);
        showProgramDump(image.programWords);
        showEepromDump(image.eepromBytes);
        showIds(image.userId, 0xFFFF, image.configWord);
        copyImageToProgrammer();
    }
    // After the dumps and without the wait cursor: the user reads it beside what was loaded.
    const std::string warning = hexLoadWarning(hexLoadReport);
    if (!warning.empty()) frontend_.showMessage(warning);
    return true;
}

void Session::copyImageToProgrammer() {
    copyCells(image.programWords, programmer.programWords, image.programWordCount);
    copyCells(image.eepromBytes, programmer.eepromBytes, image.eepromByteCount);
    programmer.userId = image.userId;
    programmer.configWord = image.configWord;
    programmer.configWord2 = image.configWord2;
}

namespace {
// Program words are left out when blank as 14-bit words, whatever the device's own blank.
constexpr uint16_t kSavedBlankWord = 0x3FFF;
}

bool Session::saveHexFile(const std::string& path) {
    if (!image.saveHex(path, true, kSavedBlankWord)) {
        frontend_.showMessage(texts::fileSaveFailed);
        return false;
    }
    return true;
}

bool Session::writeHexStream(std::FILE* output) {
    const std::string text = image.hexText(true, kSavedBlankWord);
    const bool written = std::fwrite(text.data(), 1, text.size(), output) == text.size();
    if (std::fflush(output) != 0 || !written || std::ferror(output)) {
        frontend_.showMessage(texts::fileSaveFailed);
        return false;
    }
    return true;
}

void Session::applyConfigWords(uint16_t configWord, uint16_t configWord2, int32_t protectOffValue) {
    if (chainRunning()) return;
    protectOff = protectOffValue;
    const uint16_t word = applyConfigRule(configWord, configKeepMask, protectOffBits,
                                          protectOff != 0);
    image.configWord = word;
    programmer.configWord = word;
    image.configWord2 = configWord2;
    programmer.configWord2 = configWord2;
    showIds(programmer.userId, programmer.deviceId, programmer.configWord);
}

void Session::applyUserId(uint16_t userId, int32_t userIdOffValue) {
    if (chainRunning()) return;
    programmer.userId = userId;
    image.userId = userId;
    userIdOff = userIdOffValue;
    programmer.writeUserId = userIdOff ? 0 : 1;
    showIds(programmer.userId, programmer.deviceId, programmer.configWord);
}

void Session::applySkipDeviceIdCheck(int32_t skip) {
    skipDeviceIdCheck = skip;
}

// ---- display ------------------------------------------------------------------------------

void Session::resetProgress() {
    frontend_.setProgress(0);
}

void Session::setProgress(uint32_t done, uint32_t total) {
    frontend_.setProgress(progressPercent(done, total));
}

void Session::showProgramDump(const std::vector<uint16_t>& cells) {
    frontend_.showProgramDump(programDumpText(cells, programmer.programWordCount));
}

void Session::showEepromDump(const std::vector<uint16_t>& cells) {
    frontend_.showEepromDump(eepromDumpText(cells, programmer.eepromByteCount));
}

void Session::showIds(uint16_t userId, uint16_t deviceId, uint16_t configWord) {
    frontend_.setFieldText(Field::UserId, wordText(userId));
    showDeviceId(deviceId);
    frontend_.setFieldText(Field::ConfigWord, wordText(configWord));
}

void Session::showDeviceId(uint16_t deviceId) {
    frontend_.setFieldText(Field::DeviceId, deviceIdText(deviceId));
}

void Session::showSocket() {
    frontend_.setFieldText(Field::Socket, socketText(socketMode, socketPins));
}
