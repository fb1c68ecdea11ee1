#include "operations/Verify.h"

#include "device/MemoryImage.h"
#include "programmer/Programmer.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

// A 12F675-like geometry: 1024 words, 128 EEPROM bytes, calibration word at 0x3FF, bits 0x3000.
struct Pair {
    Programmer programmer;
    MemoryImage image;
    Pair(int32_t family = 0) {
        programmer.setGeometry(1024, 0x3FFF, 128);
        programmer.setMethods(1, 1, 0, family, 0, 1, 1);
        image.resize(1024, 0x3FFF, 128);
        image.setFamily(family);
        programmer.calibrationAddress = 0x3FF;
        programmer.calibrationBitsMask = 0x3000;
    }
};

TEST(MergeForWrite, ChipCalibrationOverwritesTheFileInBothCopies) {
    Pair p;
    p.image.programWords[0x3FF] = 0x3400;   // the file's word at the calibration address
    p.image.configWord = 0x31C4;            // the file's BG bits 11
    p.programmer.calibrationValue = 0x3480;
    p.programmer.savedCalibrationBits = 0x2000;

    mergeCalibrationForWrite(p.programmer, p.image);

    EXPECT_EQ(p.programmer.programWords[0x3FF], 0x3480);
    EXPECT_EQ(p.image.programWords[0x3FF], 0x3480);
    EXPECT_EQ(p.programmer.configWord, 0x21C4);
    EXPECT_EQ(p.image.configWord, 0x21C4);
}

TEST(MergeForVerify, TakesOnlyTheChipsCalibrationIntoTheImage) {
    Pair p;
    p.image.programWords[0x3FF] = 0x3400;
    p.image.configWord = 0x31C4;
    p.programmer.programWords[0x3FF] = 0x3480;  // read back
    p.programmer.configWord = 0x11C4;           // read back: BG 01, the rest as written
    p.programmer.savedCalibrationBits = 0;      // never read: must not matter

    mergeCalibrationForVerify(p.programmer, p.image);

    EXPECT_EQ(p.image.programWords[0x3FF], 0x3480);
    EXPECT_EQ(p.image.configWord, 0x11C4);
    EXPECT_EQ(p.programmer.configWord, 0x11C4) << "the read-back word stays as read";
    EXPECT_TRUE(compareWithImage(p.programmer, p.image).ok());
}

TEST(MergeForVerify, AConfigurationWordThatDidNotProgramStillDiffers) {
    Pair p;
    p.image.configWord = 0x31C4;
    p.programmer.configWord = 0x31FF;   // the low bits never took
    p.programmer.savedCalibrationBits = 0x3000;

    mergeCalibrationForVerify(p.programmer, p.image);
    const VerifyOutcome outcome = compareWithImage(p.programmer, p.image);
    EXPECT_TRUE(outcome.programOk);
    EXPECT_TRUE(outcome.eepromOk);
    EXPECT_FALSE(outcome.configOk);
}

TEST(CompareWithImage, EachAreaFailsOnItsOwnLine) {
    struct Case {
        const char* name;
        int32_t family;
        int32_t writeUserId;
        std::function<void(Pair&)> change;
        VerifyOutcome expected;
    };
    const Case cases[] = {
        {"equal", 0, 1, [](Pair&) {}, {true, true, true}},
        {"first word", 0, 1, [](Pair& p) { p.programmer.programWords[0] = 0x0000; },
         {false, true, true}},
        {"last word", 0, 1, [](Pair& p) { p.image.programWords[1023] = 0x2800; },
         {false, true, true}},
        {"spare cell is not compared", 0, 1,
         [](Pair& p) { p.programmer.programWords[1024] = 0; }, {true, true, true}},
        {"one EEPROM byte", 0, 1, [](Pair& p) { p.programmer.eepromBytes[127] = 0x00; },
         {true, false, true}},
        {"user ID", 0, 1, [](Pair& p) { p.programmer.userId = 0x1234; }, {true, true, false}},
        {"user ID not written", 0, 0, [](Pair& p) { p.programmer.userId = 0x1234; },
         {true, true, true}},
        {"config word", 0, 1, [](Pair& p) { p.programmer.configWord = 0x3FFE; },
         {true, true, false}},
        {"config word 2, family 2", 2, 1, [](Pair& p) { p.programmer.configWord2 = 0x3FFC; },
         {true, true, false}},
        {"config word 2, family 1", 1, 1, [](Pair& p) { p.programmer.configWord2 = 0x3FFC; },
         {true, true, true}},
        {"config word 2, unimplemented bits", 2, 1,
         [](Pair& p) {
             p.image.configWord2 = 0x3FFC;
             p.programmer.configWord2 = 0x0000;
         },
         {true, true, true}},
        {"config word 2, implemented bit", 2, 1,
         [](Pair& p) {
             p.image.configWord2 = 0x3FFC;
             p.programmer.configWord2 = 0x0001;
         },
         {true, true, false}},
        {"all three", 0, 1,
         [](Pair& p) {
             p.programmer.programWords[5] = 1;
             p.programmer.eepromBytes[5] = 1;
             p.programmer.configWord = 1;
         },
         {false, false, false}},
    };
    for (const Case& c : cases) {
        Pair p(c.family);
        p.programmer.writeUserId = c.writeUserId;
        c.change(p);
        const VerifyOutcome o = compareWithImage(p.programmer, p.image, 0x0003);
        EXPECT_EQ(o.programOk, c.expected.programOk) << c.name;
        EXPECT_EQ(o.eepromOk, c.expected.eepromOk) << c.name;
        EXPECT_EQ(o.configOk, c.expected.configOk) << c.name;
        EXPECT_EQ(o.ok(), c.expected.programOk && c.expected.eepromOk && c.expected.configOk)
            << c.name;
    }
}

TEST(ConfigWord2KeepMask, FromTheTagsAfterTheFirstFourteen) {
    const std::string word1 = "[CP][CCPMX][DEBUG][WRT1][WRT0][CPD][LVP][BOREN][MCLRE][FOSC2]"
                              "[PWRTEn][WDTE][FOSC1][FOSC0]";
    EXPECT_EQ(configWord2KeepMask(word1), 0xFFFF);
    EXPECT_EQ(configWord2KeepMask(word1 + "[x][x][x][x][x][x][x][x][x][x][x][x][IESO][FCMEN]"),
              0xC003);
    EXPECT_EQ(configWord2KeepMask(word1 + "[][x][A]"), 0xFFFF - 0x3000);
    EXPECT_EQ(configWord2KeepMask("[x][x]"), 0xFFFF);   // fewer than fourteen tags: no word 2
}

}  // namespace
