// SPDX-License-Identifier: MIT
#include "operations/SerialFile.h"
#include "operations/FileLock.h"

#include "device/AtomicFile.h"
#include "operations/SerialNumber.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

SerialFile::SerialFile(std::string path) : path(std::move(path)) {}

SerialFile::~SerialFile() { release(); }

bool SerialFile::take(uint64_t fallback, uint64_t& next, std::string& error) {
    release();
    const std::string lockPath = path + ".lock";
    lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0) {
        error = "cannot open the serial lock file " + lockPath + ": " + std::strerror(errno);
        return false;
    }
    if (!lockExclusive(lockFd)) {
        error = "cannot lock " + lockPath + ": " + std::strerror(errno);
        release();
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) {
            next = fallback;
            return true;
        }
        error = "cannot read the serial file " + path + ": " + std::strerror(errno);
        release();
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::string line = text.str();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    uint64_t value = 0;
    if (!parseSerialNumber(line, value)) {
        error = "the serial file " + path + " does not hold a hexadecimal number";
        release();
        return false;
    }
    next = value;
    return true;
}

bool SerialFile::advance(uint64_t next, std::string& error) {
    char text[24];
    std::snprintf(text, sizeof text, "%04llX\n", static_cast<unsigned long long>(next));
    const bool written = lockFd >= 0 && writeFileAtomically(path, text);
    if (!written) error = "cannot write the serial file " + path;
    release();
    return written;
}

void SerialFile::release() {
    if (lockFd < 0) return;
    ::close(lockFd);   // closing drops the flock
    lockFd = -1;
}
