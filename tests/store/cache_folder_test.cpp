#include "engine/FileStream.h"
#include "engine/Platform.h"
#include "store/CacheFolder.h"
#include "store/CaptureLock.h"
#include "support/ScopedDataHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

} // namespace

TEST(CacheFolder, FileNames) {
    CacheFolder folder;
    folder.cacheFolder = "/c/";
    EXPECT_EQ(folder.fileName(1), "/c/R0000000001.dat");
    EXPECT_EQ(folder.fileName(42), "/c/R0000000042.dat");
    EXPECT_EQ(folder.fileName(4294967294u), "/c/R4294967294.dat");

    struct Case {
        const char* name;
        bool ok;
        std::uint32_t id;
    };
    const Case cases[] = {
        {"R0000000042.dat", true, 42}, {"R4294967295.dat", true, 0xFFFFFFFF},
        {"R4294967296.dat", false, 0}, {"R000000042.dat", false, 0},
        {"r0000000042.dat", false, 0}, {"R0000000042.DAT", false, 0},
        {"R00000000x2.dat", false, 0}, {"R0000000042.dat~", false, 0},
    };
    for (const Case& c : cases) {
        std::uint32_t id = 0;
        EXPECT_EQ(CacheFolder::parseFileName(c.name, id), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(id, c.id) << c.name;
        }
    }
}

TEST(CacheFolder, PrepareCreatesEveryMissingFolderPrivately) {
    ScopedDataHome home;
    CacheFolder folder;
    ASSERT_TRUE(folder.prepareCacheFolder());
    EXPECT_EQ(folder.cacheFolder, home.cacheFolder());
    for (const char* sub : {"/Merovex", "/Merovex/Tidewell", "/Merovex/Tidewell/Cache"})
        EXPECT_EQ(modeOf(home.path() + sub), 0700u) << sub;
    // Preparing again finds the folder in place.
    ASSERT_TRUE(folder.prepareCacheFolder());
}

// Our own folder left open to others, or closed to us (captures could then be
// neither listed nor kept), is set back to the user's alone.
TEST(CacheFolder, PrepareSetsTheFolderBackToTheUsersAlone) {
    for (mode_t mode : {0755u, 0777u, 0000u, 0500u, 0300u}) {
        ScopedDataHome home;
        ASSERT_TRUE(CacheFolder::createFolder(home.cacheFolder()));
        chmod(home.cacheFolder().c_str(), mode);
        CacheFolder folder;
        ASSERT_TRUE(folder.prepareCacheFolder()) << std::oct << mode;
        EXPECT_EQ(modeOf(home.cacheFolder()), 0700u) << std::oct << mode;
    }
}

TEST(CacheFolder, DataHomeFallsBackToHome) {
    TempFolder fakeHome;
    ScopedEnv home("HOME", fakeHome.path().c_str());
    for (const char* data : {static_cast<const char*>(nullptr), "", "relative/path"}) {
        ScopedEnv env("XDG_DATA_HOME", data);
        std::string found;
        ASSERT_TRUE(CacheFolder::findCacheFolder(found));
        EXPECT_EQ(found, fakeHome.path() + "/.local/share/Merovex/Tidewell/Cache/");
    }
}

TEST(CacheFolder, PrepareFailsWhenAParentIsAFile) {
    ScopedDataHome home;
    std::ofstream(home.path() + "/Merovex") << "not a folder";
    CacheFolder folder;
    setLastError(0);
    EXPECT_FALSE(folder.prepareCacheFolder());
    EXPECT_EQ(lastError(), std::uint32_t(ENOTDIR));
    EXPECT_TRUE(folder.cacheFolder.empty());
}

TEST(CacheFolder, OpenAndDeleteCacheFiles) {
    ScopedDataHome home;
    CacheFolder folder;
    ASSERT_TRUE(folder.prepareCacheFolder());
    folder.nextId = 7;
    {
        FileStream file;
        EXPECT_EQ(folder.openCacheFile(CacheFolder::kNoId, false, file), 7);
        EXPECT_EQ(folder.nextId, 8u);
        ASSERT_TRUE(file.write("abc", 3));
    }
    EXPECT_EQ(modeOf(folder.fileName(7)), 0600u);
    {
        FileStream file;
        EXPECT_EQ(folder.openCacheFile(3, false, file), 3);
        EXPECT_EQ(folder.nextId, 8u);
    }
    {
        FileStream file;
        ASSERT_EQ(folder.openCacheFile(7, true, file), 7);
        char bytes[4];
        EXPECT_EQ(file.read(bytes, 4), 3);
        EXPECT_EQ(folder.openCacheFile(9, true, file), -1);
        EXPECT_EQ(lastError(), std::uint32_t(ENOENT));
    }
    folder.deleteCacheFile(7);
    EXPECT_FALSE(exists(folder.fileName(7)));
    EXPECT_TRUE(exists(folder.fileName(3)));
    folder.deleteCacheFile(7); // already gone: nothing happens
}

TEST(CacheFolder, ConcurrentSequenceNumbersAreDistinct) {
    CacheFolder folder;
    constexpr int kThreads = 8, kEach = 2000;
    std::vector<std::vector<std::uint32_t>> taken(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                taken[t].push_back(folder.takeSequenceNumber());
        });
    for (auto& thread : threads)
        thread.join();
    std::set<std::uint32_t> all;
    for (const auto& numbers : taken) {
        for (std::size_t i = 1; i < numbers.size(); ++i)
            EXPECT_LT(numbers[i - 1], numbers[i]);
        all.insert(numbers.begin(), numbers.end());
    }
    EXPECT_EQ(all.size(), std::size_t(kThreads * kEach));
    EXPECT_EQ(folder.nextId, std::uint32_t(kThreads * kEach + 1));
}

// One writer per folder: a second claim, from another process or from this
// one, is refused and names the holder; a holder that dies (even by SIGKILL)
// gives the folder back.
TEST(CacheFolder, OneProcessAtATimeWritesTheFolder) {
    ScopedDataHome home;
    {
        CacheFolder first;
        ASSERT_TRUE(first.prepareCacheFolder());
        CacheFolder second;
        setLastError(0);
        EXPECT_FALSE(second.prepareCacheFolder());
        EXPECT_EQ(lastError(), kErrorCacheFolderBusy);
        EXPECT_EQ(second.folderLock.holder(), int(getpid()));
        EXPECT_TRUE(second.cacheFolder.empty());
        const std::string text = cacheFolderBusyText(second.folderLock.folder(), getpid());
        EXPECT_NE(text.find(home.cacheFolder()), std::string::npos) << text;
        EXPECT_NE(text.find(std::to_string(getpid())), std::string::npos) << text;
    }

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CacheFolderLock lock;
        const char answer = lock.acquire(home.cacheFolder()) ? 'y' : 'n';
        [[maybe_unused]] auto n = write(ready[1], &answer, 1);
        pause();
        _exit(0);
    }
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    CacheFolder mine;
    EXPECT_FALSE(mine.prepareCacheFolder());
    EXPECT_EQ(lastError(), kErrorCacheFolderBusy);
    EXPECT_EQ(mine.folderLock.holder(), int(child));

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(mine.prepareCacheFolder()) << errorText(lastError());
    // The lock file is no cache file: a clear or a load never touches it.
    std::uint32_t id = 0;
    EXPECT_FALSE(CacheFolder::parseFileName(CacheFolderLock::kFileName, id));
}
