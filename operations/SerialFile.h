// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

// Keeps the next serial number between runs, and between benches that share the file. A run
// takes the number under a lock and holds the lock until its chip has verified (advance) or
// failed (release), so no two chips ever get the same number and a failed chip's number is
// used again. The number is one line of hex digits, written through the atomic writer; the
// lock lives in a file beside it ("FILE.lock"), since the atomic writer replaces the file itself.
class SerialFile {
public:
    explicit SerialFile(std::string path);
    ~SerialFile();
    SerialFile(const SerialFile&) = delete;
    SerialFile& operator=(const SerialFile&) = delete;

    // Waits for the lock, then reads the next number; a file that does not exist yet gives
    // fallback. False with a plain-English error (and no lock held) when the file cannot be
    // locked or read, or holds anything but a number: starting again at fallback would repeat
    // serials that chips already carry.
    bool take(uint64_t fallback, uint64_t& next, std::string& error);
    // Stores next and releases the lock. False, lock released, when the file cannot be written.
    bool advance(uint64_t next, std::string& error);
    // Releases the lock and leaves the number as it was.
    void release();

private:
    std::string path;
    int lockFd = -1;
};
