#include "programmer/Programmer.h"

#include "FakeDriver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = FakeDriver::Bytes;

std::string hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::vector<std::string> hexScripts(const FakeDriver& fake)
{
    std::vector<std::string> out;
    for (const Bytes& s : fake.scripts())
        out.push_back(hex(s));
    return out;
}

const std::string kEntry1 = "80 00 80 02 81 00 01 00 80 0B 80 05 80 04 80 0A";
const std::string kExit = "80 05 80 0B 80 03";
const std::string kProtectClear = "82 01 82 07 82 08 81 00 BF 63 82 01 82 07";
const std::string kConfigPosition = "83 00 FE 7F 82 06 82 06 82 06 82 06 82 06 82 06 82 06";

// Answers every read frame of a script with the frame of word(n), n counting read frames
// from the first exchange on.
FakeDriver::AnswerFn framesOf(std::function<uint16_t(int)> word)
{
    auto counter = std::make_shared<int>(0);
    return [word, counter](const Bytes& script, std::size_t requested) {
        Bytes reply(requested, 0);
        std::size_t at = 0;
        for (std::size_t i = 0; i + 1 < script.size();) {
            const uint8_t op = script[i];
            if (op == 0x84) {
                const Frame f = encodeFrame(word((*counter)++));
                if (at + 1 < reply.size()) {
                    reply[at] = f.low;
                    reply[at + 1] = f.high;
                }
                at += 2;
            }
            i += (op == 0x81 || op == 0x83) ? 4 : 2;
        }
        return reply;
    };
}

bool readsFrames(const Bytes& script)
{
    for (std::size_t i = 0; i + 1 < script.size(); i += (script[i] == 0x81 || script[i] == 0x83) ? 4 : 2)
        if (script[i] == 0x84)
            return true;
    return false;
}

// A chip that takes every word (the write's read-back echoes it, so no mismatch pause) and
// answers other reads with 0x2000, 0x2001, ...
FakeDriver::AnswerFn chipLike()
{
    FakeDriver::AnswerFn frames = framesOf([](int n) { return static_cast<uint16_t>(0x2000 + n); });
    return [frames](const Bytes& script, std::size_t requested) {
        if (script.size() == 12 && script[0] == 0x83 && script[1] == 0x02 && script[10] == 0x84) {
            Bytes reply(requested, 0);
            reply[0] = script[2];
            reply[1] = script[3];
            return reply;
        }
        return frames(script, requested);
    };
}

class ProgrammerTest : public testing::Test {
protected:
    FakeDriver fake;
    Programmer p;

    void SetUp() override { attach(p, fake); }
};

TEST(ProgrammerConstruction, DefaultsOfANewProgrammer)
{
    Programmer p;
    EXPECT_EQ(p.programWordCount, 2048u);
    EXPECT_EQ(p.eepromByteCount, 128u);
    EXPECT_EQ(p.progressTotal, 2184u);
    EXPECT_EQ(p.programWords.size(), 2049u);
    EXPECT_EQ(p.eepromBytes.size(), 129u);
    EXPECT_EQ(p.programWords[2048], 0x3FFF);
    EXPECT_EQ(p.eepromBytes[0], 0x00FF);
    EXPECT_EQ(p.entrySequence, 1);
    EXPECT_EQ(p.programMethod, 0);
    EXPECT_EQ(p.blockWords, 1);
    EXPECT_EQ(p.eraseMethod, 1);
    EXPECT_EQ(p.deviceHandle, -1);
    EXPECT_EQ(p.readPipe, nullptr);
    EXPECT_EQ(p.writePipe, nullptr);
    EXPECT_EQ(p.busy.load(), 0);
    EXPECT_EQ(p.writeUserId, 1);
    EXPECT_EQ(p.savedCalibrationBits, 0);
    EXPECT_EQ(p.userId, 0xFFFF);
    EXPECT_EQ(p.deviceId, 0xFFFF);

    p.setGeometry(40, 0x0FFF, 0);
    EXPECT_TRUE(p.eepromBytes.empty());
    EXPECT_EQ(p.programWords.size(), 41u);
    EXPECT_EQ(p.configWord, 0x0FFF);
    EXPECT_EQ(p.progressTotal, 48u);
}

TEST_F(ProgrammerTest, ReadAllOfA2048WordDeviceReachesItsProgressTotal)
{
    fake.answer = framesOf([](int n) { return static_cast<uint16_t>(n * 7 & 0x3FFF); });
    ASSERT_TRUE(p.readAll());
    EXPECT_EQ(p.progressPosition.load(), 2184u);
    EXPECT_EQ(p.progressPosition.load(), p.progressTotal);
    // 3 entries, 3 exits, 128 program blocks, 8 EEPROM blocks, user IDs, device ID, config.
    EXPECT_EQ(fake.exchanges(), 6u + 128u + 8u + 3u);
    EXPECT_EQ(p.programWords[0], 0);
    EXPECT_EQ(p.programWords[2047], 2047 * 7 & 0x3FFF);
    EXPECT_EQ(p.eepromBytes[0], (2048 * 7) & 0xFF);
    EXPECT_EQ(p.transferFailed.load(), 0);
}

TEST_F(ProgrammerTest, ReadAllOfA40WordDeviceReadsTwoBlocksAndKeepsTheRest)
{
    p.setGeometry(40, 0x3FFF, 0);
    for (uint32_t i = 0; i < 40; ++i)
        p.programWords[i] = 0x1111;
    fake.answer = framesOf([](int) { return uint16_t{0x0ABC}; });
    ASSERT_TRUE(p.readAll());
    const auto scripts = hexScripts(fake);
    ASSERT_EQ(scripts.size(), 2u + 2u + 2u + 2u + 1u);   // no EEPROM phase
    EXPECT_EQ(scripts[1].substr(0, 11), "84 04 82 06");
    EXPECT_EQ(scripts[2], scripts[1]);
    EXPECT_EQ(p.programWords[31], 0x0ABC);
    EXPECT_EQ(p.programWords[32], 0x1111);
    EXPECT_EQ(p.programWords[39], 0x1111);
    EXPECT_EQ(p.progressPosition.load(), 32u + 8u);
}

TEST_F(ProgrammerTest, ReadAllDecodesIdsAndConfiguration)
{
    p.setGeometry(16, 0x3FFF, 16);
    p.family = 2;
    p.calibrationAddress = 3;
    // 16 program words, 16 EEPROM bytes, 4 user ID locations, device ID, config 1 and 2.
    const std::vector<uint16_t> answers = [] {
        std::vector<uint16_t> v;
        for (int i = 0; i < 16; ++i)
            v.push_back(static_cast<uint16_t>(0x100 + i));
        for (int i = 0; i < 16; ++i)
            v.push_back(static_cast<uint16_t>(0xA0 + i));
        v.insert(v.end(), {0x1204, 0x0103, 0x0002, 0x0001, 0x0E21, 0x3F1A, 0x0003});
        return v;
    }();
    fake.answer = framesOf([&](int n) { return answers.at(static_cast<std::size_t>(n)); });
    ASSERT_TRUE(p.readAll());
    EXPECT_EQ(p.programWords[15], 0x10F);
    EXPECT_EQ(p.calibrationValue, 0x103);
    EXPECT_EQ(p.eepromBytes[1], 0xA1);
    EXPECT_EQ(p.userId, 0x1234);
    EXPECT_EQ(p.deviceId, 0x0E21);
    EXPECT_EQ(p.configWord, 0x3F1A);
    EXPECT_EQ(p.configWord2, 0x0003);
}

TEST_F(ProgrammerTest, AnAbsentDeviceIdIsFFFFAfterReadAllBut3FFFFromTheProbe)
{
    p.setGeometry(0, 0x3FFF, 0);
    fake.answer = framesOf([](int) { return uint16_t{0x3FFF}; });
    ASSERT_TRUE(p.readAll());
    EXPECT_EQ(p.deviceId, 0xFFFF);
    EXPECT_EQ(p.readDeviceId(), 0x3FFF);
}

TEST_F(ProgrammerTest, EraseMethodsSendTheirSequences)
{
    const std::string M = "81 00 7F C1";
    const std::string L = "81 00 BF 63";
    struct {
        int32_t method;
        uint32_t eeprom;
        std::vector<std::string> scripts;
    } const cases[] = {
        {0, 128, {}},
        // From configuration space, so that the configuration word and protection go too.
        {1, 128, {kEntry1, "83 00 00 00", "82 09 " + M, "82 0B " + M, kExit}},
        {1, 0, {kEntry1, "83 00 00 00", "82 09 " + M, kExit}},
        {2, 128, {kEntry1, "83 02 FE 7F 82 09 82 08 " + L, "83 03 FE 7F 82 0B 82 08 " + L, kConfigPosition,
                  kProtectClear, kExit}},
        {2, 0, {kEntry1, "83 02 FE 7F 82 09 82 08 " + L, kConfigPosition, kProtectClear, kExit}},
        // Method 3 clears data memory whether or not the device has any.
        {3, 0, {kEntry1, "83 02 FE 7F", kProtectClear, "83 03 FE 7F", kProtectClear, kConfigPosition,
                kProtectClear, kExit}},
        {4, 128, {kEntry1, "82 1F " + M, kExit}},
        {5, 128, {kEntry1, kExit}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "method " << c.method << " eeprom " << c.eeprom);
        fake.clearRecords();
        p.setGeometry(64, 0x3FFF, c.eeprom);
        p.eraseMethod = c.method;
        p.cancelRequested = 1;   // not looked at by an erase
        p.progressPosition = 5;  // nor touched
        EXPECT_TRUE(p.eraseChip());
        EXPECT_EQ(hexScripts(fake), c.scripts);
        EXPECT_EQ(p.progressPosition.load(), 5u);
    }
}

TEST_F(ProgrammerTest, ProgramMethod1ErasesFromConfigurationSpaceThenStartsAtWordZero)
{
    p.setGeometry(16, 0x3FFF, 16);
    p.setMethods(1, 1, 0, 0, 0, 1, 1);
    ASSERT_TRUE(p.programAll());
    const auto scripts = hexScripts(fake);
    ASSERT_GE(scripts.size(), 7u);
    // The erase leaves the address in configuration space: a fresh entry puts it back at 0
    // before the first word goes out.
    const std::vector<std::string> head(scripts.begin(), scripts.begin() + 7);
    EXPECT_EQ(head, (std::vector<std::string>{kEntry1, "83 00 00 00", "82 09 81 00 7F C1", "82 0B 81 00 7F C1",
                                              kExit, kEntry1, "83 02 FE 7F 82 08 81 00 BF E0 84 04"}));
}

TEST_F(ProgrammerTest, ProgramMethod2WritesBlocksOfBlockWords)
{
    p.setGeometry(2048, 0x3FFF, 0);
    p.setMethods(1, 2, 0, 1, 0, 8, 4);
    std::vector<uint32_t> progressAtLoad;
    fake.answer = [&](const Bytes& script, std::size_t n) {
        if (script.size() == 46)
            progressAtLoad.push_back(p.progressPosition.load());
        return Bytes(n, 0);
    };
    ASSERT_TRUE(p.programAll());
    ASSERT_EQ(progressAtLoad.size(), 256u);
    for (std::size_t i = 0; i < progressAtLoad.size(); ++i)
        ASSERT_EQ(progressAtLoad[i], 8 * i);
    const auto scripts = hexScripts(fake);
    EXPECT_EQ(scripts[1], "82 1F 81 00 7F C1");
    EXPECT_EQ(scripts[3], "82 18 81 00 BF E0 82 17 82 06");
    EXPECT_EQ(p.progressPosition.load(), 2048u + 8u);
}

TEST_F(ProgrammerTest, ProgramMethod2ClampsItsLastBlock)
{
    p.setGeometry(20, 0x3FFF, 0);
    p.setMethods(1, 2, 0, 3, 0, 8, 4);
    for (uint32_t i = 0; i <= 20; ++i)
        p.programWords[i] = static_cast<uint16_t>(i);
    ASSERT_TRUE(p.programAll());
    std::vector<std::size_t> loads;
    for (const Bytes& s : fake.scripts())
        if (!s.empty() && s[0] == 0x83 && s[1] == 0x02)
            loads.push_back(s.size());
    EXPECT_EQ(loads, (std::vector<std::size_t>{46, 46, 22}));
    // The spare cell beyond the last word never goes out: the last frame is word 19's.
    const Bytes last = fake.scripts()[6];
    ASSERT_EQ(last.size(), 22u);
    EXPECT_EQ(last[20], encodeFrame(19).low);
    EXPECT_EQ(p.progressPosition.load(), 20u + 8u);
}

TEST_F(ProgrammerTest, ABlockSizeThatCannotBeWrittenIsRefusedBeforeAnythingIsSent)
{
    for (const int32_t block : {0, -1, 12, 64}) {
        SCOPED_TRACE(block);
        fake.clearRecords();
        p.setMethods(1, 2, 0, 1, 0, block, 4);
        EXPECT_FALSE(p.programAll());
        EXPECT_EQ(fake.exchanges(), 0u);
        EXPECT_EQ(p.transferFailed.load(), 1);
        EXPECT_EQ(p.blockSizeRefused.load(), 1);
    }
    // Other methods never use blockWords.
    fake.clearRecords();
    p.setGeometry(2, 0x3FFF, 0);
    p.setMethods(1, 0, 0, 0, 0, 0, 1);
    EXPECT_TRUE(p.programAll());
    EXPECT_EQ(p.blockSizeRefused.load(), 0);
}

TEST_F(ProgrammerTest, UserIdWordsByFamily)
{
    p.setGeometry(0, 0x3FFF, 0);
    p.userId = 0x1234;
    struct {
        int32_t family;
        int32_t writeUserId;
        std::vector<std::string> afterEntry;   // the configuration phase up to the device ID step
    } const cases[] = {
        {0, 1, {"83 00 00 00", "83 02 08 24 82 08 81 00 BF E0 84 04", "82 06", "83 02 06 02 82 08 81 00 BF E0 84 04",
                "82 06", "83 02 04 00 82 08 81 00 BF E0 84 04", "82 06", "83 02 02 00 82 08 81 00 BF E0 84 04",
                "82 06"}},
        {0, 0, {"83 00 00 00", "82 06 82 06 82 06 82 06"}},
        {1, 1, {"83 00 00 00 82 08 81 00 00 00 82 17", "83 02 08 24 82 06 83 02 06 02 82 06 83 02 04 00 82 06 83 02 02 00",
                "82 18 81 00 BF E0 82 17 82 06"}},
        {2, 0, {"83 00 00 00 82 08 81 00 00 00 82 17", "82 06 82 06 82 06 82 06"}},
        {7, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "family " << c.family << " writeUserId " << c.writeUserId);
        fake.clearRecords();
        p.family = c.family;
        p.writeUserId = c.writeUserId;
        ASSERT_TRUE(p.programAll());
        const auto scripts = hexScripts(fake);
        // entry, exit of the program phase, entry of the configuration phase, then the case.
        ASSERT_GE(scripts.size(), 3u + c.afterEntry.size() + 2u);
        EXPECT_EQ(std::vector<std::string>(scripts.begin() + 3, scripts.begin() + 3 + static_cast<long>(c.afterEntry.size())),
                  c.afterEntry);
        EXPECT_EQ(scripts[3 + c.afterEntry.size()], "82 06 82 06 84 04 82 06");
    }
}

TEST_F(ProgrammerTest, CancelInTheProgramPhaseStillFramesEveryPhase)
{
    p.setGeometry(64, 0x3FFF, 16);
    p.configWord = 0x3F1A;
    fake.answer = [&](const Bytes& script, std::size_t n) {
        if (script.size() == 12 && script[0] == 0x83 && fake.exchanges() >= 6)
            p.requestCancel();
        return Bytes(n, 0);
    };
    ASSERT_TRUE(p.programAll());
    const auto scripts = hexScripts(fake);
    // Three words written (first and second script each) before the cancel was seen.
    const std::vector<std::string> tail(scripts.end() - 5, scripts.end());
    EXPECT_EQ(tail, (std::vector<std::string>{kExit, kEntry1, kExit, kEntry1, kExit}));
    for (const auto& s : scripts)
        EXPECT_EQ(s.find("34 7E"), std::string::npos) << "the configuration word was written";
    EXPECT_EQ(p.progressPosition.load(), 3u + 8u);
}

TEST_F(ProgrammerTest, ACancelMadeBeforeTheWorkerRunsIsKept)
{
    p.setGeometry(64, 0x3FFF, 16);
    p.configWord = 0x3F1A;
    p.requestCancel();
    ASSERT_TRUE(p.programAll());
    // Each phase only entered and left: no word, byte or configuration went out.
    EXPECT_EQ(hexScripts(fake), (std::vector<std::string>{kEntry1, kExit, kEntry1, kExit, kEntry1, kExit}));
    fake.clearRecords();
    ASSERT_TRUE(p.readAll());
    EXPECT_EQ(hexScripts(fake), (std::vector<std::string>{kEntry1, kExit, kEntry1, kExit, kEntry1, kExit}));
}

TEST_F(ProgrammerTest, CancelDuringReadAllKeepsWhatWasRead)
{
    p.setGeometry(64, 0x3FFF, 0);
    fake.answer = [&](const Bytes& script, std::size_t n) {
        if (script.size() == 64)
            p.requestCancel();
        Bytes reply(n, 0);
        return reply;
    };
    ASSERT_TRUE(p.readAll());
    EXPECT_EQ(p.programWords[0], 0);
    EXPECT_EQ(p.programWords[16], 0x3FFF);
    EXPECT_EQ(fake.exchanges(), 1u + 1u + 1u + 2u);   // one block, then the empty config phase
    EXPECT_EQ(p.progressPosition.load(), 16u + 8u);
}

TEST_F(ProgrammerTest, CalibrationOperations)
{
    p.setGeometry(1024, 0x3FFF, 128);
    p.calibrationAddress = 0x3FF;
    p.calibrationBitsMask = 0x3000;
    fake.answer = framesOf([](int) { return uint16_t{0x3480}; });
    ASSERT_TRUE(p.readCalibration());
    EXPECT_EQ(p.calibrationValue, 0x3480);
    EXPECT_EQ(fake.exchanges(), 1u + 0x3FFu + 1u + 1u);
    EXPECT_EQ(p.progressPosition.load(), 0x3FFu);

    fake.clearRecords();
    ASSERT_TRUE(p.readCalibrationBits());
    EXPECT_EQ(hexScripts(fake), (std::vector<std::string>{kEntry1, kConfigPosition, "84 04 82 06", kExit}));
    EXPECT_EQ(p.savedCalibrationBits, 0x3480 & 0x3000);

    fake.clearRecords();
    p.calibrationValue = 0x3455;
    ASSERT_TRUE(p.writeCalibration());
    const auto scripts = hexScripts(fake);
    ASSERT_EQ(scripts.size(), 1u + 0x3FFu + 2u + 1u);
    EXPECT_EQ(scripts[0x400], "83 02 AA 68 82 08 81 00 BF E0 84 04");
}

TEST_F(ProgrammerTest, RestoreCalibrationBitsKeepsTheChipsOtherBits)
{
    p.calibrationBitsMask = 0x3000;
    p.savedCalibrationBits = 0x2000;
    fake.answer = framesOf([](int) { return uint16_t{0x3FFF}; });
    ASSERT_TRUE(p.restoreCalibrationBits());
    EXPECT_EQ(hexScripts(fake), (std::vector<std::string>{kEntry1, kConfigPosition, "84 04 82 06", kConfigPosition,
                                                          "83 02 FE 5F 82 08 81 00 BF 63", kExit}));
    EXPECT_EQ(p.configWord, 0x2FFF);
}

TEST(ProgrammerWindowOps, NothingIsSentWhileNoProgrammerIsOpen)
{
    FakeDriver fake;
    Programmer p(&fake);
    p.writePipe = fake.openPipe(7, 0, 1);   // pipes without a handle must not be used either
    p.readPipe = fake.openPipe(7, 0, 0);
    EXPECT_TRUE(p.sendControl(0x00));
    EXPECT_TRUE(p.resetOutputs());
    EXPECT_TRUE(p.selectSocket(18));
    EXPECT_EQ(p.queryIdentity(), -1);
    p.programmerClock = 8;
    EXPECT_EQ(p.queryClock(), -1);
    EXPECT_EQ(p.programmerClock, 8);
    EXPECT_EQ(fake.exchanges(), 0u);
}

TEST_F(ProgrammerTest, ControlOperationsAndQueries)
{
    fake.answer = [](const Bytes& script, std::size_t n) {
        Bytes reply(n, 0);
        if (script == Bytes{0x80, 0x80})
            reply = {0x4B, 0x56, 0x4E, 0x01, 0, 0, 0, 0};
        if (script == Bytes{0x80, 0x81})
            reply[0] = 20;
        return reply;
    };
    EXPECT_EQ(p.queryIdentity(), 0x4B564E01);
    EXPECT_EQ(p.queryClock(), 20);
    EXPECT_EQ(p.programmerClock, 20);
    for (const int pins : {18, 40, 20, 0})
        EXPECT_TRUE(p.selectSocket(pins));
    EXPECT_TRUE(p.resetOutputs());
    EXPECT_FALSE(p.sendControl(0x100));
    EXPECT_EQ(hexScripts(fake), (std::vector<std::string>{"80 80", "80 81", "80 07", "80 08", "80 09", "80 09",
                                                          "80 00 80 03 80 06 80 09 80 0B"}));
    const auto records = fake.records();
    EXPECT_EQ(records[0].requested, 8u);
    EXPECT_EQ(records.back().requested, 10u);
}

// Each worker operation against a link that fails at exchange k: false, transferFailed, no
// exchange after the failing one, and the words and buffers it was filling left alone.
TEST_F(ProgrammerTest, ATransferFaultEndsTheOperationAndChangesNothing)
{
    enum Fault { WriteFails, ReadFails, ShortAnswer };
    struct Op {
        const char* name;
        std::function<bool(Programmer&)> run;
    };
    const Op ops[] = {
        {"readAll", [](Programmer& q) { return q.readAll(); }},
        {"programAll", [](Programmer& q) { return q.programAll(); }},
        {"eraseChip", [](Programmer& q) { return q.eraseChip(); }},
        {"readCalibration", [](Programmer& q) { return q.readCalibration(); }},
        {"readCalibrationBits", [](Programmer& q) { return q.readCalibrationBits(); }},
        {"writeCalibration", [](Programmer& q) { return q.writeCalibration(); }},
        {"restoreCalibrationBits", [](Programmer& q) { return q.restoreCalibrationBits(); }},
    };
    for (const Op& op : ops) {
        for (const Fault fault : {WriteFails, ReadFails, ShortAnswer}) {
            // Count the exchanges of a clean run first, then fail each one of them in turn.
            FakeDriver clean;
            Programmer q;
            attach(q, clean);
            q.setGeometry(48, 0x3FFF, 32);
            q.setMethods(1, 0, 0, 2, 0, 4, 2);
            q.calibrationAddress = 5;
            q.calibrationBitsMask = 0x3000;
            clean.answer = chipLike();
            ASSERT_TRUE(op.run(q)) << op.name;
            const int64_t total = static_cast<int64_t>(clean.exchanges());

            for (int64_t k = 0; k < total; ++k) {
                SCOPED_TRACE(testing::Message() << op.name << " fault " << fault << " at " << k);
                FakeDriver bad;
                Programmer r;
                attach(r, bad);
                r.setGeometry(48, 0x3FFF, 32);
                r.setMethods(1, 0, 0, 2, 0, 4, 2);
                r.calibrationAddress = 5;
                r.calibrationBitsMask = 0x3000;
                r.userId = 0x4321;
                r.configWord = 0x1111;
                r.configWord2 = 0x2222;
                r.calibrationValue = 0x3333;
                r.savedCalibrationBits = 0x1000;
                r.deviceId = 0x0444;
                bad.answer = clean.answer;
                // A short answer fails only where the script reads a frame.
                const bool shortMatters = readsFrames(clean.scripts()[static_cast<std::size_t>(k)]);
                if (fault == WriteFails)
                    bad.failWriteAt = k;
                if (fault == ReadFails)
                    bad.failReadAt = k;
                if (fault == ShortAnswer) {
                    if (!shortMatters)
                        continue;
                    bad.shortReadAt = k;
                    bad.shortLength = 1;
                }
                const std::vector<uint16_t> words = r.programWords;
                const std::vector<uint16_t> eeprom = r.eepromBytes;
                EXPECT_FALSE(op.run(r));
                EXPECT_EQ(r.transferFailed.load(), 1);
                EXPECT_EQ(static_cast<int64_t>(bad.exchanges()), k + 1);
                EXPECT_EQ(r.programWords, words);
                EXPECT_EQ(r.eepromBytes, eeprom);
                EXPECT_EQ(r.userId, 0x4321);
                EXPECT_EQ(r.configWord, 0x1111);
                EXPECT_EQ(r.configWord2, 0x2222);
                EXPECT_EQ(r.calibrationValue, 0x3333);
                EXPECT_EQ(r.savedCalibrationBits, 0x1000);
                EXPECT_EQ(r.deviceId, 0x0444);
            }
        }
    }
}

TEST_F(ProgrammerTest, AShortAnswerStillCarryingItsDataIsAccepted)
{
    // Only the decoded bytes must arrive; the rest of the requested length is the firmware's.
    fake.answer = [](const Bytes& script, std::size_t) {
        return script == Bytes{0x80, 0x80} ? Bytes{0, 0, 0, 9} : Bytes{};
    };
    EXPECT_EQ(p.queryIdentity(), 9);
    EXPECT_TRUE(p.sendControl(0x01));
    fake.answer = [](const Bytes&, std::size_t) { return Bytes{0, 0, 0}; };
    EXPECT_EQ(p.queryIdentity(), -1);
}

TEST_F(ProgrammerTest, WindowOperationsReportFailedTransfers)
{
    fake.failReadAt = 1;   // the device ID probe
    EXPECT_EQ(p.readDeviceId(), -1);
    EXPECT_EQ(fake.exchanges(), 2u);
    fake.failReadAt = 2;
    EXPECT_EQ(p.queryClock(), -1);
    EXPECT_EQ(p.programmerClock, 16);
    fake.failWriteAt = 3;
    EXPECT_FALSE(p.sendControl(0x00));
    EXPECT_EQ(p.queryIdentity(), 0);   // the link works again
}

TEST_F(ProgrammerTest, NullPipesFailAtOnce)
{
    p.writePipe = nullptr;
    EXPECT_FALSE(p.readAll());
    EXPECT_EQ(p.readDeviceId(), -1);
    EXPECT_EQ(fake.exchanges(), 0u);
}

TEST_F(ProgrammerTest, AStalledAnswerEndsByItsTimeOut)
{
    p.transferTimeoutMs = 50;
    fake.stallAt = 2;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(p.readAll());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(1));
    EXPECT_EQ(fake.exchanges(), 3u);
    // Every transfer was bounded by the time-out plus the waits of its own script.
    for (const auto& r : fake.records()) {
        EXPECT_GE(r.writeTimeoutMs, 50);
        EXPECT_LT(r.writeTimeoutMs, 50 + 300);
    }
}

} // namespace
