// SPDX-License-Identifier: MIT
#include "device/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, std::string_view content) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) return false;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Flushing the folder makes the rename itself survive a power cut; the new file is complete
// either way, so a failure here does not fail the save.
void syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

std::atomic<unsigned> temporaryCounter{0};

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view content, bool flushToDisk) {
    if (path.empty() || path.back() == '/') return false;

    std::string target = path;
    struct stat old{};
    bool replacing = false;
    if (::lstat(path.c_str(), &old) == 0) {
        if (S_ISLNK(old.st_mode)) {
            char* resolved = ::realpath(path.c_str(), nullptr);
            if (!resolved) return false;   // a dangling link: where it would lead is unclear
            target = resolved;
            std::free(resolved);
            if (::stat(target.c_str(), &old) != 0) return false;
        }
        if (!S_ISREG(old.st_mode)) return false;
        replacing = true;
    } else if (errno != ENOENT) {
        return false;
    }

    const std::string folder = folderOf(target);
    // The temporary name must fit where the target's does: a target name near the 255-byte
    // limit gives its temporary only the start of its name.
    constexpr std::size_t maxNameBytes = 255;
    const std::string suffix = ".tmp-" + std::to_string(::getpid()) + "-";
    constexpr std::size_t counterBytes = 10;
    const std::string stem = folder + "/." +
                             baseOf(target).substr(0, maxNameBytes - 1 - suffix.size() - counterBytes) +
                             suffix;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = stem + std::to_string(temporaryCounter.fetch_add(1));
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;   // no such folder, no permission, ...
    }
    if (fd < 0) return false;

    bool ok = writeAll(fd, content);
    // The new file keeps the old one's permissions; a new file gets the usual 0666 less umask.
    if (ok && replacing) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    if (ok && flushToDisk) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (flushToDisk) syncFolder(folder);
    return true;
}
