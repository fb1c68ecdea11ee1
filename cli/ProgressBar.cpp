#include "cli/ProgressBar.h"

#include <algorithm>
#include <cstdio>

std::string progressBarText(const std::string& label, int percent, int width) {
    percent = std::clamp(percent, 0, 100);
    width = std::max(width, 1);
    const int filled = percent * width / 100;
    std::string text = label;
    if (!text.empty()) text += ' ';
    text += '[';
    text.append(static_cast<std::size_t>(filled), '#');
    text.append(static_cast<std::size_t>(width - filled), ' ');
    char tail[8];
    std::snprintf(tail, sizeof tail, "] %3d%%", percent);
    text += tail;
    return text;
}
