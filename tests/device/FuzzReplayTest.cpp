// SPDX-License-Identifier: MIT
// Replays the fuzz targets' seed corpora, and the inputs kept because they once broke a target or
// sit on a bound it must hold, in the ordinary (sanitized) test builds. A failing input aborts
// inside the target; a folder that lost its inputs fails here.

#include "tests/device/TestFiles.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>

extern "C" int fuzzHexLine(const uint8_t* data, std::size_t size);
extern "C" int fuzzCatalogueLine(const uint8_t* data, std::size_t size);

namespace {

using Target = int (*)(const uint8_t*, std::size_t);

int replay(const std::filesystem::path& folder, Target target) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().string());
        const std::string input = readText(entry.path());
        EXPECT_EQ(target(reinterpret_cast<const uint8_t*>(input.data()), input.size()), 0);
        ++count;
    }
    return count;
}

TEST(FuzzReplay, SeedsAndRegressions) {
    const std::filesystem::path fuzz = KORVALIN_FUZZ_DIR;
    const struct {
        const char* folder;
        Target target;
        int atLeast;
    } cases[] = {
        {"corpus/hex_line", fuzzHexLine, 12},
        {"corpus/catalogue_line", fuzzCatalogueLine, 12},
        {"regressions/hex_line", fuzzHexLine, 7},
        {"regressions/catalogue_line", fuzzCatalogueLine, 6},
    };
    for (const auto& c : cases) EXPECT_GE(replay(fuzz / c.folder, c.target), c.atLeast) << c.folder;
}

}  // namespace
