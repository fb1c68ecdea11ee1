// Replays the fuzz targets' seed corpora, and any input that once crashed them, in the ordinary
// (sanitized) test builds. A failing input aborts inside the target.

#include "tests/device/TestFiles.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>

extern "C" int fuzzHexLine(const uint8_t* data, std::size_t size);
extern "C" int fuzzCatalogueLine(const uint8_t* data, std::size_t size);

namespace {

int replay(const std::filesystem::path& folder, int (*target)(const uint8_t*, std::size_t)) {
    int count = 0;
    if (!std::filesystem::is_directory(folder)) return 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string input = readText(entry.path());
        target(reinterpret_cast<const uint8_t*>(input.data()), input.size());
        ++count;
    }
    return count;
}

TEST(FuzzReplay, SeedsAndRegressions) {
    const std::filesystem::path seeds = KORVALIN_FUZZ_CORPUS_DIR;
    const std::filesystem::path regressions = KORVALIN_FUZZ_REGRESSIONS_DIR;
    EXPECT_GE(replay(seeds / "hex_line", fuzzHexLine), 12);
    EXPECT_GE(replay(seeds / "catalogue_line", fuzzCatalogueLine), 12);
    replay(regressions / "hex_line", fuzzHexLine);
    replay(regressions / "catalogue_line", fuzzCatalogueLine);
}

}  // namespace
