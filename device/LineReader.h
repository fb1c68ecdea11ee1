// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Reads a text file line by line, with CR LF or LF line ends (neither is part of the line), and
// tells a clean end of file from a read error. Reads in large blocks: a HEX file of the largest
// device is read in a handful of calls.
class LineReader {
public:
    // maxLineLength > 0 keeps only that many characters of each line and drops the rest, so a
    // file without line ends cannot make the reader hold an unbounded line in memory.
    // maxTotalBytes > 0 stops reading once that many bytes have come in: an endless source
    // (/dev/zero, a FIFO that never ends) then ends at once, with exceeded() true.
    explicit LineReader(std::FILE* file, std::size_t maxLineLength = 0,
                        std::size_t maxTotalBytes = 0);

    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line, or false at the end of the file or on a read error (see failed()).
    bool next(std::string& line);
    bool failed() const { return readError; }
    bool exceeded() const { return overLimit; }

private:
    bool fill();

    std::FILE* file;
    std::size_t maxLineLength;
    std::size_t maxTotalBytes;
    std::size_t totalBytes = 0;
    bool overLimit = false;
    std::vector<char> buffer;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool atEnd = false;
    bool readError = false;
};
