// SPDX-License-Identifier: MIT
#include "device/MemoryImage.h"
#include "tests/device/TestFiles.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What saveHex writes for a default, blank image.
const std::string kBlankHex = ":020000040000FA\r\n:104000000F000F000F000F00000000000000FF3F36\r\n:00000001FF\r\n";

MemoryImage fullImage() {
    MemoryImage image;
    image.resize(8192, 0x3FFF, 256);
    for (std::size_t i = 0; i < image.programWords.size(); ++i) image.programWords[i] = uint16_t(i & 0x3FFF);
    return image;
}

// Runs saveHex in a child whose files may not grow past limit bytes; returns its result.
bool saveWithSizeLimit(const MemoryImage& image, const std::string& path, rlim_t limit) {
    pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);   // the write then fails with EFBIG instead of killing us
        rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
        ::_exit(image.saveHex(path, true, 0x3FFF) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(SaveHex, FailedWriteLeavesTheOldFile) {
    TempFolder folder;
    const std::string path = folder.path("kept.hex");
    const std::string old = ":020000040000FA\r\nthe user's old file\r\n";
    writeText(path, old);
    ::chmod(path.c_str(), 0640);

    const MemoryImage image = fullImage();
    for (rlim_t limit : {rlim_t{0}, rlim_t{100}, rlim_t{40000}}) {
        EXPECT_FALSE(saveWithSizeLimit(image, path, limit)) << limit;
        EXPECT_EQ(readText(path), old) << limit;
        EXPECT_EQ(folder.entryCount(), 1) << "a temporary file was left behind";
    }

    // The same save without the limit replaces the file and keeps its permissions.
    EXPECT_TRUE(saveWithSizeLimit(image, path, RLIM_INFINITY));
    EXPECT_NE(readText(path), old);
    struct stat info{};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(folder.entryCount(), 1);
}

TEST(SaveHex, OnlyEverReplacesARegularFile) {
    // Only nodes inside the temporary folder: a regression must never be able to replace a
    // node the system relies on.
    TempFolder folder;
    const MemoryImage image;
    ASSERT_EQ(::mkfifo(folder.path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(folder.path("fifo").c_str(), folder.path("to-fifo").c_str()), 0);
    ASSERT_EQ(::symlink(folder.path("nowhere").c_str(), folder.path("dangling").c_str()), 0);
    // A folder and a missing folder are refused in the operations core's file tests.
    std::vector<std::string> paths = {folder.path("fifo"), folder.path("to-fifo"), folder.path("dangling"),
                                      folder.folder + "/", std::string()};
    // A character device like /dev/null, where the system lets this user make one.
    if (::mknod(folder.path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) paths.push_back(folder.path("null"));
    for (const std::string& path : paths) EXPECT_FALSE(image.saveHex(path, true, 0x3FFF)) << '"' << path << '"';
    struct stat info{};
    for (const char* node : {"fifo", "null"})
        if (::lstat(folder.path(node).c_str(), &info) == 0) {
            EXPECT_FALSE(S_ISREG(info.st_mode)) << node;
        }
    const long nodes = folder.entryCount();
    EXPECT_EQ(nodes, paths.size() == 6 ? 4 : 3);

    // Through a link to a regular file: the file is replaced and the link stays a link.
    writeText(folder.path("real.hex"), "old");
    ASSERT_EQ(::symlink("real.hex", folder.path("link.hex").c_str()), 0);
    ASSERT_TRUE(image.saveHex(folder.path("link.hex"), true, 0x3FFF));
    ASSERT_EQ(::lstat(folder.path("link.hex").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(readText(folder.path("real.hex")), kBlankHex);
    EXPECT_EQ(folder.entryCount(), nodes + 2);

    // A name of the longest length a folder entry may have still gets its temporary file.
    const std::string longest = folder.path(std::string(251, 'n') + ".hex");
    EXPECT_TRUE(image.saveHex(longest, true, 0x3FFF));
    EXPECT_EQ(readText(longest), kBlankHex);
    EXPECT_EQ(folder.entryCount(), nodes + 3);
}

}  // namespace
