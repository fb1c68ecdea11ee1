// SPDX-License-Identifier: MIT
#include "cli/ProgressBar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string durationText(double seconds) {
    const long total = std::lround(std::max(seconds, 0.0));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

std::string progressBarText(const std::string& label, int percent, int width, double elapsedSeconds) {
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
    if (elapsedSeconds >= 0) {
        text += ' ' + durationText(elapsedSeconds);
        // What is left, at the pace so far; nothing to go by before the first percent.
        if (percent > 0 && percent < 100)
            text += ", " + durationText(elapsedSeconds * (100 - percent) / percent) + " left";
    }
    return text;
}
