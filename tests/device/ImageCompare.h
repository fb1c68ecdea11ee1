#pragma once

#include "device/MemoryImage.h"

#include <gtest/gtest.h>

// Every member that a load or a save can touch, compared with a readable message.
inline testing::AssertionResult sameImage(const MemoryImage& a, const MemoryImage& b) {
    auto differs = [](const char* what, auto x, auto y) {
        return testing::AssertionFailure() << what << ": " << std::hex << x << " != " << y;
    };
    if (a.family != b.family) return differs("family", a.family, b.family);
    if (a.blankWord != b.blankWord) return differs("blankWord", a.blankWord, b.blankWord);
    if (a.configWord != b.configWord) return differs("configWord", a.configWord, b.configWord);
    if (a.configWord2 != b.configWord2) return differs("configWord2", a.configWord2, b.configWord2);
    if (a.userId != b.userId) return differs("userId", a.userId, b.userId);
    if (a.programWords.size() != b.programWords.size())
        return differs("program size", a.programWords.size(), b.programWords.size());
    if (a.eepromBytes.size() != b.eepromBytes.size())
        return differs("EEPROM size", a.eepromBytes.size(), b.eepromBytes.size());
    for (std::size_t i = 0; i < a.programWords.size(); ++i)
        if (a.programWords[i] != b.programWords[i])
            return differs(("program word " + std::to_string(i)).c_str(), a.programWords[i], b.programWords[i]);
    for (std::size_t i = 0; i < a.eepromBytes.size(); ++i)
        if (a.eepromBytes[i] != b.eepromBytes[i])
            return differs(("EEPROM cell " + std::to_string(i)).c_str(), a.eepromBytes[i], b.eepromBytes[i]);
    return testing::AssertionSuccess();
}
