// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

// Notices when a file is written or replaced. It watches the file's folder rather than the
// file, since compilers and editors usually write a new file and rename it over the old one,
// which would leave a watch on the old file looking at nothing. A change counts once the file
// has been quiet for the settle time, so a writer that is still busy is not read half-way.
class FileWatch {
public:
    explicit FileWatch(std::string path, std::chrono::milliseconds settle = std::chrono::milliseconds(300));
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // False with a plain-English error when the folder cannot be watched.
    bool start(std::string& error);
    // Waits for the next settled change; false once stop is set (looked at every 50 ms).
    bool waitForChange(const std::atomic<bool>& stop);

private:
    // True when an event about the file arrived within timeout; false on a quiet timeout.
    bool fileEventWithin(std::chrono::milliseconds timeout);

    std::string path;
    std::string name;
    std::chrono::milliseconds settle;
    int fd = -1;
};

// Runs action now, then after every settled change of path, until stop is set. Returns how
// often action ran, or -1 (action not run) with error when the file cannot be watched.
int watchAndRun(const std::string& path, const std::function<void()>& action,
                const std::atomic<bool>& stop, std::string& error,
                std::chrono::milliseconds settle = std::chrono::milliseconds(300));
