#include "tests/device/TestFiles.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <stdlib.h>

namespace {
std::string makeFolder() {
    std::string pattern = testing::TempDir() + "korvalin-device-XXXXXX";
    if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
    return pattern;
}
}  // namespace

TempFolder::TempFolder() : folder(makeFolder()) {}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

int TempFolder::entryCount() const {
    int count = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
