// SPDX-License-Identifier: MIT
#include "programmer/FastSchedule.h"
#include "programmer/Scripts.h"

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <vector>

namespace {

TEST(Scripts, DecodeTable)
{
    const struct {
        uint8_t b0, b1;
        uint16_t programWord, config1Blank3FFF, config1Blank0FFF, config2, eeprom, userIdLocation;
    } cases[] = {
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

TEST(Scripts, WaitsByClock)
{
    // The clock trace holds the answers 16, 4, 8, 20 and 12; any other is clock 4 as well.
    EXPECT_EQ(clockFromAnswer(0), 4);
    EXPECT_EQ(clockFromAnswer(255), 4);
    EXPECT_EQ(std::vector<uint16_t>({waitShort(16), waitMedium(16), waitLong(16)}),
              (std::vector<uint16_t>{0xE0BF, 0xC17F, 0x63BF}));
    for (const int32_t clock : {4, 8, 20})
        EXPECT_EQ(std::vector<uint16_t>({waitShort(clock), waitMedium(clock), waitLong(clock)}),
                  (std::vector<uint16_t>{0xF82F, 0xF05F, 0xB8EF}))
            << clock;
    // What a transfer adds to its time-out: entry 0 holds two power-up waits, the prelude a zero.
    EXPECT_EQ(scriptWaitMs(enterProgrammingScript(0), 16), 131);
    EXPECT_EQ(scriptWaitMs(enterProgrammingScript(0), 4), 524);
    EXPECT_EQ(scriptWaitMs(configPreludeScript(), 4), 263);
    EXPECT_EQ(scriptWaitMs(eraseProgramLoadedScript(4), 4), 73);
    EXPECT_EQ(scriptWaitMs(readBlockScript(), 4), 0);
    // A clock the programmer never answers counts as 1 for a script's waits and as 4 for the
    // fast schedule's: the longest the one, the standard clock the other.
    EXPECT_EQ(scriptWaitMs(configPreludeScript(), 0), 1049);
    EXPECT_EQ(waitForMicroseconds(8000, 0), 0xF830);
}

TEST(Scripts, UserIdWordsShiftTheValueAndClearBits6To4)
{
    // 0x1234 is in the blocks trace; all ones shows which high bits stay.
    EXPECT_EQ(userIdWords(0xFFFF), (std::array<uint16_t, 4>{0x3F8F, 0x0F8F, 0x008F, 0x000F}));
}

TEST(Scripts, BlockLoadsFitUpTo11WordsAndOverflowPoisons)
{
    const std::vector<uint16_t> words(12, 0x3FFF);
    for (std::size_t n = 1; n <= 11; ++n) {
        const Script s = writeBlockLoadScript(std::span<const uint16_t>(words.data(), n));
        EXPECT_TRUE(s.fits) << n;
        EXPECT_EQ(s.length, 6 * n - 2) << n;
        EXPECT_EQ(s.bytes[s.length - 4], kOpLoad) << "ends with the last Load, not an Increment";
    }
    EXPECT_FALSE(writeBlockLoadScript(words).fits);
    EXPECT_FALSE(writeBlockLoadScript(std::span<const uint16_t>()).fits);

    Script s;
    for (int i = 0; i < 16; ++i)
        s.load(kLoadDataProgram, 0x3FFF);
    ASSERT_TRUE(s.fits);
    s.command(kIncrementAddress);
    EXPECT_FALSE(s.fits);
    EXPECT_EQ(s.length, 64);
}

} // namespace
