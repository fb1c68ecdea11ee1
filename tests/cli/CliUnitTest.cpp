// SPDX-License-Identifier: MIT
#include "cli/BlankCheck.h"
#include "cli/CliOptions.h"
#include "cli/Detect.h"
#include "cli/ProgressBar.h"
#include "cli/TerminalFrontend.h"
#include "programmer/Programmer.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

// ---- argument parsing ---------------------------------------------------------------------

struct ParseCase {
    std::vector<std::string> args;
    bool ok;
    const char* errorPart;   // for refusals: a piece of the message
};

TEST(ParseArguments, AcceptsAndRefuses) {
    const ParseCase table[] = {
        {{"--", "read", "-odd-name.hex"}, true, ""},
        {{"erase", "-d", "A", "--", "-d"}, false, "unexpected argument \"-d\""},
        {{"list", "-qd"}, false, "-d, --device needs a value"},
        {{"erase", "--verbose=2"}, false, "--verbose takes no value"},
        {{"erase", "--usb="}, false, "--usb needs"},
        // The first refusal is the one reported, whichever option CLI11 looked at first.
        {{"erase", "--lang=x", "--progress=dots"}, false, "takes"},
        {{"erase", "--lang=EN"}, false, "--lang takes en or ja, not \"EN\""},
        {{"erase", "--calibration=34ff,3"}, true, ""},
        {{"erase", "--calibration", "3480,4"}, false, "band-gap bits 0 to 3"},
        {{"erase", "--calibration", "3480,/"}, false, "--calibration takes"},
        {{"erase", "--calibration=34G0"}, false, "--calibration takes"},
        {{"flash", "a.hex"}, false, "unknown command \"flash\""},
        {{"program", ""}, false, "needs a HEX file"},
        {{"usb-use"}, false, "usb-use needs a USB ID"},
        {{"usb-use", "1209:4b56", "--serial="}, false, "--serial needs a serial number"},
        {{"udev-rule", "1209:4b56", "x"}, false, "unexpected argument \"x\""},
        {{"erase", "--probe"}, false, "--probe goes with usb-list only"},
        {{"udev-rule", "--group", "bench-2_x"}, true, ""},
        {{"udev-rule", "--group", "-x"}, false, "plain group name"},
        {{"udev-rule", "--group=abcdefghijabcdefghijabcdefghijabc"}, false, "plain group name"},
        {{"program", "a.hex", "--count", "3"}, false, "--count goes with --repeat"},
        {{"program", "a.hex", "--repeat", "--count", "0"}, false, "--count needs a number"},
        {{"program", "a.hex", "--watch", "--repeat"}, false, "do not go together"},
        {{"program", "a.hex", "--watch", "--serial-retlw", "7F0,2", "--no-user-id"}, true, ""},
        {{"program", "a.hex", "--serial-retlw", "7F0"}, false, "ADDR,N"},
        {{"program", "a.hex", "--serial", "1,0"}, false, "STEP of at least 1"},
        {{"erase", "--serial", "1"}, false, "--serial goes with program or usb-use only"},
        // A serial in the user ID that --no-user-id leaves alone: every chip without its serial.
        {{"program", "a.hex", "--serial", "1", "--no-user-id"}, false, "--serial-retlw"},
        {{"program", "a.hex", "--serial-file=n=1="}, true, ""},
    };
    for (const ParseCase& c : table) {
        std::string joined;
        for (const std::string& a : c.args) joined += a + " ";
        const ParseResult result = parseArguments(c.args);
        EXPECT_EQ(result.ok, c.ok) << joined << "-> " << result.error;
        EXPECT_NE(result.error.find(c.errorPart), std::string::npos) << joined << "-> " << result.error;
    }
}

// The options the end-to-end runs do not reach; the last of a repeated option counts.
TEST(ParseArguments, FillsTheOptions) {
    const ParseResult r = parseArguments({"-d", "A", "--no-user-id", "--protect-off", "--calibration", "34A0,2",
                                          "program", "a.hex", "--device=B", "--serial-retlw", "7F0,2"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.options.device, "B");
    EXPECT_EQ(r.options.userIdOff, 1);
    EXPECT_EQ(r.options.protectOff, 1);
    ASSERT_TRUE(r.options.calibration);
    EXPECT_EQ(r.options.calibration->word, 0x34A0);
    EXPECT_EQ(r.options.calibration->bits, 2);
    EXPECT_TRUE(r.options.writeSerial);

    // Without the options the remembered values apply: nothing is set.
    const ParseResult bare = parseArguments({"erase"});
    ASSERT_TRUE(bare.ok);
    EXPECT_FALSE(bare.options.device.has_value());
    EXPECT_FALSE(bare.options.skipDeviceIdCheck.has_value());
    EXPECT_FALSE(bare.options.userIdOff.has_value());
    EXPECT_FALSE(bare.options.protectOff.has_value());
    EXPECT_FALSE(bare.options.progress.has_value());
}

// ---- progress bar -------------------------------------------------------------------------

TEST(ProgressBar, FillsByPercentAndClamps) {
    struct Case {
        std::string label;
        int percent, width;
        std::string expected;
        double elapsed = -1;
    };
    const Case cases[] = {
        {"Read", 45, 10, "Read [####      ]  45%"},
        {"", 50, 4, "[##  ]  50%"},
        // The time taken, and what is left at the pace so far; none to go by at 0 %.
        {"X", 25, 4, "X [#   ]  25% 0:10, 0:30 left", 10},
        {"X", 100, 4, "X [####] 100% 1:05", 65},
        {"X", 50, 4, "X [##  ]  50% 1:00:00, 1:00:00 left", 3600},
    };
    for (const Case& c : cases)
        EXPECT_EQ(progressBarText(c.label, c.percent, c.width, c.elapsed), c.expected)
            << c.percent << "% of " << c.width;
}

// ---- blank check --------------------------------------------------------------------------

struct Geometry {
    uint32_t words;
    uint32_t bytes;
    bool calibration;
};

TEST(BlankCheck, FindsEveryAreaThatIsNotBlank) {
    struct Case {
        const char* name;
        Geometry geometry;
        uint16_t keepMask;
        void (*change)(Programmer&);
        bool blank;
        const char* findingPart;
    };
    const Case cases[] = {
        {"erased", {64, 16, false}, 0xFFFF, [](Programmer&) {}, true, ""},
        {"program word", {64, 16, false}, 0xFFFF,
         [](Programmer& p) { p.programWords[17] = 0x2805; }, false, "at 0011 holds 2805"},
        {"last program word", {64, 16, false}, 0xFFFF,
         [](Programmer& p) { p.programWords[63] = 0; }, false, "program memory: 1 word"},
        {"the spare cell past the end is not chip data", {64, 16, false}, 0xFFFF,
         [](Programmer& p) { p.programWords[64] = 0; }, true, ""},
        {"eeprom byte", {64, 16, false}, 0xFFFF,
         [](Programmer& p) { p.eepromBytes[3] = 0x12; }, false, "EEPROM: 1 byte(s) not FF"},
        {"user id", {64, 16, false}, 0xFFFF, [](Programmer& p) { p.userId = 0xFFF0; }, false,
         "user ID: FFF0"},
        {"code protection left behind", {64, 16, false}, 0xFFFF,
         [](Programmer& p) { p.configWord = 0x1FFF; }, false, "on the bits 2000"},
        {"unimplemented bits read 0", {64, 16, false}, 0x3F7F,
         [](Programmer& p) { p.configWord = 0x3F7F; }, true, ""},
        {"other config bits on a calibration device", {64, 16, true}, 0xFFFF,
         [](Programmer& p) { p.configWord = 0x3FBF; }, false, "on the bits 0040"},
        {"word next to the calibration word", {64, 16, true}, 0xFFFF,
         [](Programmer& p) { p.programWords[62] = 0x3480; }, false, "at 003E"},
        {"each area reported once", {32, 16, false}, 0xFFFF,
         [](Programmer& p) {
             p.programWords[0] = p.programWords[5] = p.eepromBytes[0] = p.userId = p.configWord = 0;
         },
         false, "program memory: 2 word(s)"},
    };
    for (const Case& c : cases) {
        Programmer programmer;
        programmer.setGeometry(c.geometry.words, 0x3FFF, c.geometry.bytes);
        if (c.geometry.calibration) {
            programmer.calibrationAddress = c.geometry.words - 1;
            programmer.calibrationBitsMask = 0x3000;
        }
        c.change(programmer);
        const BlankReport report = checkBlank(programmer, c.keepMask, c.geometry.calibration);
        EXPECT_EQ(report.blank, c.blank) << c.name;
        EXPECT_EQ(report.findings.empty(), c.blank) << c.name;
        if (!c.blank) {
            ASSERT_EQ(report.findings.size(), c.geometry.words == 32 ? 4u : 1u) << c.name;
            EXPECT_NE(report.findings[0].find(c.findingPart), std::string::npos)
                << c.name << ": " << report.findings[0];
        }
    }
}

// ---- detect -------------------------------------------------------------------------------

std::string line(const std::string& name, const std::string& id, const char* methods = "1\t1\t0\t0\t0\t1\t1") {
    return name + "\t2048:14\t128\t[CP][x][x][x][x][CPD][LVP][BOREN][MCLRE][FOSC2][PWRTE][WDTE][FOSC1][FOSC0]\t18\t" +
           methods + "\t:\t" + id + "\t\n";
}

TEST(Detect, MatchesMaskedIdsInFileOrderLastLineWinning) {
    const std::filesystem::path path =
        std::filesystem::path(testing::TempDir()) / "detect-catalogue.txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << "; comment\n"
            << line("P628A", "1060:3FE0") << line("P627A", "1040:3FE0") << line("NOID", "-")
            << line("MASK0", "") << line("BAD", "1060:3FE0", "1\t2\t0\t0\t0\t1\t20")
            << line("TWICE", "1060:3FE0") << line("ALSO628", "1060:3FF0")
            << line("TWICE", "0560:3FE0");
    }
    struct Case {
        uint16_t id;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {0x1066, {"P628A", "ALSO628"}},
        {0x1046, {"P627A"}},
        {0x0562, {"TWICE"}},
        {0x1070, {"P628A"}},   // bit 4 is a revision bit under 3FE0, not under 3FF0
        {0x1080, {}},
    };
    // One pass over the file for every device, not one per name.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, path.c_str(), IN_OPEN), 0);
    const CatalogueRecords catalogue = readCatalogueRecords(path.string());
    alignas(inotify_event) char events[4096];
    const ssize_t got = read(watch, events, sizeof events);
    close(watch);
    EXPECT_EQ(got, static_cast<ssize_t>(sizeof(inotify_event)));
    for (const Case& c : cases) {
        const DetectResult result = devicesMatchingId(catalogue, c.id);
        EXPECT_TRUE(result.opened);
        EXPECT_EQ(result.matches, c.expected) << std::hex << c.id;
    }
    EXPECT_EQ(catalogueEntrySequences(catalogue), (std::vector<int32_t>{1}));
    EXPECT_FALSE(devicesMatchingId(readCatalogueRecords(path.string() + ".missing"), 0x1066).opened);
}

// ---- terminal output ----------------------------------------------------------------------

// What the frontend writes to standard output and error, kept in memory.
struct Capture {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* file = open_memstream(&text, &size);
    ~Capture() {
        std::fclose(file);
        std::free(text);
    }
    std::string written() {
        std::fflush(file);
        return std::string(text, size);
    }
};

TEST(TerminalFrontend, WritesStatusLinesMessagesAndProgressByStyle) {
    struct Case {
        const char* name;
        ProgressStyle style;
        void (*drive)(TerminalFrontend&);
        std::string out;
        std::string err;   // the times taken out: they are the machine's
    };
    const Case cases[] = {
        {"a bar redrawn in place when it changes, cleared before a line", ProgressStyle::Bar,
         [](TerminalFrontend& f) {
             f.setStatusText("Read");
             f.setProgress(10);
             f.setProgress(10);
             f.setProgress(20);
             f.printError("oops");
         },
         "Read\n", "\rRead [###                           ]  10%\rRead [######                        ]  20%\r\033[Koops\n"},
        {"plain: a line at each new tenth", ProgressStyle::Plain,
         [](TerminalFrontend& f) {
             f.setStatusText("Read");
             for (int percent : {0, 4, 10, 15, 19, 35, 100}) f.setProgress(percent);
             f.setStatusText("Verify");
             f.setProgress(10);
         },
         "Read\nVerify\n", "Read  10%\nRead  30%\nRead 100%\nVerify  10%\n"},
    };
    const std::regex times(" [0-9]+:[0-9]{2}(, [0-9]+:[0-9]{2} left)?");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Capture out;
        Capture err;
        ASSERT_TRUE(out.file && err.file);
        {
            TerminalFrontend frontend(out.file, err.file, c.style);
            c.drive(frontend);
        }
        EXPECT_EQ(out.written(), c.out);
        EXPECT_EQ(std::regex_replace(err.written(), times, ""), c.err);
    }
}

}  // namespace
