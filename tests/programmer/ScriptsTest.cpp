// SPDX-License-Identifier: MIT
#include "programmer/FastSchedule.h"
#include "programmer/Scripts.h"

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <vector>

namespace {

// The decode trace pins each decoding of a 14-bit device's answers, stray bits among them; not
// a 12-bit device's configuration word, nor the decodings of an answer with every bit set.
TEST(Scripts, DecodingKeepsOnlyTheDataBits)
{
    EXPECT_EQ(decodeConfigWord1(0x68, 0x24, 0x0FFF), 0x0234);
    EXPECT_EQ(decodeConfigWord1(0xFF, 0xFF, 0x0FFF), 0x0FFF);
    EXPECT_EQ(decodeConfigWord2(0xFF, 0xFF), 0x3FFF);
    EXPECT_EQ(decodeEepromByte(0xFF, 0xFF), 0xFF);
    EXPECT_EQ(decodeUserIdLocation(0xFF, 0xFF), 0xF);
}

// The clock trace pins the waits each clock answer gives; what is left is what a transfer adds
// to its time-out.
TEST(Scripts, ScriptWaitsByClock)
{
    // Entry 0 holds two power-up waits, the prelude a zero; the programmer tests show clock 16.
    EXPECT_EQ(scriptWaitMs(enterProgrammingScript(0), 4), 524);
    EXPECT_EQ(scriptWaitMs(configPreludeScript(), 4), 263);
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
    // The blocks trace holds loads of 11 and of 4 words.
    const std::vector<uint16_t> words(12, 0x3FFF);
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
