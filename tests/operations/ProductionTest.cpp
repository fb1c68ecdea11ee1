// SPDX-License-Identifier: MIT
// Production runs: serial numbers, the serial file, the per-chip log, the repeat loop and the
// file watch that re-programs on every build.

#include "operations/ChipLog.h"
#include "operations/FileWatch.h"
#include "operations/RepeatRun.h"
#include "operations/SerialFile.h"
#include "operations/SerialNumber.h"
#include "tests/device/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <atomic>
#include <future>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(SerialNumber, StartStepAndRetlwTexts) {
    struct Case { const char* text; bool retlw; bool ok; const char* parsed; } cases[] = {
        {"1", false, true, "1+1"}, {"0x00FF,10", false, true, "FF+10"}, {"", false, false, ""},
        {"1,0", false, false, ""}, {"12 ", false, false, ""}, {"10000000000000000", false, false, ""},
        {"0x100,8", true, true, "@100x8"}, {"100,9", true, false, ""}, {"2000,1", true, false, ""},
        {"100", true, false, ""},
    };
    for (const auto& c : cases) {
        std::string error;
        char parsed[64] = "";
        bool ok;
        if (c.retlw) {
            SerialField field;
            ok = parseSerialRetlw(c.text, field, error);
            if (ok) std::snprintf(parsed, sizeof parsed, "@%Xx%u", field.address, field.words);
        } else {
            uint64_t start = 7, step = 7;
            ok = parseSerialStart(c.text, start, step, error);
            if (ok) std::snprintf(parsed, sizeof parsed, "%llX+%llX", (unsigned long long)start, (unsigned long long)step);
        }
        EXPECT_EQ(ok, c.ok) << c.text;
        EXPECT_EQ(std::string(parsed), c.parsed) << c.text;
        EXPECT_EQ(error.empty(), c.ok) << c.text << ": " << error;
    }
}

TEST(SerialNumber, PlacementLowByteFirstAndRefusals) {
    struct Case { SerialField field; uint64_t serial; std::string words; std::string error; } cases[] = {
        {{}, 0x10000, "user FFFF | 3FFF 3FFF 3FFF 3FFF", "serial 10000 does not fit in the user ID"},
        {{true, 0x7FD, 3}, 0x0A, "user FFFF | 3FFF 340A 3400 3400", ""},
        {{true, 0x7FD, 1}, 0x100, "user FFFF | 3FFF 3FFF 3FFF 3FFF", "serial 100 does not fit in 1 RETLW words"},
        {{true, 0x7FE, 3}, 1, "user FFFF | 3FFF 3FFF 3FFF 3FFF", "serial RETLW words at 07FE run past the end of program memory"},
        {{true, 0, 8}, UINT64_MAX, "user FFFF | 3FFF 3FFF 3FFF 3FFF", ""},
    };
    for (const auto& c : cases) {
        MemoryImage image;
        image.resize(2048, 0x3FFF, 128);
        std::string error;
        EXPECT_EQ(placeSerial(image, c.field, c.serial, error), c.error.empty());
        char words[64];
        std::snprintf(words, sizeof words, "user %04X | %04X %04X %04X %04X", image.userId, image.programWords[0x7FC],
                      image.programWords[0x7FD], image.programWords[0x7FE], image.programWords[0x7FF]);
        if (c.field.retlw && c.field.address == 0 && c.error.empty())
            EXPECT_EQ(image.programWords[0], 0x34FF) << "all eight bytes";
        else
            EXPECT_EQ(words, c.words) << c.serial;
        EXPECT_EQ(error, c.error);
    }
}

TEST(SerialFile, NextNumberIsKeptLockedAndOnlyAdvancedOnRequest) {
    TempFolder folder;
    const std::string path = folder.path("serial");
    SerialFile first(path);
    uint64_t next = 0;
    std::string error;
    ASSERT_TRUE(first.take(0x10, next, error)) << error;
    EXPECT_EQ(next, 0x10u) << "a new file starts at the start value";

    // A second run waits for the first one's chip.
    auto second = std::async(std::launch::async, [&] {
        SerialFile other(path);
        uint64_t value = 0;
        std::string e;
        const bool ok = other.take(0x10, value, e);
        other.release();
        return ok ? value : 0;
    });
    EXPECT_EQ(second.wait_for(150ms), std::future_status::timeout);
    ASSERT_TRUE(first.advance(0x11, error)) << error;
    EXPECT_EQ(second.get(), 0x11u);
    EXPECT_EQ(readText(path), "0011\n");

    ASSERT_TRUE(first.take(0, next, error));
    first.release();   // a failed chip: the number stays
    EXPECT_EQ(readText(path), "0011\n");

    for (const char* damaged : {"", "12x\n", "-1\n", "10000000000000000\n"}) {
        writeText(path, damaged);
        EXPECT_FALSE(first.take(0, next, error)) << damaged;
        EXPECT_NE(error.find("does not hold a hexadecimal number"), std::string::npos) << error;
    }
    EXPECT_FALSE(SerialFile(folder.path("none/serial")).take(0, next, error));
}

TEST(ChipLog, LineQuotingAndSharedAppends) {
    // The digest is checked against sha256sum end to end (tests/cli, production tray).
    ChipLogEntry entry{{}, "KV0012", "PIC16F628A", "out,\"v2\".hex", "ab12", 0x1066, "0001", "OK", 812};
    const std::string line = chipLogLine(entry);
    EXPECT_EQ(line.substr(line.find(',')),
              ",KV0012,PIC16F628A,\"out,\"\"v2\"\".hex\",ab12,1066,0001,OK,812\n");
    entry.deviceId = -1;
    entry.file = "two\nlines";
    EXPECT_EQ(chipLogLine(entry).substr(line.find(',')), ",KV0012,PIC16F628A,\"two\nlines\",ab12,,0001,OK,812\n");
    EXPECT_EQ(isoTime(std::chrono::system_clock::time_point{}).size(), 25u);   // 1970-01-01T00:00:00+00:00

    TempFolder folder;
    const std::string path = folder.path("log.csv");
    std::string error;
    // Two writers at once: each line whole, the header once.
    auto writer = [&] {
        std::string e;
        for (int i = 0; i < 50; ++i) appendChipLog(path, entry, e);
    };
    std::thread a(writer), b(writer);
    a.join();
    b.join();
    const std::string text = readText(path);
    EXPECT_EQ(text.rfind(chipLogHeader(), 0), 0u);
    EXPECT_EQ(text.find("time,", 1), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 100 * 2);   // the file name holds one

    EXPECT_FALSE(appendChipLog(folder.folder, entry, error));
    EXPECT_FALSE(appendChipLog("/dev/null", entry, error));   // opened for appending only
    EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(appendChipLog(folder.path("none/log.csv"), entry, error));
    EXPECT_NE(error.find("cannot open the log"), std::string::npos) << error;
}

// A bench whose chips fail where the row says, and whose operator answers as the row says.
struct FakeStation : ChipStation {
    std::set<int> failing;
    int answers = 1000;          // "next chip" answers before "q"
    int chip = 0;
    std::string events;
    std::vector<std::string> goodSerials;
    std::vector<int> reported;

    Outcome programAndVerify(const MemoryImage& image) override {
        ++chip;
        events += "P";
        const bool ok = failing.count(chip) == 0;
        if (ok) goodSerials.push_back(std::to_string(image.userId));
        return {ok, ok ? 0 : chip == 7 ? 6 : 1, 0x1066, ok ? "OK" : "verify failed"};
    }
    void safeState() override { events += "S"; }
    bool nextChipWanted() override {
        events += "?";
        return answers-- > 0;
    }
    void chipDone(const Report& report) override {
        events += "L";
        reported.push_back(report.chip);
    }
};

TEST(RepeatRun, ChipsSerialsAndTheOperatorsAnswers) {
    struct Case {
        int count;
        std::set<int> failing;
        int answers;
        uint64_t start;
        std::string events;
        std::string serials;
        int ok, failed, worst;
        std::string error;
    } cases[] = {
        // A tray with a failing chip, q and --count are pinned end to end (tests/cli).
        {0, {2, 7}, 7, 1, "PSL?PSL?PSL?PSL?PSL?PSL?PSL?PSL?", "1 2 3 4 5 6", 6, 2, 6, ""},   // worst
        {1, {1}, 0, 1, "PSL", "", 0, 1, 1, ""},
        // The field would overflow on the third chip: refused before that chip is touched.
        {5, {}, 1000, 0xFFFE, "PSL?PSL?", "65534 65535", 2, 0, 0, "serial 10000 does not fit in the user ID"},
    };
    for (const auto& c : cases) {
        FakeStation station;
        station.failing = c.failing;
        station.answers = c.answers;
        RepeatSettings settings;
        settings.count = c.count;
        settings.writeSerial = true;
        settings.serialStart = c.start;
        RepeatRun run(station, settings);
        MemoryImage image;
        const RepeatSummary summary = run.run(image);
        std::string serials;
        for (const auto& s : station.goodSerials) serials += (serials.empty() ? "" : " ") + s;
        EXPECT_EQ(station.events, c.events) << c.count;
        EXPECT_EQ(serials, c.serials) << c.count;
        EXPECT_EQ(summary.ok, c.ok) << c.count;
        EXPECT_EQ(summary.failed, c.failed) << c.count;
        EXPECT_EQ(summary.worstStatus, c.worst) << c.count;
        EXPECT_EQ(summary.chipMs.size(), std::size_t(c.ok + c.failed));
        EXPECT_EQ(summary.stoppedOnError, !c.error.empty());
        EXPECT_EQ(summary.error, c.error);
    }
}

// How the serial file and the log follow the chips is pinned end to end (tests/cli, the
// production tray); these are the two ways a run stops on them.
TEST(RepeatRun, ALogOrASerialFileThatFailsStopsTheRun) {
    TempFolder folder;
    RepeatSettings settings;
    settings.count = 3;
    settings.writeSerial = true;
    settings.serialFile = folder.path("serial");
    settings.logFile = folder.path("none/log.csv");
    writeText(settings.serialFile, "0040\n");
    MemoryImage image;
    // A log that cannot be written stops the run after the chip it could not record.
    FakeStation first;
    const RepeatSummary summary = RepeatRun(first, settings).run(image);
    EXPECT_EQ(first.events, "PSL");
    EXPECT_TRUE(summary.stoppedOnError);
    EXPECT_EQ(readText(settings.serialFile), "0041\n") << "the chip verified, so its number is used";

    // A serial file that cannot be taken stops the run before a chip is touched.
    FakeStation second;
    settings.serialFile = folder.path("none/serial");
    const RepeatSummary refused = RepeatRun(second, settings).run(image);
    EXPECT_EQ(second.events, "");
    EXPECT_TRUE(refused.stoppedOnError);
    EXPECT_FALSE(refused.error.empty());
}

// The runs on a rewrite and on a replacement are pinned end to end (tests/cli, watch).
TEST(FileWatch, AFolderThatIsNotThereCannotBeWatched) {
    TempFolder folder;
    std::atomic<bool> stop{false};
    std::string error;
    EXPECT_EQ(watchAndRun(folder.path("none/x.hex"), [] {}, stop, error), -1);
    EXPECT_NE(error.find("cannot watch"), std::string::npos) << error;
}

}  // namespace
