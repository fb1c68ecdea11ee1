#include "programmer/Scripts.h"

#include "FakeDriver.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> bytesOf(const Script& s)
{
    return {s.bytes.begin(), s.bytes.begin() + s.length};
}

struct ScriptCase {
    const char* name;
    std::function<Script()> build;
    const char* bytes;
    int answerLength;
    int answerData;
};

// Every script the operations send, byte for byte, at clock 16 unless the name says otherwise.
const ScriptCase kScripts[] = {
    {"entry 0", [] { return enterProgrammingScript(0); },
     "80 00 80 02 81 00 01 00 80 0B 80 05 80 0A 81 00 FF 00 80 04", 10, 0},
    {"entry 1", [] { return enterProgrammingScript(1); },
     "80 00 80 02 81 00 01 00 80 0B 80 05 80 04 80 0A", 10, 0},
    {"entry 2", [] { return enterProgrammingScript(2); },
     "80 0B 80 05 80 00 80 03 81 00 01 00 80 0A 80 04", 10, 0},
    {"entry 3 sends nothing", [] { return enterProgrammingScript(3); }, "", 10, 0},
    {"exit", [] { return exitProgrammingScript(); }, "80 05 80 0B 80 03", 10, 0},
    {"read block", [] { return readBlockScript(); },
     "84 04 82 06 84 04 82 06 84 04 82 06 84 04 82 06 84 04 82 06 84 04 82 06 84 04 82 06 "
     "84 04 82 06 84 04 82 06 84 04 82 06 84 04 82 06 84 04 82 06 84 04 82 06 84 04 82 06 "
     "84 04 82 06 84 04 82 06", 64, 32},
    {"read EEPROM block", [] { return readEepromBlockScript(); },
     "84 05 82 06 84 05 82 06 84 05 82 06 84 05 82 06 84 05 82 06 84 05 82 06 84 05 82 06 "
     "84 05 82 06 84 05 82 06 84 05 82 06 84 05 82 06 84 05 82 06 84 05 82 06 84 05 82 06 "
     "84 05 82 06 84 05 82 06", 64, 32},
    {"read user IDs", [] { return readUserIdsScript(); },
     "83 00 00 00 84 04 82 06 84 04 82 06 84 04 82 06 84 04 82 06", 10, 8},
    {"device ID step", [] { return deviceIdStepScript(); }, "82 06 82 06 84 04 82 06", 10, 2},
    {"configuration read step", [] { return configReadStepScript(); }, "84 04 82 06", 64, 2},
    {"write word 0x1234", [] { return writeWordFirstScript(0x1234, 16); },
     "83 02 68 24 82 08 81 00 BF E0 84 04", 10, 2},
    {"write word clock 4", [] { return writeWordFirstScript(0x3FFF, 4); },
     "83 02 FE 7F 82 08 81 00 2F F8 84 04", 10, 2},
    {"write word second", [] { return writeWordSecondScript(); }, "82 06", 10, 0},
    {"block commit", [] { return writeBlockCommitScript(16); }, "82 18 81 00 BF E0 82 17 82 06", 10, 0},
    {"EEPROM 0xA5 method 0", [] { return writeEepromByteScript(0, 0xA5, 16); },
     "83 03 4A 01 82 08 81 00 BF 63 82 06", 10, 0},
    {"EEPROM 0xA5 method 1", [] { return writeEepromByteScript(1, 0xA5, 16); },
     "83 03 4A 01 82 18 81 00 7F C1 82 17 82 06", 10, 0},
    {"EEPROM method 2 sends nothing", [] { return writeEepromByteScript(2, 0xA5, 16); }, "", 10, 0},
    {"load configuration", [] { return loadConfigurationScript(); }, "83 00 00 00", 10, 0},
    {"configuration prelude", [] { return configPreludeScript(); }, "83 00 00 00 82 08 81 00 00 00 82 17", 10, 0},
    {"skip user IDs", [] { return skipUserIdsScript(); }, "82 06 82 06 82 06 82 06", 10, 0},
    {"config write family 0", [] { return configWriteScript(0, 0x3F1A, 0, 16); },
     "83 02 34 7E 82 08 81 00 BF 63", 10, 0},
    {"config write family 1", [] { return configWriteScript(1, 0x3F1A, 0, 16); },
     "83 02 34 7E 82 18 81 00 7F C1 82 17", 10, 0},
    {"config write family 2", [] { return configWriteScript(2, 0x3F1A, 0x0003, 4); },
     "83 02 34 7E 82 18 81 00 5F F0 82 17 82 06 83 02 06 00 82 18 81 00 5F F0 82 17", 10, 0},
    {"config write family 3 sends nothing", [] { return configWriteScript(3, 0, 0, 16); }, "", 10, 0},
    {"bulk erase program", [] { return bulkEraseProgramScript(16); }, "82 09 81 00 7F C1", 65, 0},
    {"bulk erase data", [] { return bulkEraseDataScript(16); }, "82 0B 81 00 7F C1", 65, 0},
    {"chip erase", [] { return chipEraseScript(16); }, "82 1F 81 00 7F C1", 10, 0},
    {"erase program loaded", [] { return eraseProgramLoadedScript(16); }, "83 02 FE 7F 82 09 82 08 81 00 BF 63", 65, 0},
    {"erase data loaded clock 8", [] { return eraseDataLoadedScript(8); }, "83 03 FE 7F 82 0B 82 08 81 00 EF B8", 65, 0},
    {"load ones program", [] { return loadOnesProgramScript(); }, "83 02 FE 7F", 65, 0},
    {"load ones data", [] { return loadOnesDataScript(); }, "83 03 FE 7F", 65, 0},
    {"protect clear", [] { return protectClearScript(16); }, "82 01 82 07 82 08 81 00 BF 63 82 01 82 07", 10, 0},
    {"configuration position", [] { return configPositionScript(); },
     "83 00 FE 7F 82 06 82 06 82 06 82 06 82 06 82 06 82 06", 65, 0},
    {"address step", [] { return addressStepScript(); }, "82 06", 64, 0},
    {"read here", [] { return readHereScript(); }, "84 04", 64, 2},
    {"device ID probe", [] { return deviceIdProbeScript(); },
     "82 06 83 00 00 00 82 06 82 06 82 06 82 06 82 06 82 06 84 04", 20, 2},
    {"LED off", [] { return controlScript(kLedOff); }, "80 01", 8, 0},
    {"identity query", [] { return identityQueryScript(); }, "80 80", 8, 4},
    {"clock query", [] { return clockQueryScript(); }, "80 81", 8, 1},
    {"safe outputs", [] { return resetOutputsScript(); }, "80 00 80 03 80 06 80 09 80 0B", 10, 0},
    {"block of 4", [] { const uint16_t w[] = {0x1234, 0x3FFF, 0, 0x0001}; return writeBlockLoadScript(w); },
     "83 02 68 24 82 06 83 02 FE 7F 82 06 83 02 00 00 82 06 83 02 02 00", 64, 0},
};

TEST(Scripts, EveryScriptIsByteExact)
{
    for (const ScriptCase& c : kScripts) {
        SCOPED_TRACE(c.name);
        const Script s = c.build();
        EXPECT_TRUE(s.fits);
        EXPECT_EQ(bytesOf(s), hexBytes(c.bytes));
        EXPECT_EQ(s.answerLength, c.answerLength);
        EXPECT_EQ(s.answerData, c.answerData);
        EXPECT_LE(s.length, kScriptCapacity);
    }
}

TEST(Scripts, FramesOfWordsAndBytes)
{
    struct {
        uint16_t word;
        uint8_t low, high;
    } const cases[] = {{0x1234, 0x68, 0x24}, {0x3FFF, 0xFE, 0x7F}, {0x00A5, 0x4A, 0x01},
                       {0x0000, 0x00, 0x00}, {0x0123, 0x46, 0x02}, {0x3F1A, 0x34, 0x7E}};
    for (const auto& c : cases) {
        const Frame f = encodeFrame(c.word);
        EXPECT_EQ(f.low, c.low) << std::hex << c.word;
        EXPECT_EQ(f.high, c.high) << std::hex << c.word;
    }
}

TEST(Scripts, DecodeTable)
{
    struct {
        uint8_t b0, b1;
        uint16_t programWord, config1Blank3FFF, config1Blank0FFF, config2, eeprom, userIdLocation;
    } const cases[] = {
        {0x68, 0x24, 0x1234, 0x1234, 0x0234, 0x1234, 0x34, 0x4},
        {0x4A, 0x01, 0x00A5, 0x00A5, 0x00A5, 0x00A5, 0xA5, 0x5},
        {0xFE, 0x7F, 0x3FFF, 0x3FFF, 0x0FFF, 0x3FFF, 0xFF, 0xF},
        // Bits outside the fourteen data bits are dropped by every decoding.
        {0xFF, 0xFF, 0x3FFF, 0x3FFF, 0x0FFF, 0x3FFF, 0xFF, 0xF},
        {0x00, 0x80, 0x0000, 0x0000, 0x0000, 0x0000, 0x00, 0x0},
        {0x1F, 0x00, 0x000F, 0x000F, 0x000F, 0x000F, 0x0F, 0xF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.b0) << " " << int(c.b1));
        EXPECT_EQ(decodeProgramWord(c.b0, c.b1), c.programWord);
        EXPECT_EQ(decodeConfigWord1(c.b0, c.b1, 0x3FFF), c.config1Blank3FFF);
        EXPECT_EQ(decodeConfigWord1(c.b0, c.b1, 0x0FFF), c.config1Blank0FFF);
        EXPECT_EQ(decodeConfigWord2(c.b0, c.b1), c.config2);
        EXPECT_EQ(decodeEepromByte(c.b0, c.b1), c.eeprom);
        EXPECT_EQ(decodeUserIdLocation(c.b0, c.b1), c.userIdLocation);
    }
}

TEST(Scripts, WaitValuesByClock)
{
    struct {
        uint8_t answer;
        int32_t clock;
        uint16_t shortWait, mediumWait, longWait;
    } const cases[] = {
        {16, 16, 0xE0BF, 0xC17F, 0x63BF}, {4, 4, 0xF82F, 0xF05F, 0xB8EF},
        {8, 8, 0xF82F, 0xF05F, 0xB8EF},   {20, 20, 0xF82F, 0xF05F, 0xB8EF},
        {12, 4, 0xF82F, 0xF05F, 0xB8EF},  {0, 4, 0xF82F, 0xF05F, 0xB8EF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.answer));
        const int32_t clock = clockFromAnswer(c.answer);
        EXPECT_EQ(clock, c.clock);
        EXPECT_EQ(waitShort(clock), c.shortWait);
        EXPECT_EQ(waitMedium(clock), c.mediumWait);
        EXPECT_EQ(waitLong(clock), c.longWait);
    }
    // Read as counts to 65536, the pairs are the documented durations.
    EXPECT_EQ(65536 - waitShort(16), 8001);
    EXPECT_EQ(65536 - waitMedium(16), 16001);
    EXPECT_EQ(65536 - waitLong(16), 40001);
    EXPECT_EQ(65536 - waitShort(4), 2001);
    EXPECT_EQ(65536 - waitMedium(4), 4001);
    EXPECT_EQ(65536 - waitLong(4), 18193);
}

TEST(Scripts, EveryScriptWaitFitsInsideTheDefaultTimeOut)
{
    // The slowest clock stretches every wait fourfold; even then the default time-out alone
    // outlasts the longest script, and each transfer gets its script's waits on top of it.
    const Programmer defaults;
    for (const int32_t clock : {4, 8, 16, 20}) {
        for (const ScriptCase& c : kScripts)
            EXPECT_LT(scriptWaitMs(c.build(), clock), defaults.transferTimeoutMs) << c.name << " clock " << clock;
        for (const Script& s : {writeBlockCommitScript(clock), protectClearScript(clock),
                                configWriteScript(2, 0, 0, clock), eraseProgramLoadedScript(clock)})
            EXPECT_LT(scriptWaitMs(s, clock), defaults.transferTimeoutMs);
    }
    // The longest ones: entry 0 with its two power-up waits, and the prelude's zero wait.
    EXPECT_EQ(scriptWaitMs(enterProgrammingScript(0), 16), 131);
    EXPECT_EQ(scriptWaitMs(enterProgrammingScript(0), 4), 524);
    EXPECT_EQ(scriptWaitMs(configPreludeScript(), 16), 66);
    EXPECT_EQ(scriptWaitMs(configPreludeScript(), 4), 263);
    EXPECT_EQ(scriptWaitMs(eraseProgramLoadedScript(4), 4), 73);
    EXPECT_EQ(scriptWaitMs(readBlockScript(), 4), 0);
}

TEST(Scripts, BlockLoadSizes)
{
    std::vector<uint16_t> words(12, 0x3FFF);
    for (std::size_t n = 1; n <= 11; ++n) {
        const Script s = writeBlockLoadScript(std::span<const uint16_t>(words.data(), n));
        EXPECT_TRUE(s.fits) << n;
        EXPECT_EQ(s.length, 6 * n - 2) << n;
        // Ends with the last word's Load, not with an Increment Address.
        EXPECT_EQ(s.bytes[s.length - 4], kOpLoad);
    }
    EXPECT_EQ(writeBlockLoadScript(std::span<const uint16_t>(words.data(), 11)).length, 64);
    EXPECT_FALSE(writeBlockLoadScript(std::span<const uint16_t>(words.data(), 12)).fits);
    EXPECT_FALSE(writeBlockLoadScript(std::span<const uint16_t>()).fits);
}

TEST(Scripts, OverflowPoisonsInsteadOfTruncating)
{
    Script s;
    for (int i = 0; i < 16; ++i)
        s.load(kLoadDataProgram, 0x3FFF);
    EXPECT_TRUE(s.fits);
    EXPECT_EQ(s.length, 64);
    s.command(kIncrementAddress);
    EXPECT_FALSE(s.fits);
    EXPECT_EQ(s.length, 64);
}

TEST(Scripts, SocketCodesAndUserIdWords)
{
    const std::pair<int, uint8_t> sockets[] = {{8, 0x07}, {18, 0x07}, {28, 0x08}, {40, 0x08},
                                               {20, 0x09}, {14, 0x09}, {0, 0x09}, {-1, 0x09}};
    for (const auto& [pins, code] : sockets)
        EXPECT_EQ(socketCode(pins), code) << pins;

    EXPECT_EQ(userIdWords(0x1234), (std::array<uint16_t, 4>{0x1204, 0x0103, 0x0002, 0x0001}));
    EXPECT_EQ(userIdWords(0xFFFF), (std::array<uint16_t, 4>{0x3F8F, 0x0F8F, 0x008F, 0x000F}));
    // Read back through the user ID decoding, the low nibbles give the packed value again.
    for (const uint16_t value : {0x0000, 0x1234, 0xFFFF, 0xA5C3}) {
        uint16_t packed = 0;
        const auto words = userIdWords(static_cast<uint16_t>(value));
        for (int k = 0; k < 4; ++k) {
            const Frame f = encodeFrame(words[k]);
            packed = static_cast<uint16_t>(packed | decodeUserIdLocation(f.low, f.high) << (4 * k));
        }
        EXPECT_EQ(packed, value);
    }
}

} // namespace
