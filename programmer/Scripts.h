// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The programmer's command scripts: how each one is laid out on the wire, how long an answer
// the host asks for after it, and how the answer's frames are decoded. Pure functions: nothing
// here talks to a pipe.

constexpr std::size_t kScriptCapacity = 64;   // the firmware's receive buffer
constexpr std::size_t kAnswerCapacity = 65;   // the longest answer ever requested
constexpr int kMaxBlockWords = 11;            // 6n - 2 bytes must fit the script buffer

// Script opcodes.
constexpr uint8_t kOpControl = 0x80;
constexpr uint8_t kOpWait = 0x81;
constexpr uint8_t kOpCommand = 0x82;
constexpr uint8_t kOpLoad = 0x83;
constexpr uint8_t kOpReadFrame = 0x84;

// Output-control codes (second byte of a Control command).
enum ControlCode : uint8_t {
    kLedOn = 0x00,
    kLedOff = 0x01,
    kDcDcOn = 0x02,
    kDcDcOff = 0x03,
    kMclrVpp = 0x04,
    kMclrReset = 0x05,
    kMclrNormal = 0x06,
    kSocket8_18 = 0x07,
    kSocket28_40 = 0x08,
    kSocketIcsp = 0x09,
    kFiveVoltOn = 0x0A,
    kFiveVoltOff = 0x0B,
    kIdentityQuery = 0x80,
    kClockQuery = 0x81,
};

// Six-bit ICSP commands of the PIC16 mid-range serial programming set.
enum IcspCommand : uint8_t {
    kLoadConfiguration = 0x00,
    kBulkEraseSetup1 = 0x01,
    kLoadDataProgram = 0x02,
    kLoadDataData = 0x03,
    kReadDataProgram = 0x04,
    kReadDataData = 0x05,
    kIncrementAddress = 0x06,
    kBulkEraseSetup2 = 0x07,
    kBeginEraseProgramming = 0x08,
    kBulkEraseProgram = 0x09,
    kBulkEraseData = 0x0B,
    kEndProgramming = 0x17,
    kBeginProgrammingOnly = 0x18,
    kChipErase = 0x1F,
};

// One script, ready to write. length 0 means "send nothing" (an unknown method selector);
// fits false means the builder refused it because it would not fit the 64-byte buffer, and such
// a script must never be sent.
struct Script {
    std::array<uint8_t, kScriptCapacity> bytes{};
    uint8_t length = 0;
    uint8_t answerLength = 0;   // bytes requested by the read that follows the write
    uint8_t answerData = 0;     // bytes of that answer the host decodes; a shorter answer fails
    bool fits = true;
    uint32_t waitCounts = 0;    // sum of (65536 - value) over its Wait commands

    void append(uint8_t byte);
    void control(uint8_t code);
    void wait(uint16_t value);
    void command(uint8_t cmd);
    void load(uint8_t cmd, uint16_t word);
    void readFrame(uint8_t cmd);
    std::span<const uint8_t> view() const { return {bytes.data(), length}; }
};

// A 14-bit word as its ICSP data frame (start bit, 14 data bits, stop bit), low byte first.
struct Frame {
    uint8_t low = 0;
    uint8_t high = 0;
};
Frame encodeFrame(uint16_t word);

// The five decodings of a two-byte answer frame.
uint16_t decodeProgramWord(uint8_t b0, uint8_t b1);               // also the calibration word
uint16_t decodeConfigWord1(uint8_t b0, uint8_t b1, uint16_t blankWord);
uint16_t decodeConfigWord2(uint8_t b0, uint8_t b1);               // also the device ID
uint16_t decodeEepromByte(uint8_t b0, uint8_t b1);
uint16_t decodeUserIdLocation(uint8_t b0, uint8_t b1);

// Wait values by the programmer's clock: the firmware counts up from the value to 65536.
uint16_t waitShort(int32_t clock);
uint16_t waitMedium(int32_t clock);
uint16_t waitLong(int32_t clock);
constexpr uint16_t kWaitEntryFirst = 0x0001;
constexpr uint16_t kWaitEntrySecond = 0x00FF;

// The clock value a query answer byte selects: 4, 8, 16 or 20 as answered, anything else 4.
int32_t clockFromAnswer(uint8_t byte);

// Longest time the script's waits can take at this clock, rounded up to whole milliseconds
// (one count is 16 / clock microseconds).
int32_t scriptWaitMs(const Script& script, int32_t clock);

// Control scripts, window thread.
Script controlScript(uint8_t code);          // 8-byte answer, ignored
Script identityQueryScript();                // answer bytes 0-3: the identity, MSB first
Script clockQueryScript();                   // answer byte 0: the clock
Script resetOutputsScript();                 // the safe output state
uint8_t socketCode(int pins);                // 8/18 -> 0x07, 28/40 -> 0x08, else ICSP 0x09

// Programming-mode frame.
Script enterProgrammingScript(int32_t entrySequence);   // length 0 for an unknown sequence
Script exitProgrammingScript();

// Reading.
Script readBlockScript();                    // sixteen program words
Script readEepromBlockScript();              // sixteen EEPROM bytes
Script readUserIdsScript();                  // four user ID locations
Script deviceIdStepScript();                 // from 0x2004: reads 0x2006, ends at 0x2007
Script configReadStepScript();               // reads here, then steps on
Script addressStepScript();
Script readHereScript();
Script deviceIdProbeScript();                // from 0: reads 0x2006

// Writing.
Script writeWordFirstScript(uint16_t word, int32_t clock);   // answer: the read-back word
Script writeWordSecondScript();
Script writeBlockLoadScript(std::span<const uint16_t> words); // refused above 11 words
Script writeBlockCommitScript(int32_t clock);
Script writeEepromByteScript(int32_t method, uint16_t byte, int32_t clock); // length 0: unknown
Script loadConfigurationScript();
Script configPreludeScript();
Script skipUserIdsScript();
Script configWriteScript(int32_t family, uint16_t word1, uint16_t word2, int32_t clock);

// Erasing.
Script bulkEraseProgramScript(int32_t clock);
Script bulkEraseDataScript(int32_t clock);
Script chipEraseScript(int32_t clock);
Script eraseProgramLoadedScript(int32_t clock);
Script eraseDataLoadedScript(int32_t clock);
Script loadOnesProgramScript();
Script loadOnesDataScript();
Script protectClearScript(int32_t clock);
Script configPositionScript();               // from anywhere: to 0x2007

// The four user ID location words written from the packed value (location 0 first).
std::array<uint16_t, 4> userIdWords(uint16_t userId);
