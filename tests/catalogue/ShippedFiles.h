// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

// Paths of the files the project ships in data/, and plain readers for them that do not go
// through the code under test.
std::string catalogueFile();
std::string examplesDir();

struct CatalogueLine {
    int lineNumber = 0;   // 1-based, for messages
    std::string text;     // without its line end
};

// The catalogue's device lines (every line not starting with ';'), in file order.
std::vector<CatalogueLine> readDeviceLines(const std::string& path);

// The tags of a configuration bit tag column: the text up to and including each ']'.
std::vector<std::string> splitTags(const std::string& tags);
