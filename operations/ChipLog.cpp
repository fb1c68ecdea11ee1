// SPDX-License-Identifier: MIT
#include "operations/ChipLog.h"
#include "operations/FileLock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <nettle/sha2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

// nettle rather than a hand-written digest: a maintained, already-reviewed implementation
// with a three-call interface.
std::string sha256Hex(std::string_view data) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, data.size(), reinterpret_cast<const uint8_t*>(data.data()));
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    std::string text;
    char pair[3];
    for (uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::string isoTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string iso = text;
    if (iso.size() >= 5) iso.insert(iso.size() - 2, ":");   // +0100 -> +01:00
    return iso;
}

std::string_view chipLogHeader() {
    return "time,programmer,device,file,sha256,device_id,serial,result,duration_ms\n";
}

std::string chipLogLine(const ChipLogEntry& e) {
    char id[12] = "";
    if (e.deviceId >= 0) std::snprintf(id, sizeof id, "%04X", static_cast<unsigned>(e.deviceId));
    return csvField(isoTime(e.time)) + "," + csvField(e.programmerSerial) + "," + csvField(e.device) +
           "," + csvField(e.file) + "," + csvField(e.sha256) + "," + id + "," + csvField(e.serial) +
           "," + csvField(e.result) + "," + std::to_string(e.durationMs) + "\n";
}

bool appendChipLog(const std::string& path, const ChipLogEntry& entry, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = "cannot open the log " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info{};
    bool ok = lockExclusive(fd) && ::fstat(fd, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) {
        error = "the log " + path + " is not a regular file";
        ::close(fd);
        return false;
    }
    // Whoever finds the file empty under the lock writes the header, once.
    std::string text = ok && info.st_size == 0 ? std::string(chipLogHeader()) : std::string();
    text += chipLogLine(entry);
    ok = ok && writeAll(fd, text);
    if (!ok) error = "cannot write the log " + path + ": " + std::strerror(errno);
    if (::close(fd) != 0 && ok) {
        error = "cannot write the log " + path + ": " + std::strerror(errno);
        ok = false;
    }
    return ok;
}
