// SPDX-License-Identifier: MIT
#include "programmer/Programmer.h"

#include "programmer/UsbDriver.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <span>
#include <thread>

// The exchanges of one operation. Once a transfer has failed every later one is skipped, so an
// operation against a dead link ends after its first failure instead of running its loops out.
class Programmer::Run {
public:
    explicit Run(Programmer& programmer) : p(programmer) {}

    bool ok = true;

    bool send(const Script& script)
    {
        ScriptAnswer answer;
        return send(script, answer);
    }

    bool send(const Script& script, ScriptAnswer& answer)
    {
        if (!ok)
            return false;
        ok = p.exchange(script, answer);
        return ok;
    }

    void enter() { send(enterProgrammingScript(p.entrySequence)); }
    void exit() { send(exitProgrammingScript()); }

    // The bulk erase reaches the user IDs and the configuration word, and lifts code
    // protection, only with the address in configuration space: Load Configuration first.
    void bulkEraseWithConfiguration(const FastSchedule* fast = nullptr)
    {
        send(loadConfigurationScript());
        if (fast) {
            const uint16_t wait = waitForMicroseconds(fast->bulkEraseUs, p.programmerClock);
            send(fastEraseScript(kBulkEraseProgram, wait));
            if (p.eepromByteCount != 0)
                send(fastEraseScript(kBulkEraseData, wait));
            return;
        }
        send(bulkEraseProgramScript(p.programmerClock));
        if (p.eepromByteCount != 0)
            send(bulkEraseDataScript(p.programmerClock));
    }

    void writeWord(uint16_t word)
    {
        ScriptAnswer answer;
        if (!send(writeWordFirstScript(word, p.programmerClock), answer))
            return;
        // The word is not written again on a mismatch; the pause gives a slow cell time to
        // settle before the address moves on, and verify reports what did not take.
        if (decodeProgramWord(answer[0], answer[1]) != word)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        send(writeWordSecondScript());
    }

    // Writes items by the fast schedule, script after script, advancing the progress by what
    // each one covered. Returns how far the address moved; nullopt when the form does not fit a
    // script at all (nothing sent).
    std::optional<std::size_t> fastWrites(std::span<const uint16_t> items, const FastWriteForm& form)
    {
        // Blank words after the last one written need not even be stepped over: the exit that
        // follows forgets the address.
        std::size_t end = items.size();
        if (form.skipBlank) {
            while (end > 0 && items[end - 1] == form.blank)
                --end;
            const std::size_t row = std::max<uint32_t>(form.rowWords, 1);
            end = std::min(items.size(), (end + row - 1) / row * row);
        }
        const std::size_t trimmed = items.size() - end;
        items = items.first(end);
        for (std::size_t done = 0; done < items.size() && !p.cancelled() && ok;) {
            const FastPack pack = packFastWrites(items.subspan(done), form);
            if (pack.taken == 0)
                return std::nullopt;
            send(pack.script);
            p.progressPosition.fetch_add(pack.taken, std::memory_order_relaxed);
            done += pack.taken;
        }
        if (ok && !p.cancelled())
            p.progressPosition.fetch_add(static_cast<uint32_t>(trimmed), std::memory_order_relaxed);
        return items.size();
    }

    // n Increment Address commands, as many as a script holds: the chip cannot tell, and the
    // steps cost a round trip per 32 instead of per step. Moves the progress with them if asked.
    void stepAddress(uint32_t n, bool progress)
    {
        for (uint32_t i = 0; i < n && ok;) {
            const uint32_t k = std::min<uint32_t>(n - i, kScriptCapacity / 2);
            Script steps = addressStepScript();
            for (uint32_t j = 1; j < k; ++j)
                steps.command(kIncrementAddress);
            send(steps);
            if (progress)
                p.progressPosition.fetch_add(k, std::memory_order_relaxed);
            i += k;
        }
    }

    void writeBlock(std::span<const uint16_t> words)
    {
        if (send(writeBlockLoadScript(words)))
            send(writeBlockCommitScript(p.programmerClock));
    }

    // Device ID step from 0x2004; 0x3FFF (nothing answered an ID) becomes 0xFFFF.
    void deviceIdStep(uint16_t& deviceId)
    {
        ScriptAnswer answer;
        if (!send(deviceIdStepScript(), answer))
            return;
        const uint16_t id = decodeConfigWord2(answer[0], answer[1]);
        deviceId = id == 0x3FFF ? 0xFFFF : id;
    }

    void configRead(uint16_t& word1, uint16_t& word2)
    {
        ScriptAnswer answer;
        if (send(configReadStepScript(), answer))
            word1 = decodeConfigWord1(answer[0], answer[1], p.blankWord);
        if (p.family == 2 && send(configReadStepScript(), answer))
            word2 = decodeConfigWord2(answer[0], answer[1]);
    }

    // Enters programming mode, moves to 0x2007 and reads the configuration word(s) there.
    void enterAndReadConfiguration(uint16_t& word1, uint16_t& word2)
    {
        enter();
        send(configPositionScript());
        configRead(word1, word2);
    }

    // A fresh entry and a read of the configuration word(s), kept in the Programmer when the
    // exchange went well: what the chip holds, not what a latch may still hold.
    bool readBackConfiguration()
    {
        uint16_t word1 = p.configWord;
        uint16_t word2 = p.configWord2;
        enterAndReadConfiguration(word1, word2);
        exit();
        if (!ok)
            return false;
        p.configWord = word1;
        p.configWord2 = word2;
        return true;
    }

    void walkTo(uint32_t address)
    {
        if (p.fastSchedule) {
            stepAddress(address, true);
            return;
        }
        for (uint32_t i = 0; i < address && ok; ++i) {
            send(addressStepScript());
            p.progressPosition.fetch_add(1, std::memory_order_relaxed);
        }
    }

private:
    Programmer& p;
};

Programmer::Programmer(UsbDriver* usbDriver) : driver(usbDriver)
{
    setGeometry(2048, 0x3FFF, 128);
    setMethods(1, 0, 0, 0, 0, 1, 1);
    deviceHandle = -1;
    readPipe = nullptr;
    writePipe = nullptr;
    busy.store(0);
    writeUserId = 1;
}

void Programmer::setGeometry(uint32_t words, uint16_t blank, uint32_t eepromByteTotal)
{
    programWordCount = words;
    blankWord = blank;
    eepromByteCount = eepromByteTotal;
    progressTotal = words + eepromByteTotal + 8;
    programWords.assign(static_cast<std::size_t>(words) + 1, blank);
    if (eepromByteTotal != 0)
        eepromBytes.assign(static_cast<std::size_t>(eepromByteTotal) + 1, 0x00FF);
    else
        eepromBytes.clear();
    userId = 0xFFFF;
    deviceId = 0xFFFF;
    configWord = blank;
    configWord2 = blank;
}

void Programmer::setMethods(int32_t entry, int32_t program, int32_t eeprom, int32_t familyValue,
                            int32_t reserved, int32_t block, int32_t erase)
{
    entrySequence = entry;
    programMethod = program;
    eepromMethod = eeprom;
    family = familyValue;
    reservedValue = reserved;
    blockWords = block;
    eraseMethod = erase;
}

bool Programmer::cancelled() const
{
    return cancelRequested.load(std::memory_order_relaxed) != 0;
}

bool Programmer::fail()
{
    transferFailed.store(1, std::memory_order_relaxed);
    return false;
}

bool Programmer::exchange(const Script& script, ScriptAnswer& answer)
{
    answer.fill(0);
    if (!script.fits)
        return false;
    if (script.length == 0)
        return true;
    UsbPipe* out = writePipe;
    UsbPipe* in = readPipe;
    if (out == nullptr || in == nullptr)
        return false;
    const int timeoutMs = transferTimeoutMs + scriptWaitMs(script, programmerClock);
    if (out->write(script.bytes.data(), script.length, timeoutMs) != script.length)
        return false;
    const int received = in->read(answer.data(), script.answerLength, timeoutMs);
    return received >= static_cast<int>(script.answerData);
}

bool Programmer::readAll()
{
    // cancelRequested is cleared by whoever starts the operation, before the worker exists:
    // clearing it here as well would lose a Cancel clicked while the worker was starting.
    progressPosition.store(0, std::memory_order_relaxed);
    transferFailed.store(0, std::memory_order_relaxed);

    std::vector<uint16_t> words = programWords;
    std::vector<uint16_t> eeprom = eepromBytes;
    uint16_t calibration = calibrationValue;
    uint16_t ids = userId;
    uint16_t id = deviceId;
    uint16_t word1 = configWord;
    uint16_t word2 = configWord2;

    Run run(*this);
    ScriptAnswer answer;

    run.enter();
    if (!cancelled()) {
        const uint32_t blocks = std::min<std::size_t>(programWordCount, words.size()) / 16;
        for (uint32_t i = 0; i < blocks && !cancelled() && run.send(readBlockScript(), answer); ++i) {
            for (uint32_t k = 0; k < 16; ++k)
                words[16 * i + k] = decodeProgramWord(answer[2 * k], answer[2 * k + 1]);
            progressPosition.fetch_add(16, std::memory_order_relaxed);
        }
        if (!cancelled() && calibrationAddress < words.size())
            calibration = words[calibrationAddress];
    }

    if (eepromByteCount != 0) {
        // After the whole program memory the counter's low bits, which address data memory,
        // are 0 again: the fast schedule reads on without a mode entry.
        const uint32_t programRead = static_cast<uint32_t>(std::min<std::size_t>(programWordCount, words.size()) / 16 * 16);
        if (!fastSchedule || !dataFollowsProgram(programRead, eepromByteCount) || programRead != programWordCount) {
            run.exit();
            run.enter();
        }
        const uint32_t blocks = std::min<std::size_t>(eepromByteCount, eeprom.size()) / 16;
        for (uint32_t i = 0; i < blocks && !cancelled() && run.send(readEepromBlockScript(), answer);
             ++i) {
            for (uint32_t k = 0; k < 16; ++k)
                eeprom[16 * i + k] = decodeEepromByte(answer[2 * k], answer[2 * k + 1]);
            progressPosition.fetch_add(16, std::memory_order_relaxed);
        }
    }

    // The user ID read starts with Load Configuration, which reaches the configuration area
    // from any address: the fast schedule spares itself a mode entry.
    if (!fastSchedule) {
        run.exit();
        run.enter();
    }
    if (!cancelled()) {
        if (run.send(readUserIdsScript(), answer)) {
            ids = 0;
            for (int k = 0; k < 4; ++k)
                ids = static_cast<uint16_t>(ids | decodeUserIdLocation(answer[2 * k], answer[2 * k + 1]) << (4 * k));
        }
        run.deviceIdStep(id);
        run.configRead(word1, word2);
    }
    run.exit();

    if (!run.ok)
        return fail();
    programWords = std::move(words);
    eepromBytes = std::move(eeprom);
    calibrationValue = calibration;
    userId = ids;
    deviceId = id;
    configWord = word1;
    configWord2 = word2;
    progressPosition.fetch_add(8, std::memory_order_relaxed);
    return true;
}

bool Programmer::programAll()
{
    progressPosition.store(0, std::memory_order_relaxed);
    transferFailed.store(0, std::memory_order_relaxed);
    blockSizeRefused.store(0, std::memory_order_relaxed);

    if (programMethod == 2 && (blockWords < 1 || blockWords > kMaxBlockWords)) {
        blockSizeRefused.store(1, std::memory_order_relaxed);
        return fail();
    }

    const uint32_t wordCount = static_cast<uint32_t>(std::min<std::size_t>(programWordCount, programWords.size()));
    uint16_t id = deviceId;
    Run run(*this);
    // The user IDs this write is not to touch, when its erase wipes them: the chip's own words,
    // all 14 bits, to go back as they were.
    std::optional<std::array<uint16_t, 4>> keptIds;

    // The erase-method-1 devices' bulk erase clears the user ID; with "UserID" off the chip's
    // own is read first and written back with the configuration.
    if (programMethod == 1 && !writeUserId) {
        run.enter();
        if (!cancelled()) {
            ScriptAnswer answer;
            if (run.send(readUserIdsScript(), answer)) {
                std::array<uint16_t, 4> words{};
                for (int k = 0; k < 4; ++k)
                    words[k] = decodeProgramWord(answer[2 * k], answer[2 * k + 1]);
                keptIds = words;
            }
        }
        run.exit();
    }

    // The fast schedule leaves the chip in programming mode for the configuration area.
    const bool fast = fastSchedule && programFast(run, *fastSchedule, wordCount);
    if (!fast) {
        run.enter();
        if (!cancelled()) {
            switch (programMethod) {
            case 1:
                // Without the configuration area a configuration bit once cleared could never be
                // set again, and a protected chip would not take the new program. The erase leaves
                // the address in configuration space: entering again puts it back at word 0.
                run.bulkEraseWithConfiguration();
                run.exit();
                run.enter();
                [[fallthrough]];
            case 0:
                for (uint32_t i = 0; i < wordCount && !cancelled() && run.ok; ++i) {
                    run.writeWord(programWords[i]);
                    progressPosition.fetch_add(1, std::memory_order_relaxed);
                }
                break;
            case 2:
                run.send(chipEraseScript(programmerClock));
                for (uint32_t offset = 0; offset < wordCount && !cancelled() && run.ok;) {
                    const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(blockWords), wordCount - offset);
                    run.writeBlock(std::span<const uint16_t>(programWords.data() + offset, n));
                    progressPosition.fetch_add(n, std::memory_order_relaxed);
                    offset += n;
                }
                break;
            default:
                break;
            }
        }
        run.exit();

        if (eepromByteCount != 0) {
            const uint32_t byteCount = static_cast<uint32_t>(std::min<std::size_t>(eepromByteCount, eepromBytes.size()));
            run.enter();
            for (uint32_t i = 0; i < byteCount && !cancelled() && run.ok; ++i) {
                run.send(writeEepromByteScript(eepromMethod, eepromBytes[i] & 0xFF, programmerClock));
                progressPosition.fetch_add(1, std::memory_order_relaxed);
            }
            run.exit();
        }
        run.enter();
    }

    if (!cancelled()) {
        const bool writeIds = writeUserId || keptIds;
        const std::array<uint16_t, 4> ids = writeUserId ? userIdWords(userId) : keptIds.value_or(std::array<uint16_t, 4>{});
        if (family == 0) {
            run.send(loadConfigurationScript());
            if (writeIds) {
                for (uint16_t w : ids)
                    run.writeWord(w);
            } else {
                run.send(skipUserIdsScript());
            }
        } else if (family == 1 || family == 2) {
            run.send(configPreludeScript());
            if (writeIds)
                run.writeBlock(ids);
            else
                run.send(skipUserIdsScript());
        }
        run.deviceIdStep(id);
        run.send(configWriteScript(family, configWord, configWord2, programmerClock));
    }
    run.exit();

    if (!run.ok)
        return fail();
    deviceId = id;
    progressPosition.fetch_add(8, std::memory_order_relaxed);
    return true;
}

bool Programmer::programFast(Run& run, const FastSchedule& fast, uint32_t wordCount)
{
    // Only what the standard phases would do, faster: the same erase, the same order, every
    // cycle given its longest time. A form that cannot be carried leaves it all to them.
    const bool rows = programMethod == 2;
    if (programMethod < 0 || programMethod > 2 || (rows && 6 * blockWords + 8 > static_cast<int>(kScriptCapacity)))
        return false;
    if ((rows ? fast.rowUs : fast.wordUs) == 0 || (programMethod == 1 && fast.bulkEraseUs == 0) ||
        (rows && fast.chipEraseUs == 0) || (eepromByteCount != 0 && fast.eepromUs == 0) ||
        (eepromByteCount != 0 && eepromMethod != 0 && eepromMethod != 1))
        return false;

    // After an erase, blank words are already there: stepping over them is exact.
    const bool erased = programMethod != 0;
    FastWriteForm words;
    words.rowWords = rows ? static_cast<uint32_t>(blockWords) : 1;
    words.programOnly = rows;
    words.wait = waitForMicroseconds(rows ? fast.rowUs : fast.wordUs, programmerClock);
    words.skipBlank = erased;
    words.blank = blankWord;
    std::size_t stepped = 0;

    run.enter();
    if (!cancelled()) {
        if (programMethod == 1) {
            run.bulkEraseWithConfiguration(&fast);
            run.exit();
            run.enter();
        } else if (rows) {
            run.send(fastEraseScript(kChipErase, waitForMicroseconds(fast.chipEraseUs, programmerClock)));
        }
        std::vector<uint16_t> image(programWords.begin(), programWords.begin() + wordCount);
        for (uint16_t& w : image)
            w &= blankWord;
        stepped = run.fastWrites(image, words).value_or(0);
    }

    if (eepromByteCount != 0) {
        // Data memory answers at the counter's low bits: from the end of program memory the
        // counter is at data byte 0 again, and a few steps cost less than a mode entry.
        const uint32_t rest = wordCount - static_cast<uint32_t>(std::min<std::size_t>(stepped, wordCount));
        if (!cancelled() && run.ok && dataFollowsProgram(wordCount, eepromByteCount) && rest <= kFastStepsForEntry) {
            run.stepAddress(rest, false);
        } else {
            run.exit();
            run.enter();
        }
        const uint32_t byteCount = static_cast<uint32_t>(std::min<std::size_t>(eepromByteCount, eepromBytes.size()));
        std::vector<uint16_t> bytes(eepromBytes.begin(), eepromBytes.begin() + byteCount);
        for (uint16_t& b : bytes)
            b &= 0xFF;
        FastWriteForm data;
        data.loadCommand = kLoadDataData;
        data.programOnly = eepromMethod == 1;
        data.wait = waitForMicroseconds(fast.eepromUs, programmerClock);
        data.skipBlank = erased;
        data.blank = 0xFF;
        run.fastWrites(bytes, data);
    }
    // No exit: Load Configuration reaches the configuration area from any address, and every
    // mode entry costs the programmer's full supply and VPP start-up wait.
    return true;
}

bool Programmer::eraseChip()
{
    transferFailed.store(0, std::memory_order_relaxed);
    if (eraseMethod == 0)
        return true;

    Run run(*this);
    const int32_t clock = programmerClock;
    const auto configurationClear = [&] {
        run.send(configPositionScript());
        run.send(protectClearScript(clock));
    };

    run.enter();
    switch (eraseMethod) {
    case 1:
        // An erase that left the configuration word would report success on a chip that is
        // still protected.
        run.bulkEraseWithConfiguration();
        break;
    case 2:
        run.send(eraseProgramLoadedScript(clock));
        if (eepromByteCount != 0)
            run.send(eraseDataLoadedScript(clock));
        configurationClear();
        break;
    case 3:
        run.send(loadOnesProgramScript());
        run.send(protectClearScript(clock));
        run.send(loadOnesDataScript());
        run.send(protectClearScript(clock));
        configurationClear();
        break;
    case 4:
        run.send(chipEraseScript(clock));
        break;
    default:
        break;
    }
    run.exit();
    return run.ok ? true : fail();
}

bool Programmer::readCalibration()
{
    progressPosition.store(0, std::memory_order_relaxed);
    transferFailed.store(0, std::memory_order_relaxed);

    Run run(*this);
    ScriptAnswer answer;
    uint16_t value = calibrationValue;
    run.enter();
    run.walkTo(calibrationAddress);
    if (run.send(readHereScript(), answer))
        value = decodeProgramWord(answer[0], answer[1]);
    run.exit();

    if (!run.ok)
        return fail();
    calibrationValue = value;
    return true;
}

bool Programmer::readCalibrationBits()
{
    Run run(*this);
    if (!run.readBackConfiguration())
        return fail();
    savedCalibrationBits = configWord & calibrationBitsMask;
    return true;
}

bool Programmer::writeCalibration()
{
    progressPosition.store(0, std::memory_order_relaxed);
    transferFailed.store(0, std::memory_order_relaxed);

    Run run(*this);
    run.enter();
    run.walkTo(calibrationAddress);
    run.writeWord(calibrationValue);
    run.exit();
    return run.ok ? true : fail();
}

bool Programmer::restoreCalibrationBits()
{
    Run run(*this);
    uint16_t word1 = configWord;
    uint16_t word2 = configWord2;
    run.enterAndReadConfiguration(word1, word2);
    // Only the calibration bits come from what was saved; the chip's other bits stay.
    word1 = static_cast<uint16_t>((word1 & blankWord & ~calibrationBitsMask) | savedCalibrationBits);
    run.send(configPositionScript());
    run.send(configWriteScript(0, word1, 0, programmerClock));
    run.exit();

    if (!run.ok)
        return fail();
    configWord = word1;
    configWord2 = word2;
    return true;
}

bool Programmer::writeConfiguration()
{
    transferFailed.store(0, std::memory_order_relaxed);
    Run run(*this);
    run.enter();
    run.send(configPositionScript());
    run.send(configWriteScript(family, configWord, configWord2, programmerClock));
    run.exit();
    return run.readBackConfiguration() ? true : fail();
}

int32_t Programmer::readDeviceId()
{
    Run run(*this);
    ScriptAnswer answer;
    int32_t id = -1;
    run.enter();
    if (run.send(deviceIdProbeScript(), answer))
        id = decodeConfigWord2(answer[0], answer[1]);
    run.exit();
    return run.ok ? id : -1;
}

void Programmer::requestCancel()
{
    cancelRequested.store(1, std::memory_order_relaxed);
}

bool Programmer::sendControl(int code)
{
    if (deviceHandle == -1)
        return true;
    if (code < 0 || code > 0xFF)
        return false;
    ScriptAnswer answer;
    return exchange(controlScript(static_cast<uint8_t>(code)), answer);
}

int64_t Programmer::queryIdentity()
{
    if (deviceHandle == -1)
        return -1;
    ScriptAnswer answer;
    if (!exchange(identityQueryScript(), answer))
        return -1;
    return (int64_t{answer[0]} << 24) | (int64_t{answer[1]} << 16) | (int64_t{answer[2]} << 8) | answer[3];
}

int32_t Programmer::queryClock()
{
    if (deviceHandle == -1)
        return -1;
    ScriptAnswer answer;
    if (!exchange(clockQueryScript(), answer))
        return -1;
    programmerClock = clockFromAnswer(answer[0]);
    return programmerClock;
}

bool Programmer::resetOutputs()
{
    if (deviceHandle == -1)
        return true;
    ScriptAnswer answer;
    return exchange(resetOutputsScript(), answer);
}

bool Programmer::selectSocket(int pins)
{
    return sendControl(socketCode(pins));
}
