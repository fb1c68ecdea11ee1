// SPDX-License-Identifier: MIT
#include "programmer/Programmer.h"
#include "programmer/TraceDriver.h"

#include "FakeDriver.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include <unistd.h>

namespace {

using Bytes = FakeDriver::Bytes;

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs steps against a Programmer on a traced fake and returns the trace.
std::string traceOf(const std::function<void(Programmer&, FakeDriver&)>& steps, FakeDriver::AnswerFn answer = {})
{
    // ctest runs the tests of this file in parallel processes: the name must be the process's own.
    static int serial = 0;
    const auto path = std::filesystem::temp_directory_path() /
                      ("korvalin-trace-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".txt");
    {
        auto inner = std::make_unique<FakeDriver>();
        FakeDriver& fake = *inner;
        fake.answer = std::move(answer);
        TraceDriver trace(std::move(inner), path.string());
        EXPECT_TRUE(trace.isOpen());
        Programmer p(&trace);
        attach(p, trace);
        steps(p, fake);
        trace.closeProgrammer(p.deviceHandle);
    }
    std::string text = readFile(path);
    std::filesystem::remove(path);
    return text;
}

TEST(TraceDriver, RecordsFailuresAndPassesEverythingThrough)
{
    const std::string text = traceOf([](Programmer& p, FakeDriver& fake) {
        fake.failWriteAt = 0;
        fake.failReadAt = 1;
        fake.shortReadAt = 2;
        fake.shortLength = 3;
        EXPECT_FALSE(p.sendControl(0x00));
        EXPECT_FALSE(p.sendControl(0x01));
        EXPECT_TRUE(p.sendControl(0x02));
        fake.answer = [](const Bytes&, std::size_t) { return Bytes{}; };
        EXPECT_TRUE(p.sendControl(0x03));
    });
    EXPECT_EQ(text, "W FAIL 80 00\n"   // no read is made after a failed write
                    "W 80 01\nR 08 FAIL\n"
                    "W 80 02\nR 08 00 00 00\n"
                    "W 80 03\nR 08\n");   // an empty answer is not a failed read
}

// The golden traces, hand-written from the protocol's tables, compared byte for byte. The
// bytes each read received are the input: they are given back in order.
void expectGolden(const char* file, const std::function<void(Programmer&)>& steps)
{
    SCOPED_TRACE(file);
    const std::string golden = readFile(std::filesystem::path(KORVALIN_TEST_DATA_DIR) / file);
    std::vector<Bytes> answers;
    std::istringstream lines(golden);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("R ", 0) == 0) {
            answers.emplace_back();
            for (std::size_t i = 5; i + 1 < line.size(); i += 3)
                answers.back().push_back(uint8_t(std::stoi(line.substr(i, 2), nullptr, 16)));
        }
    auto next = std::make_shared<std::size_t>(0);
    const auto replay = [answers, next](const Bytes&, std::size_t) {
        return *next < answers.size() ? answers[(*next)++] : Bytes{};
    };
    EXPECT_EQ(traceOf([&](Programmer& p, FakeDriver&) { steps(p); }, replay), golden);
}

// A device of these sizes and methods (entry, program, EEPROM, family, reserved, block size,
// erase) whose user ID is left alone.
void withoutUserId(Programmer& p, uint32_t words, uint32_t eepromBytes, const std::array<int32_t, 7>& m)
{
    p.setGeometry(words, 0x3FFF, eepromBytes);
    p.setMethods(m[0], m[1], m[2], m[3], m[4], m[5], m[6]);
    p.writeUserId = 0;
}

TEST(GoldenTrace, EveryTraceMatchesItsFile)
{
    expectGolden("trace-programall.txt", [](Programmer& p) {
        withoutUserId(p, 2, 0, {1, 0, 0, 0, 0, 1, 1});
        p.programWords[0] = 0x0123;
        p.programWords[1] = 0x3FFF;
        p.configWord = 0x3F1A;
        p.programmerClock = 16;
        EXPECT_TRUE(p.programAll());
    });
    // 15 words in blocks of 11: a full block, one clamped to 4, then the 4 user ID words.
    expectGolden("trace-blocks.txt", [](Programmer& p) {
        p.setGeometry(15, 0x3FFF, 0);
        p.setMethods(0, 2, 1, 1, 0, 11, 4);
        for (uint16_t i = 0; i < 15; ++i)
            p.programWords[i] = uint16_t(0x2800 + i);
        p.programWords[15] = 0x1234;   // the spare cell must never go out
        p.userId = 0x1234;
        p.configWord = 0x3F72;
        EXPECT_TRUE(p.programAll());
        EXPECT_EQ(p.progressPosition.load(), 15u + 8u);
    });
    expectGolden("trace-socket.txt", [](Programmer& p) {
        for (const int pins : {8, 18, 28, 40, 20, 14, 0})
            EXPECT_TRUE(p.selectSocket(pins));
    });
    expectGolden("trace-safe-outputs.txt", [](Programmer& p) { EXPECT_TRUE(p.resetOutputs()); });
    // readDeviceId framed by each entry sequence; 3 has no entry script at all.
    expectGolden("trace-entry.txt", [](Programmer& p) {
        for (const int32_t entry : {0, 1, 2, 3}) {
            p.entrySequence = entry;
            EXPECT_EQ(p.readDeviceId(), 0x0E21);
        }
    });
    expectGolden("trace-eeprom-a5.txt", [](Programmer& p) {
        p.setGeometry(0, 0x3FFF, 1);
        p.family = 9;   // no configuration write: the trace stays about the EEPROM
        p.eepromBytes[0] = 0xA5;
        for (const int32_t method : {0, 1}) {
            p.eepromMethod = method;
            EXPECT_TRUE(p.programAll());
        }
    });
    // Start and stop bits set, and the bit above the frame, are dropped by the decoding.
    expectGolden("trace-decode.txt", [](Programmer& p) {
        p.setGeometry(16, 0x3FFF, 16);
        EXPECT_TRUE(p.readAll());
        EXPECT_EQ(std::vector<uint16_t>(p.programWords.begin(), p.programWords.begin() + 3),
                  (std::vector<uint16_t>{0x1234, 0x3FFF, 0x3FFF}));
        EXPECT_EQ(p.eepromBytes[0], 0xA5);
        EXPECT_EQ(p.eepromBytes[15], 0xFF);
        EXPECT_EQ(p.userId, 0x1234);
        EXPECT_EQ(p.deviceId, 0x0560);
        EXPECT_EQ(p.configWord, 0x3F1A);
    });
    // Every erase method, with and without data memory where that changes the sequence. Method 1
    // works from configuration space, so that the configuration word and protection go too;
    // method 3 clears data memory whether or not the device has any. An erase neither looks at
    // a cancel nor moves the progress.
    expectGolden("trace-erase.txt", [](Programmer& p) {
        const std::pair<int32_t, uint32_t> methods[] = {{0, 128}, {1, 128}, {1, 0}, {2, 128},
                                                        {2, 0},   {3, 0},   {4, 128}, {5, 128}};
        for (const auto& [method, eeprom] : methods) {
            p.setGeometry(64, 0x3FFF, eeprom);
            p.eraseMethod = method;
            p.cancelRequested = 1;
            p.progressPosition = 5;
            EXPECT_TRUE(p.eraseChip());
            EXPECT_EQ(p.progressPosition.load(), 5u);
        }
    });
    // The calibration word at 3 (the chip answers 0x3480), its bits saved, the word written as
    // 0x3455, then the bits 0x2000 put back over a chip whose configuration reads 0x1ABC.
    expectGolden("trace-calibration.txt", [](Programmer& p) {
        p.setGeometry(16, 0x3FFF, 0);
        p.calibrationAddress = 3;
        p.calibrationBitsMask = 0x3000;
        EXPECT_TRUE(p.readCalibration());
        EXPECT_EQ(p.calibrationValue, 0x3480);
        EXPECT_EQ(p.progressPosition.load(), 3u);
        EXPECT_TRUE(p.readCalibrationBits());
        EXPECT_EQ(p.savedCalibrationBits, 0x3000);
        p.calibrationValue = 0x3455;
        EXPECT_TRUE(p.writeCalibration());
        p.savedCalibrationBits = 0x2000;
        EXPECT_TRUE(p.restoreCalibrationBits());
        // Only the calibration bits come from what was saved; the chip's other bits stay.
        EXPECT_EQ(p.configWord, 0x2ABC);
    });
    // Program method 1 with the user ID left alone: the chip's IDs (answered 1, 2, 3, 4) are read
    // before the bulk erase wipes them and written back with the configuration. The erase runs
    // from configuration space; a fresh entry puts the address back at word 0.
    expectGolden("trace-program-bulk.txt", [](Programmer& p) {
        withoutUserId(p, 2, 16, {1, 1, 0, 0, 0, 1, 1});
        p.programWords[0] = 0x2805;
        p.configWord = 0x3F50;
        EXPECT_TRUE(p.programAll());
    });
    // Configuration words 1 and 2 at clock 4 with the user ID skipped; then a family and an
    // EEPROM method the device does not have: nothing is sent for either.
    expectGolden("trace-family2.txt", [](Programmer& p) {
        withoutUserId(p, 0, 1, {1, 0, 2, 2, 0, 1, 1});
        p.programmerClock = 4;
        p.configWord = 0x3F1A;
        p.configWord2 = 0x0003;
        EXPECT_TRUE(p.programAll());
        p.family = 3;
        EXPECT_TRUE(p.programAll());
    });
    // The clock answers 16, 4, 8, 20 and 12, each followed by an erase with its waits.
    expectGolden("trace-clock.txt", [](Programmer& p) {
        p.setGeometry(0, 0x3FFF, 0);
        p.eraseMethod = 1;
        for (const int32_t clock : {16, 4, 8, 20, 4}) {
            EXPECT_EQ(p.queryClock(), clock);
            EXPECT_TRUE(p.eraseChip());
        }
    });
}

} // namespace
