// SPDX-License-Identifier: MIT
#include "operations/FileWatch.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr auto kStopLook = std::chrono::milliseconds(50);

}  // namespace

FileWatch::FileWatch(std::string path, std::chrono::milliseconds settle)
    : path(std::move(path)), settle(settle) {
    const auto slash = this->path.rfind('/');
    name = slash == std::string::npos ? this->path : this->path.substr(slash + 1);
}

FileWatch::~FileWatch() {
    if (fd >= 0) ::close(fd);
}

bool FileWatch::start(std::string& error) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 || ::inotify_add_watch(fd, folder.c_str(),
                                      IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_CREATE |
                                          IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
        error = "cannot watch " + folder + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        fd = -1;
        return false;
    }
    return true;
}

bool FileWatch::fileEventWithin(std::chrono::milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (ready <= 0) return false;
    alignas(inotify_event) char buffer[4096];
    bool about = false;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && name == event->name) about = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return about;
}

bool FileWatch::waitForChange(const std::atomic<bool>& stop) {
    if (fd < 0) return false;
    while (!stop.load()) {
        if (!fileEventWithin(kStopLook)) continue;
        // Settle: every further event starts the quiet time again.
        auto quietSince = std::chrono::steady_clock::now();
        while (!stop.load()) {
            if (fileEventWithin(kStopLook)) quietSince = std::chrono::steady_clock::now();
            else if (std::chrono::steady_clock::now() - quietSince >= settle) return true;
        }
    }
    return false;
}

int watchAndRun(const std::string& path, const std::function<void()>& action,
                const std::atomic<bool>& stop, std::string& error, std::chrono::milliseconds settle) {
    FileWatch watch(path, settle);
    if (!watch.start(error)) return -1;
    int runs = 0;
    // The watch is set before the first run, so a change made during it is not missed.
    do {
        action();
        ++runs;
    } while (watch.waitForChange(stop));
    return runs;
}
