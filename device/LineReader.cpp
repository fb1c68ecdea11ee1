// SPDX-License-Identifier: MIT
#include "device/LineReader.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::size_t blockSize = 64 * 1024;
}

LineReader::LineReader(std::FILE* file, std::size_t maxLineLength, std::size_t maxTotalBytes)
    : file(file), maxLineLength(maxLineLength), maxTotalBytes(maxTotalBytes), buffer(blockSize) {}

bool LineReader::fill() {
    if (atEnd || readError || overLimit) return false;
    std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
    totalBytes += got;
    if (maxTotalBytes > 0 && totalBytes > maxTotalBytes) {
        // Nothing of a source past its bound is handed on: a cut-off line would look whole.
        overLimit = true;
        begin = end = 0;
        return false;
    }
    begin = 0;
    end = got;
    if (got < buffer.size()) {
        if (std::ferror(file)) readError = true;
        else atEnd = true;
    }
    // A read error after some bytes still hands those bytes over; the caller learns of the error
    // at the next fill.
    return got > 0;
}

bool LineReader::next(std::string& line) {
    line.clear();
    bool any = false;
    bool truncated = false;
    auto append = [&](const char* from, std::size_t count) {
        if (maxLineLength > 0) {
            std::size_t room = maxLineLength - std::min(maxLineLength, line.size());
            if (count > room) {
                count = room;
                truncated = true;
            }
        }
        line.append(from, count);
    };
    for (;;) {
        if (begin == end && !fill()) {
            if (!any || overLimit) return false;
            break;   // the last line of a file that does not end with a line end
        }
        any = true;
        const char* start = buffer.data() + begin;
        const void* found = std::memchr(start, '\n', end - begin);
        if (found) {
            std::size_t length = static_cast<const char*>(found) - start;
            append(start, length);
            begin += length + 1;
            break;
        }
        append(start, end - begin);
        begin = end;
    }
    // Only a CR that really ended the line goes; a cut-off line keeps what it has.
    if (!truncated && !line.empty() && line.back() == '\r') line.pop_back();
    return true;
}
