// SPDX-License-Identifier: MIT
#include "operations/CalibrationJournal.h"
#include "operations/FileLock.h"

#include "device/HexNumber.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

bool absoluteFolder(const char* value) { return value && value[0] == '/'; }

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

}  // namespace

bool isFactoryCalibration(uint16_t word) { return (word & 0x3F00) == 0x3400; }

std::string calibrationJournalPath() {
    std::filesystem::path folder;
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    if (absoluteFolder(state))
        folder = state;
    else if (absoluteFolder(home))
        folder = std::filesystem::path(home) / ".local" / "state";
    else
        return {};
    return (folder / "korvalin-loader" / "calibration.log").string();
}

std::string journalLine(const CalibrationRecord& record) {
    char values[32];
    std::snprintf(values, sizeof values, " %04X %d", record.word & 0x3FFF, record.bits & 3);
    return record.time + " " + record.device + " " + record.deviceId + values;
}

std::optional<CalibrationRecord> parseJournalLine(const std::string& line) {
    std::istringstream in(line);
    CalibrationRecord record;
    std::string word, bits, extra;
    if (!(in >> record.time >> record.device >> record.deviceId >> word >> bits) || (in >> extra))
        return std::nullopt;
    if (word.size() != 4 || bits.size() != 1 || bits[0] < '0' || bits[0] > '3') return std::nullopt;
    uint64_t value = 0;
    if (!parseHexNumber(word, 0x3FFF, value)) return std::nullopt;
    record.word = static_cast<uint16_t>(value);
    record.bits = bits[0] - '0';
    return record;
}

std::string journalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

bool appendToJournal(const std::string& path, const CalibrationRecord& record) {
    if (path.empty()) return false;
    const std::filesystem::path file(path);
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) return false;

    const bool existed = std::filesystem::exists(file, error);
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // Two programs (the window and a script on the same bench) may read chips at once.
    bool ok = lockExclusive(fd);
    ok = ok && writeAll(fd, journalLine(record) + "\n");
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    if (ok && !existed) syncFolder(file.parent_path());
    return ok;
}

JournalContents readJournal(const std::string& path) {
    JournalContents contents;
    std::error_code error;
    if (path.empty() || !std::filesystem::exists(path, error)) return contents;
    // A folder opens as a stream that reads nothing: it would pass for an empty journal.
    std::ifstream in(path);
    if (!in || !std::filesystem::is_regular_file(path, error)) {
        contents.readable = false;
        return contents;
    }
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) contents.lines.push_back(line);
    return contents;
}

std::optional<CalibrationRecord> lastFactoryRecord(const std::vector<std::string>& lines,
                                                   const std::string& device) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        const std::optional<CalibrationRecord> record = parseJournalLine(*it);
        if (record && record->device == device && isFactoryCalibration(record->word)) return record;
    }
    return std::nullopt;
}
