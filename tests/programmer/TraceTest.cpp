#include "programmer/Programmer.h"
#include "programmer/TraceDriver.h"

#include "FakeDriver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace {

using Bytes = FakeDriver::Bytes;

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::filesystem::path tempPath(const std::string& name)
{
    return std::filesystem::temp_directory_path() /
           ("korvalin-" + name + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".txt");
}

// Runs steps against a Programmer on a traced fake and returns the trace.
std::string traceOf(const std::string& name, const std::function<void(Programmer&, FakeDriver&)>& steps,
                    FakeDriver::AnswerFn answer = {})
{
    const auto path = tempPath(name);
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

std::string golden(const std::string& name)
{
    return readFile(std::filesystem::path(KORVALIN_TEST_DATA_DIR) / name);
}

TEST(TraceLines, Format)
{
    const uint8_t bytes[] = {0x80, 0x81, 0x0A};
    EXPECT_EQ(traceWriteLine(bytes, 2, false), "W 80 81");
    EXPECT_EQ(traceWriteLine(bytes, 2, true), "W FAIL 80 81");
    EXPECT_EQ(traceReadLine(8, bytes, 3), "R 08 80 81 0A");
    EXPECT_EQ(traceReadLine(65, bytes, 0), "R 41");
    EXPECT_EQ(traceReadLine(10, bytes, -1), "R 0A FAIL");
}

TEST(TraceDriver, RecordsFailuresAndPassesEverythingThrough)
{
    const std::string text = traceOf("failures", [](Programmer& p, FakeDriver& fake) {
        fake.failWriteAt = 0;
        fake.failReadAt = 1;
        fake.shortReadAt = 2;
        fake.shortLength = 3;
        EXPECT_FALSE(p.sendControl(0x00));
        EXPECT_FALSE(p.sendControl(0x01));
        EXPECT_TRUE(p.sendControl(0x02));
        EXPECT_EQ(fake.exchanges(), 3u);
    });
    EXPECT_EQ(text, "W FAIL 80 00\n"   // the read is never made after a failed write
                    "W 80 01\nR 08 FAIL\n"
                    "W 80 02\nR 08 00 00 00\n");
}

TEST(TraceDriver, AFileThatCannotBeMadeIsReported)
{
    TraceDriver trace(std::make_unique<FakeDriver>(), "/nonexistent-dir/trace.txt");
    EXPECT_FALSE(trace.isOpen());
    EXPECT_EQ(trace.openProgrammer(), 7);   // the programmer still works untraced
    ASSERT_NE(trace.inner(), nullptr);
}

// The golden traces: hand-written from the protocol's tables, compared byte for byte.

TEST(GoldenTrace, ProgramAllOfTwoWords)
{
    const std::string text = traceOf("programall", [](Programmer& p, FakeDriver&) {
        p.setGeometry(2, 0x3FFF, 0);
        p.setMethods(1, 0, 0, 0, 0, 1, 1);
        p.programWords[0] = 0x0123;
        p.programWords[1] = 0x3FFF;
        p.writeUserId = 0;
        p.configWord = 0x3F1A;
        p.programmerClock = 16;
        EXPECT_TRUE(p.programAll());
    });
    EXPECT_EQ(text, golden("trace-programall.txt"));
}

TEST(GoldenTrace, BlockLoadsOf11And4Words)
{
    // 15 words in blocks of 11: one full block and a last one clamped to 4 words; then the
    // four user ID words as one more block of 4.
    const std::string text = traceOf("blocks", [](Programmer& p, FakeDriver&) {
        p.setGeometry(15, 0x3FFF, 0);
        p.setMethods(0, 2, 1, 1, 0, 11, 4);
        for (uint32_t i = 0; i < 15; ++i)
            p.programWords[i] = static_cast<uint16_t>(0x2800 + i);
        p.programWords[15] = 0x1234;   // the spare cell must never go out
        p.userId = 0x1234;
        p.configWord = 0x3F72;
        EXPECT_TRUE(p.programAll());
        EXPECT_EQ(p.progressPosition.load(), 15u + 8u);
    });
    EXPECT_EQ(text, golden("trace-blocks.txt"));
}

TEST(GoldenTrace, SocketSelectionAndSafeOutputs)
{
    const std::string text = traceOf("socket", [](Programmer& p, FakeDriver&) {
        for (const int pins : {8, 18, 28, 40, 20, 14, 0})
            EXPECT_TRUE(p.selectSocket(pins));
    });
    EXPECT_EQ(text, golden("trace-socket.txt"));
    EXPECT_EQ(traceOf("safe", [](Programmer& p, FakeDriver&) { EXPECT_TRUE(p.resetOutputs()); }),
              golden("trace-safe-outputs.txt"));
}

TEST(GoldenTrace, EveryEntryScript)
{
    // readDeviceId framed by each entry sequence; 3 has no entry script at all.
    const std::string text = traceOf(
        "entry",
        [](Programmer& p, FakeDriver&) {
            for (const int32_t entry : {0, 1, 2, 3}) {
                p.entrySequence = entry;
                EXPECT_EQ(p.readDeviceId(), 0x0E21);
            }
        },
        [](const Bytes& script, std::size_t n) {
            Bytes reply(n, 0);
            if (script.size() == 20 && script[0] == 0x82) {
                reply[0] = 0x42;   // 0x0E21
                reply[1] = 0x1C;
            }
            return reply;
        });
    EXPECT_EQ(text, golden("trace-entry.txt"));
}

TEST(GoldenTrace, EepromByteA5ByBothMethods)
{
    const std::string text = traceOf("eeprom", [](Programmer& p, FakeDriver&) {
        p.setGeometry(0, 0x3FFF, 1);
        p.family = 9;   // no configuration write: the trace stays about the EEPROM
        p.eepromBytes[0] = 0xA5;
        for (const int32_t method : {0, 1}) {
            p.eepromMethod = method;
            EXPECT_TRUE(p.programAll());
        }
    });
    EXPECT_EQ(text, golden("trace-eeprom-a5.txt"));
}

TEST(GoldenTrace, DecodeTable)
{
    // A 16-word, 16-byte chip read whole; the answers in the golden file are its input.
    Programmer* seen = nullptr;
    uint16_t words[3] = {}, bytes[2] = {}, ids = 0, id = 0, config = 0;
    const std::string text = traceOf(
        "decode",
        [&](Programmer& p, FakeDriver&) {
            p.setGeometry(16, 0x3FFF, 16);
            EXPECT_TRUE(p.readAll());
            seen = &p;
            words[0] = p.programWords[0];
            words[1] = p.programWords[1];
            words[2] = p.programWords[15];
            bytes[0] = p.eepromBytes[0];
            bytes[1] = p.eepromBytes[15];
            ids = p.userId;
            id = p.deviceId;
            config = p.configWord;
        },
        [](const Bytes& script, std::size_t n) {
            Bytes reply(n, 0);
            if (script.size() == 64 && script[1] == 0x04) {
                for (int k = 0; k < 16; ++k) {
                    reply[2 * k] = 0xFE;
                    reply[2 * k + 1] = 0x7F;
                }
                reply[0] = 0x68;   // 0x1234
                reply[1] = 0x24;
                reply[2] = 0xFF;   // 0x3FFF with the start and stop bits high
                reply[3] = 0xFF;
            } else if (script.size() == 64 && script[1] == 0x05) {
                reply[0] = 0x4A;   // 0xA5
                reply[1] = 0x01;
                reply[30] = 0xFE;  // 0xFF
                reply[31] = 0x7F;
            } else if (script.size() == 20 && script[0] == 0x83) {
                const Bytes locations = {0x08, 0x24, 0x06, 0x02, 0x04, 0x00, 0x02, 0x00};
                std::copy(locations.begin(), locations.end(), reply.begin());
            } else if (script.size() == 8 && script[4] == 0x84) {
                reply[0] = 0xC0;   // 0x0560
                reply[1] = 0x0A;
            } else if (script.size() == 4) {
                reply[0] = 0x34;   // 0x3F1A
                reply[1] = 0xFE;   // the bit above the frame is masked by blankWord
            }
            return reply;
        });
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(words[0], 0x1234);
    EXPECT_EQ(words[1], 0x3FFF);
    EXPECT_EQ(words[2], 0x3FFF);
    EXPECT_EQ(bytes[0], 0xA5);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(ids, 0x1234);
    EXPECT_EQ(id, 0x0560);
    EXPECT_EQ(config, 0x3F1A);
    EXPECT_EQ(text, golden("trace-decode.txt"));
}

TEST(GoldenTrace, ClockAnswersSelectTheWaits)
{
    const uint8_t clocks[] = {16, 4, 8, 20, 12};
    std::vector<int32_t> chosen;
    const auto next = std::make_shared<int>(0);
    const std::string text = traceOf(
        "clock",
        [&](Programmer& p, FakeDriver&) {
            p.setGeometry(0, 0x3FFF, 0);
            p.eraseMethod = 1;
            for (std::size_t i = 0; i < std::size(clocks); ++i) {
                chosen.push_back(p.queryClock());
                EXPECT_TRUE(p.eraseChip());
            }
        },
        [&clocks, next](const Bytes& script, std::size_t n) {
            Bytes reply(n, 0);
            if (script == Bytes{0x80, 0x81})
                reply[0] = clocks[(*next)++];
            return reply;
        });
    EXPECT_EQ(chosen, (std::vector<int32_t>{16, 4, 8, 20, 4}));
    EXPECT_EQ(text, golden("trace-clock.txt"));
}

} // namespace
