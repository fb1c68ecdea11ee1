// SPDX-License-Identifier: MIT
#pragma once

#include "device/MemoryImage.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <stdlib.h>
#include <tuple>

// A fresh folder under the test temp directory, removed with everything in it at destruction.
struct TempFolder {
    std::string folder = [] {
        std::string pattern = testing::TempDir() + "korvalin-device-XXXXXX";
        return ::mkdtemp(pattern.data()) ? pattern : std::string("/nonexistent");
    }();
    ~TempFolder() { std::error_code ignored; std::filesystem::remove_all(folder, ignored); }
    std::string path(const std::string& name) const { return folder + "/" + name; }
    long entryCount() const {
        auto entries = std::filesystem::directory_iterator(folder);
        return std::distance(begin(entries), end(entries));
    }
};

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every member that a load or a save can touch.
inline bool sameImage(const MemoryImage& a, const MemoryImage& b) {
    auto members = [](const MemoryImage& m) {
        return std::tie(m.family, m.blankWord, m.configWord, m.configWord2, m.userId, m.programWords,
                        m.eepromBytes, m.programWordCount, m.eepromByteCount);
    };
    return members(a) == members(b);
}
