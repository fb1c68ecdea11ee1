// SPDX-License-Identifier: MIT
#pragma once

#include "device/MemoryImage.h"

#include <cstdlib>

// Saves the image as text, reads the text into a fresh image of the same device and aborts when
// anything came back different. Skipping groups equal to the blank word keeps this exact.
inline void checkRoundTrip(const MemoryImage& image) {
    const std::string text = image.hexText(true, image.blankWord);
    MemoryImage back;
    back.resize(image.programWordCount, image.blankWord, image.eepromByteCount);
    back.setFamily(image.family);
    std::string_view rest = text;
    while (!rest.empty()) {
        std::size_t end = rest.find("\r\n");
        if (end == std::string_view::npos) std::abort();   // every line ends with CR LF
        back.parseHexLine(rest.substr(0, end));
        rest.remove_prefix(end + 2);
    }
    const bool same = back.programWords == image.programWords && back.eepromBytes == image.eepromBytes &&
                      back.userId == image.userId && back.configWord == image.configWord &&
                      (image.family != 2 || back.configWord2 == image.configWord2);
    if (!same) std::abort();
}
