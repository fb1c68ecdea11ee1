// SPDX-License-Identifier: MIT
#include "operations/FileLock.h"

#include <cerrno>
#include <sys/file.h>

bool lockExclusive(int fd) {
    int locked;
    do locked = ::flock(fd, LOCK_EX);
    while (locked != 0 && errno == EINTR);
    return locked == 0;
}
