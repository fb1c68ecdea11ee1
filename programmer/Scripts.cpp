// SPDX-License-Identifier: MIT
#include "programmer/Scripts.h"

namespace {

Script withAnswer(Script script, uint8_t answerLength, uint8_t answerData = 0)
{
    script.answerLength = answerLength;
    script.answerData = answerData;
    return script;
}

} // namespace

void Script::append(uint8_t byte)
{
    // A script that would overflow is poisoned, not truncated: half a script could leave the
    // chip in a state nobody asked for.
    if (length >= bytes.size()) {
        fits = false;
        return;
    }
    bytes[length++] = byte;
}

void Script::control(uint8_t code)
{
    append(kOpControl);
    append(code);
}

void Script::wait(uint16_t value)
{
    append(kOpWait);
    append(0x00);
    append(static_cast<uint8_t>(value & 0xFF));
    append(static_cast<uint8_t>(value >> 8));
    waitCounts += 65536u - value;
}

void Script::command(uint8_t cmd)
{
    append(kOpCommand);
    append(cmd);
}

void Script::load(uint8_t cmd, uint16_t word)
{
    const Frame frame = encodeFrame(word);
    append(kOpLoad);
    append(cmd);
    append(frame.low);
    append(frame.high);
}

void Script::readFrame(uint8_t cmd)
{
    append(kOpReadFrame);
    append(cmd);
}

Frame encodeFrame(uint16_t word)
{
    return Frame{static_cast<uint8_t>((word << 1) & 0xFF), static_cast<uint8_t>((word >> 7) & 0xFF)};
}

uint16_t decodeProgramWord(uint8_t b0, uint8_t b1)
{
    return static_cast<uint16_t>(((b1 & 0x7F) << 7) + (b0 >> 1));
}

uint16_t decodeConfigWord1(uint8_t b0, uint8_t b1, uint16_t blankWord)
{
    return static_cast<uint16_t>(((b1 << 7) + (b0 >> 1)) & blankWord);
}

uint16_t decodeConfigWord2(uint8_t b0, uint8_t b1)
{
    return static_cast<uint16_t>(((b1 << 7) + (b0 >> 1)) & 0x3FFF);
}

uint16_t decodeEepromByte(uint8_t b0, uint8_t b1)
{
    return static_cast<uint16_t>(((b0 >> 1) | (b1 << 7)) & 0xFF);
}

uint16_t decodeUserIdLocation(uint8_t b0, uint8_t /*b1*/)
{
    return static_cast<uint16_t>((b0 >> 1) & 0x0F);
}

uint16_t waitShort(int32_t clock) { return clock == 16 ? 0xE0BF : 0xF82F; }
uint16_t waitMedium(int32_t clock) { return clock == 16 ? 0xC17F : 0xF05F; }
uint16_t waitLong(int32_t clock) { return clock == 16 ? 0x63BF : 0xB8EF; }

int32_t clockFromAnswer(uint8_t byte)
{
    switch (byte) {
    case 4:
    case 8:
    case 16:
    case 20:
        return byte;
    default:
        return 4;
    }
}

int32_t scriptWaitMs(const Script& script, int32_t clock)
{
    if (clock <= 0)
        clock = 1;
    const uint64_t micros = (uint64_t{script.waitCounts} * 16 + static_cast<uint64_t>(clock) - 1)
                            / static_cast<uint64_t>(clock);
    return static_cast<int32_t>((micros + 999) / 1000);
}

Script controlScript(uint8_t code)
{
    Script s;
    s.control(code);
    return withAnswer(s, 8);
}

Script identityQueryScript()
{
    return withAnswer(controlScript(kIdentityQuery), 8, 4);
}

Script clockQueryScript()
{
    return withAnswer(controlScript(kClockQuery), 8, 1);
}

Script resetOutputsScript()
{
    Script s;
    s.control(kLedOn);
    s.control(kDcDcOff);
    s.control(kMclrNormal);
    s.control(kSocketIcsp);
    s.control(kFiveVoltOff);
    return withAnswer(s, 10);
}

uint8_t socketCode(int pins)
{
    if (pins == 8 || pins == 18)
        return kSocket8_18;
    if (pins == 28 || pins == 40)
        return kSocket28_40;
    return kSocketIcsp;
}

Script enterProgrammingScript(int32_t entrySequence)
{
    Script s;
    switch (entrySequence) {
    case 0:   // supply before VPP
        s.control(kLedOn);
        s.control(kDcDcOn);
        s.wait(kWaitEntryFirst);
        s.control(kFiveVoltOff);
        s.control(kMclrReset);
        s.control(kFiveVoltOn);
        s.wait(kWaitEntrySecond);
        s.control(kMclrVpp);
        break;
    case 1:   // VPP before supply
        s.control(kLedOn);
        s.control(kDcDcOn);
        s.wait(kWaitEntryFirst);
        s.control(kFiveVoltOff);
        s.control(kMclrReset);
        s.control(kMclrVpp);
        s.control(kFiveVoltOn);
        break;
    case 2:   // DC-DC converter left off
        s.control(kFiveVoltOff);
        s.control(kMclrReset);
        s.control(kLedOn);
        s.control(kDcDcOff);
        s.wait(kWaitEntryFirst);
        s.control(kFiveVoltOn);
        s.control(kMclrVpp);
        break;
    default:
        break;
    }
    return withAnswer(s, 10);
}

Script exitProgrammingScript()
{
    Script s;
    s.control(kMclrReset);
    s.control(kFiveVoltOff);
    s.control(kDcDcOff);
    return withAnswer(s, 10);
}

Script readBlockScript()
{
    Script s;
    for (int i = 0; i < 16; ++i) {
        s.readFrame(kReadDataProgram);
        s.command(kIncrementAddress);
    }
    return withAnswer(s, 64, 32);
}

Script readEepromBlockScript()
{
    Script s;
    for (int i = 0; i < 16; ++i) {
        s.readFrame(kReadDataData);
        s.command(kIncrementAddress);
    }
    return withAnswer(s, 64, 32);
}

Script readUserIdsScript()
{
    Script s;
    s.load(kLoadConfiguration, 0);
    for (int i = 0; i < 4; ++i) {
        s.readFrame(kReadDataProgram);
        s.command(kIncrementAddress);
    }
    return withAnswer(s, 10, 8);
}

Script deviceIdStepScript()
{
    Script s;
    s.command(kIncrementAddress);
    s.command(kIncrementAddress);
    s.readFrame(kReadDataProgram);
    s.command(kIncrementAddress);
    return withAnswer(s, 10, 2);
}

Script configReadStepScript()
{
    Script s;
    s.readFrame(kReadDataProgram);
    s.command(kIncrementAddress);
    return withAnswer(s, 64, 2);
}

Script addressStepScript()
{
    Script s;
    s.command(kIncrementAddress);
    return withAnswer(s, 64);
}

Script readHereScript()
{
    Script s;
    s.readFrame(kReadDataProgram);
    return withAnswer(s, 64, 2);
}

Script deviceIdProbeScript()
{
    Script s;
    s.command(kIncrementAddress);
    s.load(kLoadConfiguration, 0);
    for (int i = 0; i < 6; ++i)
        s.command(kIncrementAddress);
    s.readFrame(kReadDataProgram);
    return withAnswer(s, 20, 2);
}

Script writeWordFirstScript(uint16_t word, int32_t clock)
{
    Script s;
    s.load(kLoadDataProgram, word);
    s.command(kBeginEraseProgramming);
    s.wait(waitShort(clock));
    s.readFrame(kReadDataProgram);
    return withAnswer(s, 10, 2);
}

Script writeWordSecondScript()
{
    Script s;
    s.command(kIncrementAddress);
    return withAnswer(s, 10);
}

Script writeBlockLoadScript(std::span<const uint16_t> words)
{
    Script s;
    if (words.empty() || words.size() > static_cast<std::size_t>(kMaxBlockWords)) {
        s.fits = false;
        return withAnswer(s, 64);
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        s.load(kLoadDataProgram, words[i]);
        if (i + 1 < words.size())
            s.command(kIncrementAddress);
    }
    return withAnswer(s, 64);
}

Script writeBlockCommitScript(int32_t clock)
{
    Script s;
    s.command(kBeginProgrammingOnly);
    s.wait(waitShort(clock));
    s.command(kEndProgramming);
    s.command(kIncrementAddress);
    return withAnswer(s, 10);
}

Script writeEepromByteScript(int32_t method, uint16_t byte, int32_t clock)
{
    Script s;
    if (method == 0) {
        s.load(kLoadDataData, byte);
        s.command(kBeginEraseProgramming);
        s.wait(waitLong(clock));
        s.command(kIncrementAddress);
    } else if (method == 1) {
        s.load(kLoadDataData, byte);
        s.command(kBeginProgrammingOnly);
        s.wait(waitMedium(clock));
        s.command(kEndProgramming);
        s.command(kIncrementAddress);
    }
    return withAnswer(s, 10);
}

Script loadConfigurationScript()
{
    Script s;
    s.load(kLoadConfiguration, 0);
    return withAnswer(s, 10);
}

Script configPreludeScript()
{
    Script s;
    s.load(kLoadConfiguration, 0);
    s.command(kBeginEraseProgramming);
    s.wait(0x0000);
    s.command(kEndProgramming);
    return withAnswer(s, 10);
}

Script skipUserIdsScript()
{
    Script s;
    for (int i = 0; i < 4; ++i)
        s.command(kIncrementAddress);
    return withAnswer(s, 10);
}

Script configWriteScript(int32_t family, uint16_t word1, uint16_t word2, int32_t clock)
{
    Script s;
    switch (family) {
    case 0:
        s.load(kLoadDataProgram, word1);
        s.command(kBeginEraseProgramming);
        s.wait(waitLong(clock));
        break;
    case 1:
        s.load(kLoadDataProgram, word1);
        s.command(kBeginProgrammingOnly);
        s.wait(waitMedium(clock));
        s.command(kEndProgramming);
        break;
    case 2:
        s.load(kLoadDataProgram, word1);
        s.command(kBeginProgrammingOnly);
        s.wait(waitMedium(clock));
        s.command(kEndProgramming);
        s.command(kIncrementAddress);
        s.load(kLoadDataProgram, word2);
        s.command(kBeginProgrammingOnly);
        s.wait(waitMedium(clock));
        s.command(kEndProgramming);
        break;
    default:
        break;
    }
    return withAnswer(s, 10);
}

Script bulkEraseProgramScript(int32_t clock)
{
    Script s;
    s.command(kBulkEraseProgram);
    s.wait(waitMedium(clock));
    return withAnswer(s, 65);
}

Script bulkEraseDataScript(int32_t clock)
{
    Script s;
    s.command(kBulkEraseData);
    s.wait(waitMedium(clock));
    return withAnswer(s, 65);
}

Script chipEraseScript(int32_t clock)
{
    Script s;
    s.command(kChipErase);
    s.wait(waitMedium(clock));
    return withAnswer(s, 10);
}

Script eraseProgramLoadedScript(int32_t clock)
{
    Script s;
    s.load(kLoadDataProgram, 0x3FFF);
    s.command(kBulkEraseProgram);
    s.command(kBeginEraseProgramming);
    s.wait(waitLong(clock));
    return withAnswer(s, 65);
}

Script eraseDataLoadedScript(int32_t clock)
{
    Script s;
    s.load(kLoadDataData, 0x3FFF);
    s.command(kBulkEraseData);
    s.command(kBeginEraseProgramming);
    s.wait(waitLong(clock));
    return withAnswer(s, 65);
}

Script loadOnesProgramScript()
{
    Script s;
    s.load(kLoadDataProgram, 0x3FFF);
    return withAnswer(s, 65);
}

Script loadOnesDataScript()
{
    Script s;
    s.load(kLoadDataData, 0x3FFF);
    return withAnswer(s, 65);
}

Script protectClearScript(int32_t clock)
{
    Script s;
    s.command(kBulkEraseSetup1);
    s.command(kBulkEraseSetup2);
    s.command(kBeginEraseProgramming);
    s.wait(waitLong(clock));
    s.command(kBulkEraseSetup1);
    s.command(kBulkEraseSetup2);
    return withAnswer(s, 10);
}

Script configPositionScript()
{
    Script s;
    s.load(kLoadConfiguration, 0x3FFF);
    for (int i = 0; i < 7; ++i)
        s.command(kIncrementAddress);
    return withAnswer(s, 65);
}

std::array<uint16_t, 4> userIdWords(uint16_t userId)
{
    return {static_cast<uint16_t>(userId & 0x3F8F), static_cast<uint16_t>((userId >> 4) & 0x0F8F),
            static_cast<uint16_t>((userId >> 8) & 0x008F), static_cast<uint16_t>(userId >> 12)};
}
