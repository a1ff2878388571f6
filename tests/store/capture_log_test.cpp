#include "StoreTestKit.h"

#include "engine/Platform.h"
#include "store/CacheFolder.h"
#include "store/CaptureLog.h"
#include "store/CaptureRuns.h"
#include "support/ScopedDataHome.h"
#include "support/SmallDisk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Read {
    std::vector<std::string> images;
    std::vector<std::int64_t> offsets;
    std::vector<std::int64_t> times;
    std::size_t damaged = 0;
    bool ok = false;
};

Read readLog(const std::string& path) {
    Read read;
    read.ok = CaptureLog::read(
        path,
        [&](const CaptureLog::Frame& frame) {
            read.images.emplace_back(frame.image, frame.length);
            read.offsets.push_back(frame.offset);
            read.times.push_back(frame.time);
        },
        read.damaged);
    return read;
}

std::string image(char c, std::size_t size) {
    return std::string(size, c);
}

struct CaptureLogTest : ::testing::Test {
    // Three frames: "a" x 100, "b" x 3000, "c" x 50.
    void writeThree() {
        CaptureLog log;
        ASSERT_TRUE(log.create(path));
        for (const std::string& bytes : {image('a', 100), image('b', 3000), image('c', 50)})
            offsets.push_back(log.append(bytes.data(), std::uint32_t(bytes.size()), 7));
    }

    ScopedDataHome home;
    std::string path = home.path() + "/capture.log";
    std::vector<std::int64_t> offsets;
};

// Waits until `path` no longer exists, watching its folder; false after the
// deadline.
bool waitUntilGone(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path();
    const int watch = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(watch, folder.c_str(), IN_DELETE | IN_MOVED_FROM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool gone;
    while (!(gone = !std::filesystem::exists(path)) &&
           std::chrono::steady_clock::now() < deadline) {
        pollfd fd{watch, POLLIN, 0};
        if (poll(&fd, 1, 1000) > 0) {
            char events[4096];
            [[maybe_unused]] auto n = read(watch, events, sizeof events);
        }
    }
    close(watch);
    return gone;
}

} // namespace

TEST_F(CaptureLogTest, FramesReadBackWhereAppendSaidTheyAre) {
    CaptureLog log;
    ASSERT_TRUE(log.create(path));
    EXPECT_FALSE(CaptureLog().create(path)); // never appended into another's log
    const std::string images[] = {image('a', 10), "", image('b', 16384)};
    std::int64_t time = 1700000000000000;
    std::vector<std::int64_t> offsets;
    for (const std::string& bytes : images)
        offsets.push_back(log.append(bytes.data(), std::uint32_t(bytes.size()), time++));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const Read read = readLog(path);
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.damaged, 0u);
    ASSERT_EQ(read.images, std::vector<std::string>(std::begin(images), std::end(images)));
    EXPECT_EQ(read.offsets, offsets);
    EXPECT_EQ(read.times,
              (std::vector<std::int64_t>{1700000000000000, 1700000000000001, 1700000000000002}));
    EXPECT_EQ(CaptureLog::frameTime(path, offsets[2]), 1700000000000002);
    EXPECT_EQ(CaptureLog::frameTime(path, offsets[2] + 1), 0); // not where a frame starts

    // One image read through its own stream sees that image only.
    auto stream = CaptureLogImage::open(path, offsets[2]);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->size(), 16384);
    ASSERT_TRUE(stream->seek(16380));
    char bytes[16];
    EXPECT_EQ(stream->read(bytes, sizeof bytes), 4);
    EXPECT_EQ(stream->read(bytes, sizeof bytes), 0);
    EXPECT_FALSE(stream->seek(16385));
    EXPECT_FALSE(CaptureLogImage::open(path, offsets[1] + 3));
    EXPECT_EQ(lastError(), kErrorInvalidData);
}

// A log is read by whatever ended its writer: frames that fail their checks
// are skipped and counted, and a frame cut off at the end is a write that
// never completed, not damage.
TEST_F(CaptureLogTest, DamageIsSkippedAndCountedAndACutOffEndIsNot) {
    writeThree();
    const std::string whole = readFile(path);
    const std::size_t second = std::size_t(offsets[1] - CaptureLog::kFrameHeaderSize);
    const std::size_t third = std::size_t(offsets[2] - CaptureLog::kFrameHeaderSize);
    const auto with = [&](std::size_t at, const std::string& bytes) {
        std::string damaged = whole;
        damaged.replace(at, bytes.size(), bytes);
        return damaged;
    };
    struct Case {
        const char* label;
        std::string bytes;
        std::string expected; // first letters of the images read
        std::size_t damaged;
    };
    const Case cases[] = {
        {"whole", whole, "abc", 0},
        {"empty", "", "", 0},
        {"cut in the last image", whole.substr(0, whole.size() - 1), "ab", 0},
        {"cut in the last frame's header", whole.substr(0, third + 5), "ab", 0},
        {"a byte of an image changed", with(std::size_t(offsets[1]) + 1000, "X"), "ac", 1},
        // A length that reaches past the end looks like a cut-off frame; the
        // frame after it shows it is not.
        {"a length changed", with(second + 6, "\x7f"), "ac", 1},
        {"a header zeroed", with(second, std::string(24, '\0')), "ac", 1},
        {"garbage after the end", whole + std::string(40, 'g'), "abc", 1},
        {"garbage before the start", "junk" + whole, "abc", 1},
    };
    for (const Case& c : cases) {
        writeFile(path, c.bytes);
        const Read read = readLog(path);
        EXPECT_TRUE(read.ok) << c.label;
        std::string firsts;
        for (const std::string& bytes : read.images)
            firsts += bytes.empty() ? '-' : bytes[0];
        EXPECT_EQ(firsts, c.expected) << c.label;
        EXPECT_EQ(read.damaged, c.damaged) << c.label;
    }
    std::size_t damaged = 0;
    EXPECT_FALSE(CaptureLog::read(
        home.path() + "/missing.log", [](auto&) {}, damaged));
    EXPECT_EQ(lastError(), std::uint32_t(ENOENT));
}

// A full disk refuses a frame whole: the log ends where it did, and once
// there is room again the next frame follows the last good one.
TEST_F(CaptureLogTest, AFrameThatDoesNotFitLeavesNoTrace) {
    SmallDisk disk(256 * 1024);
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a small disk needs root";
    const std::string log = disk.path() + "/capture.log";
    const std::string filler = disk.path() + "/filler";
    CaptureLog writer;
    ASSERT_TRUE(writer.create(log));
    ASSERT_GT(writer.append("first", 5, 1), 0);
    writeFile(filler, std::string(200 * 1024, 'f'));
    const std::string big = image('x', 100 * 1024);
    EXPECT_EQ(writer.append(big.data(), std::uint32_t(big.size()), 2), -1);
    EXPECT_EQ(lastError(), std::uint32_t(ENOSPC));
    EXPECT_EQ(std::filesystem::file_size(log), std::uintmax_t(CaptureLog::kFrameHeaderSize + 5));
    ASSERT_EQ(unlink(filler.c_str()), 0);
    ASSERT_GT(writer.append(big.data(), std::uint32_t(big.size()), 3), 0);
    const Read read = readLog(log);
    EXPECT_EQ(read.damaged, 0u);
    EXPECT_EQ(read.images, (std::vector<std::string>{"first", big}));
}

// Deleting a run moves its folder away in one step and empties it in the
// background; captures written after that go to a new run, which nothing of
// the old one's deleting reaches. A deleting folder an earlier process left
// is emptied at the next start.
TEST_F(CaptureLogTest, DeletingARunNeverReachesANewerOne) {
    CacheFolder folder;
    ASSERT_TRUE(folder.prepareCacheFolder());
    const std::string leftover = folder.cacheFolder + CaptureRuns::kDeletingPrefix + "old";
    ASSERT_EQ(mkdir(leftover.c_str(), 0700), 0);
    writeFile(leftover + "/R0000000001.dat", "gone");

    const CaptureRun* first = nullptr;
    ASSERT_GT(folder.runs.append(
                  5, "five", 4, 1, [] { return true; }, first),
              0);
    const std::string firstFolder = first->folder;
    bool took = false;
    folder.runs.clear([&] { took = true; });
    EXPECT_TRUE(took);
    EXPECT_FALSE(std::filesystem::exists(firstFolder));

    const CaptureRun* second = nullptr;
    ASSERT_GT(folder.runs.append(
                  6, "six", 3, 1, [] { return true; }, second),
              0);
    ASSERT_NE(second->folder, firstFolder);
    folder.runs.emptyLeftovers();
    ASSERT_TRUE(waitUntilGone(leftover));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.cacheFolder))
        names.push_back(entry.path().filename());
    // What the first run's deleting has not yet reached may still be there.
    std::erase_if(names, CaptureRuns::isDeletingFolderName);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{
                         CacheFolderLock::kFileName,
                         std::filesystem::path(second->folder.substr(0, second->folder.size() - 1))
                             .filename()}));
    EXPECT_EQ(readLog(second->logPath()).images, std::vector<std::string>{"six"});
}
