// SPDX-License-Identifier: MIT
#include "tests/catalogue/ShippedFiles.h"

#include <fstream>
#include <sstream>

std::string catalogueFile() { return KORVALIN_CATALOGUE_FILE; }
std::string examplesDir() { return KORVALIN_EXAMPLES_DIR; }

std::vector<CatalogueLine> readDeviceLines(const std::string& path) {
    std::vector<CatalogueLine> lines;
    std::ifstream in(path, std::ios::binary);
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
        ++number;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (!text.empty() && text.front() == ';') continue;
        lines.push_back({number, text});
    }
    return lines;
}

std::vector<std::string> splitTags(const std::string& tags) {
    std::vector<std::string> result;
    std::string::size_type start = 0;
    for (std::string::size_type close = tags.find(']'); close != std::string::npos;
         close = tags.find(']', start)) {
        result.push_back(tags.substr(start, close + 1 - start));
        start = close + 1;
    }
    if (start < tags.size()) result.push_back(tags.substr(start));   // text after the last ']'
    return result;
}
