// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>
#include <vector>

// What is wrong with one catalogue line. An error makes the line unusable or plainly wrong for
// its chip; a warning is legal but probably not what the author meant.
struct CatalogueProblem {
    int lineNumber = 0;     // from 1
    std::string device;     // column 1 of the line
    std::string problem;    // plain English
    bool error = true;
};

// The problems of one device line (not a comment), judged on its own.
std::vector<CatalogueProblem> checkCatalogueLine(std::string_view line, int lineNumber);

struct CatalogueCheck {
    bool opened = false;    // false: the file cannot be opened or read to its end
    int deviceLines = 0;
    std::vector<CatalogueProblem> problems;   // in line order
    int errorCount() const;
};

// Every device line of the file, plus what only shows across lines (a name used twice).
CatalogueCheck checkCatalogueFile(const std::string& path);

// "FILE:LINE: device: problem", with "warning: " before the problem for a warning.
std::string formatCatalogueProblem(const std::string& file, const CatalogueProblem& problem);
