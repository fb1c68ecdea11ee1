// SPDX-License-Identifier: MIT
// Arbitrary HEX lines into images of many geometries; the first byte picks the geometry.

#include "device/MemoryImage.h"
#include "fuzz/device/RoundTrip.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static constexpr uint32_t words[] = {0, 16, 1024, 8192, 1001};
    static constexpr uint32_t eeprom[] = {0, 128, 256, 13};
    static constexpr uint16_t blanks[] = {0x3FFF, 0x0FFF, 0xFFFF, 0};
    const uint8_t pick = data[0];
    MemoryImage image;
    image.resize(words[pick % 5], blanks[(pick / 5) % 4], eeprom[(pick / 20) % 4]);
    image.setFamily((pick & 0x80) ? 2 : 0);

    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        image.parseHexLine(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    if (image.programWords.size() != image.programWordCount ||
        image.eepromBytes.size() != image.eepromByteCount)
        __builtin_trap();
    checkRoundTrip(image);
    return 0;
}
