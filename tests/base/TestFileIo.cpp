#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include "base/FileIo.h"
#include "tests/TempDir.h"

TEST(FileIo, WritesReplacesAndLeavesNoTemporaryFile) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string path = dir.File("a.bin");

    std::string error;
    ASSERT_TRUE(WriteFileAtomic(path, std::string("first"), &error)) << error;
    ASSERT_TRUE(WriteFileAtomic(path, std::string("second, longer"), &error)) << error;
    EXPECT_EQ(dir.Read("a.bin"), "second, longer");
    ASSERT_TRUE(WriteFileAtomic(path, nullptr, 0, &error)) << error;
    EXPECT_EQ(dir.Read("a.bin"), "");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"a.bin"});

    // An existing file keeps its permissions.
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomic(path, std::string("x")));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(FileIo, FailedWriteKeepsTheOldFile) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string path = dir.File("config.bin");
    dir.Write("config.bin", "old content");

    // The disk "fills up" in the middle of the write.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string big(100000, 'x');
    std::string error;
    bool ok = WriteFileAtomic(path, big, &error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("config.bin"), std::string::npos) << error;
    EXPECT_EQ(dir.Read("config.bin"), "old content");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"config.bin"});
}

TEST(FileIo, WriteErrors) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    dir.Write("file", "x");
    ASSERT_EQ(::mkdir(dir.File("folder").c_str(), 0755), 0);

    const std::string paths[] = {dir.File("missing/a.bin"), dir.File("file/a.bin"),
                                 dir.File("folder"), dir.File("folder/"), ""};
    for (const auto& p : paths) {
        std::string error;
        EXPECT_FALSE(WriteFileAtomic(p, std::string("data"), &error)) << p;
        EXPECT_FALSE(error.empty()) << p;
    }
    EXPECT_EQ(dir.Read("file"), "x");
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("folder")));
    EXPECT_EQ(dir.Entries().size(), 2u);
}

TEST(FileIo, ThroughSymbolicLinkAndFifo) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    dir.Write("target", "old");
    ASSERT_EQ(::symlink(dir.File("target").c_str(), dir.File("link").c_str()), 0);
    ASSERT_TRUE(WriteFileAtomic(dir.File("link"), std::string("new")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link")));
    EXPECT_EQ(dir.Read("target"), "new");

    // A FIFO in place of a file is refused at once, not waited on.
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    std::vector<uint8_t> data;
    std::string error;
    EXPECT_FALSE(ReadWholeFile(dir.File("fifo"), data, 100, &error));
    EXPECT_FALSE(error.empty());
}

TEST(FileIo, ReadWholeFile) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    dir.Write("f", std::string("ab\0cd", 5));
    std::vector<uint8_t> data;
    std::string error;
    ASSERT_TRUE(ReadWholeFile(dir.File("f"), data, 5, &error)) << error;
    EXPECT_EQ(data, (std::vector<uint8_t>{'a', 'b', 0, 'c', 'd'}));

    std::string text = "stale";
    ASSERT_TRUE(ReadWholeFile(dir.File("f"), text, 100));
    EXPECT_EQ(text, std::string("ab\0cd", 5));

    struct {
        std::string path;
        size_t max;
    } failures[] = {{dir.File("f"), 4}, {dir.File("none"), 100}, {dir.Path(), 100}};
    for (const auto& f : failures) {
        data = {1, 2, 3};
        error.clear();
        EXPECT_FALSE(ReadWholeFile(f.path, data, f.max, &error)) << f.path;
        EXPECT_TRUE(data.empty());
        EXPECT_FALSE(error.empty());
    }
}
