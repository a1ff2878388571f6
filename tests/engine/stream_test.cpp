#include "engine/FileStream.h"
#include "engine/HttpFilter.h"
#include "engine/SocketStream.h"
#include "engine/Stream.h"
#include "support/RecordingFilter.h"
#include "support/ScriptedStreams.h"
#include "support/SocketPair.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string readRest(InputStream& in) {
    std::string out;
    char buf[7];
    for (;;) {
        const std::int32_t n = in.read(buf, sizeof buf);
        if (n <= 0)
            return out;
        out.append(buf, std::size_t(n));
    }
}

std::string patterned(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = char('a' + (i * 7 + i / 251) % 26);
    return s;
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tw-stream-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string path(const char* name) const { return dir + "/" + name; }
    std::string dir;
};

} // namespace

TEST(Buffer, GrowsByAtLeastTheIncrementAndKeepsContents) {
    Buffer<char> b(4, 10);
    ASSERT_TRUE(b.append("abcd", 4));
    EXPECT_EQ(b.capacity, 4);
    ASSERT_TRUE(b.append("e", 1)); // shortfall 1 < increment: grows by 10
    EXPECT_EQ(b.capacity, 14);
    ASSERT_TRUE(b.makeRoom(0, 40)); // shortfall 26 > increment
    EXPECT_EQ(b.capacity, 40);
    ASSERT_TRUE(b.makeRoom(0, 8)); // never shrinks
    EXPECT_EQ(b.capacity, 40);
    EXPECT_EQ(std::string(b.data, std::size_t(b.length)), "abcde");
    b.consume(2);
    EXPECT_EQ(std::string(b.data, std::size_t(b.length)), "cde");

    Buffer<unsigned char> empty; // no storage until needed
    EXPECT_EQ(empty.data, nullptr);
    ASSERT_TRUE(empty.makeRoom(3, 1));
    EXPECT_GE(empty.capacity, 4);
}

TEST(Buffer, RefusesSizesBeyondThirtyTwoBits) {
    Buffer<char> b(16, 16);
    setLastError(0);
    EXPECT_FALSE(b.makeRoom(0x7FFFFFF0, 0x20));
    EXPECT_EQ(lastError(), kErrorOutOfMemory);
    EXPECT_FALSE(b.makeRoom(-1, 4));
    EXPECT_EQ(b.capacity, 16);
}

TEST(InputStreamDefaults, UnsupportedOperationsReportNotImplemented) {
    ScriptedInputStream in({"abc"});
    setLastError(0);
    EXPECT_FALSE(in.seek(0));
    EXPECT_EQ(lastError(), kErrorNotImplemented);
    EXPECT_EQ(in.size(), -1);
    EXPECT_EQ(in.position(), -1);
    EXPECT_EQ(in.available(), -1);

    CollectingOutputStream collecting;
    OutputStream& out = collecting;
    EXPECT_TRUE(out.OutputStream::flush());
    setLastError(0);
    EXPECT_FALSE(out.seek(0));
    EXPECT_EQ(lastError(), kErrorNotImplemented);
    EXPECT_EQ(out.size(), -1);
    EXPECT_EQ(out.position(), -1);
}

TEST(InputStreamDefaults, SkipReadsAndDiscards) {
    const std::string data = patterned(10000);
    struct Case {
        std::int64_t count;
        std::int64_t skipped;
    };
    for (const Case& c : {Case{0, 0}, Case{-5, 0}, Case{1, 1}, Case{4096, 4096}, Case{9999, 9999},
                          Case{10000, 10000}, Case{50000, 10000}}) {
        ScriptedInputStream in = ScriptedInputStream::inPiecesOf(data, 3000);
        EXPECT_EQ(in.skip(c.count), c.skipped) << c.count;
        EXPECT_EQ(readRest(in), data.substr(std::size_t(c.skipped))) << c.count;
    }
    // A failure on the third read fails the skip, though bytes were skipped.
    ScriptedInputStream failing({"aaaa", "bbbb"}, ECONNRESET);
    setLastError(0);
    EXPECT_EQ(failing.skip(100), -1);
    EXPECT_EQ(failing.readCalls(), 3);
    EXPECT_EQ(lastError(), std::uint32_t(ECONNRESET));
}

TEST(BufferInputStream, ReadsSkipsAndSeeksWithinTheBlock) {
    const std::string block = patterned(40);
    BufferInputStream in(block.data(), 40);
    char buf[16];
    EXPECT_EQ(in.read(buf, 10), 10);
    EXPECT_EQ(std::string(buf, 10), block.substr(0, 10));
    EXPECT_EQ(in.position(), 10);
    EXPECT_EQ(in.skip(100), 30);
    EXPECT_EQ(in.available(), 0);
    EXPECT_EQ(in.read(buf, 16), 0);
    EXPECT_EQ(in.skip(5), 0);
    EXPECT_TRUE(in.seek(40));
    EXPECT_FALSE(in.seek(41));
    EXPECT_FALSE(in.seek(-1));
    EXPECT_EQ(in.position(), 40);
    EXPECT_TRUE(in.seek(35));
    EXPECT_EQ(readRest(in), block.substr(35));
    EXPECT_EQ(in.size(), 40);
}

TEST(MemoryStream, SharesOnePositionBetweenReadAndWrite) {
    MemoryStream m;
    ASSERT_TRUE(m.write("0123456789", 10));
    EXPECT_EQ(m.read(nullptr, 4), 0); // at the end
    EXPECT_TRUE(m.seek(0));
    EXPECT_EQ(readRest(m), "0123456789");
    EXPECT_TRUE(m.seek(10));
    setLastError(0);
    EXPECT_FALSE(m.seek(11));
    EXPECT_EQ(lastError(), 0u); // no code of its own
    EXPECT_EQ(m.position(), 10);

    // The output interface answers like the input one.
    OutputStream& out = m;
    EXPECT_EQ(out.size(), 10);
    EXPECT_TRUE(out.seek(3));
    EXPECT_EQ(static_cast<InputStream&>(m).position(), 3);
    EXPECT_EQ(m.available(), 7);
}

TEST(MemoryStream, WriteInTheMiddleOverwritesAndExtends) {
    MemoryStream m;
    ASSERT_TRUE(m.write("abcd", 4));
    ASSERT_TRUE(m.seek(2));
    ASSERT_TRUE(m.write("XYZUVW", 6));
    EXPECT_EQ(m.size(), 8);
    EXPECT_EQ(std::string(m.data(), std::size_t(m.length())), "abXYZUVW");
    ASSERT_TRUE(m.seek(1));
    ASSERT_TRUE(m.write("-", 1));
    EXPECT_EQ(m.size(), 8);
    EXPECT_EQ(std::string(m.data(), 8), "a-XYZUVW");
    EXPECT_EQ(m.skip(100), 6);
    EXPECT_EQ(m.skip(1), 0);
}

TEST(MemoryStream, GrowsAcrossManySmallAndLargeWrites) {
    MemoryStream m;
    const std::string data = patterned(100000);
    for (std::size_t i = 0; i < data.size();) {
        const std::size_t n = std::min<std::size_t>(i % 5000 + 1, data.size() - i);
        ASSERT_TRUE(m.write(data.data() + i, std::int32_t(n)));
        i += n;
    }
    ASSERT_TRUE(m.seek(0));
    EXPECT_EQ(readRest(m), data);
}

using FileStreamTest = TempDir;

TEST_F(FileStreamTest, CreatesPrivateFilesAndReadsThemBack) {
    FileStream f;
    EXPECT_FALSE(f.isOpen());
    ASSERT_TRUE(f.open(path("a"), FileStream::OpenWrite | FileStream::OpenCreate));
    const std::string data = patterned(70000);
    ASSERT_TRUE(f.write(data.data(), std::int32_t(data.size())));
    EXPECT_EQ(f.size(), 70000);
    EXPECT_EQ(f.position(), 70000);
    EXPECT_TRUE(f.flush());
    struct stat st;
    ASSERT_EQ(::stat(path("a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    FileStream r;
    ASSERT_TRUE(r.open(path("a"), FileStream::OpenRead));
    EXPECT_EQ(readRest(r), data);
    EXPECT_TRUE(r.seek(100));
    char c;
    EXPECT_EQ(r.read(&c, 1), 1);
    EXPECT_EQ(c, data[100]);
    // A write through a read-only handle fails with the platform's code.
    setLastError(0);
    EXPECT_FALSE(r.write("x", 1));
    EXPECT_EQ(lastError(), std::uint32_t(EBADF));

    // Creating again truncates.
    ASSERT_TRUE(f.open(path("a"), FileStream::OpenWrite | FileStream::OpenCreate));
    EXPECT_EQ(f.size(), 0);
}

TEST_F(FileStreamTest, SkipMovesTheOffsetEvenPastTheEnd) {
    FileStream f;
    ASSERT_TRUE(
        f.open(path("s"), FileStream::OpenRead | FileStream::OpenWrite | FileStream::OpenCreate));
    const std::string data = patterned(60);
    ASSERT_TRUE(f.write(data.data(), 60));
    ASSERT_TRUE(f.seek(50));
    EXPECT_EQ(f.skip(100), 100);
    EXPECT_EQ(f.position(), 150);
    char buf[4];
    EXPECT_EQ(f.read(buf, 4), 0);
    EXPECT_EQ(static_cast<OutputStream&>(f).position(), 150);
    EXPECT_EQ(f.skip(-150), -150);
    EXPECT_EQ(f.skip(-1), -1);
    EXPECT_EQ(lastError(), std::uint32_t(EINVAL));
}

TEST_F(FileStreamTest, FailedOpenLeavesTheStreamClosed) {
    FileStream f;
    ASSERT_TRUE(f.open(path("x"), FileStream::OpenWrite | FileStream::OpenCreate));
    setLastError(0);
    EXPECT_FALSE(f.open(path("missing"), FileStream::OpenRead));
    EXPECT_EQ(lastError(), std::uint32_t(ENOENT));
    EXPECT_FALSE(f.isOpen());
    // Every operation on a closed stream fails with the platform's code.
    char c;
    EXPECT_EQ(f.read(&c, 1), -1);
    EXPECT_EQ(lastError(), std::uint32_t(EBADF));
    EXPECT_FALSE(f.write("x", 1));
    EXPECT_EQ(f.size(), -1);
    EXPECT_EQ(f.position(), -1);
    EXPECT_FALSE(f.seek(0));
    EXPECT_EQ(f.skip(1), -1);
    EXPECT_FALSE(f.flush());
    EXPECT_FALSE(f.open(path("x"), 0)); // no access asked for
}

TEST(SocketStream, MovesLargeBlocksCompletelyOverASlowPeer) {
    SocketPair pair;
    pair.shrinkBuffers(4096);
    const std::string data = patterned(3 * 1024 * 1024);
    std::string received;
    std::thread reader([&] {
        SocketStream in(pair.second);
        char buf[1000]; // small reads keep the writer waiting on a full socket
        for (;;) {
            const std::int32_t n = in.read(buf, sizeof buf);
            if (n <= 0)
                break;
            received.append(buf, std::size_t(n));
        }
    });
    SocketStream out(pair.first);
    EXPECT_TRUE(out.write(data.data(), std::int32_t(data.size())));
    EXPECT_TRUE(out.write(data.data(), 0));
    ::shutdown(pair.first, SHUT_WR);
    reader.join();
    EXPECT_EQ(received, data);
}

TEST(SocketStream, ReportsPeerCloseAndSocketErrors) {
    SocketPair pair(true);
    SocketStream s(pair.first);
    ASSERT_TRUE(writeAll(pair.second, "hi"));
    pair.closeSecond();
    char buf[8];
    EXPECT_EQ(s.read(buf, 8), 2);
    EXPECT_EQ(s.read(buf, 8), 0);
    // Writing to a closed peer fails with a code instead of killing the process.
    setLastError(0);
    bool ok = true;
    for (int i = 0; i < 100 && ok; ++i)
        ok = s.write("data", 4);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(lastError() == EPIPE || lastError() == ECONNRESET) << lastError();

    SocketStream bad(-1);
    EXPECT_EQ(bad.read(buf, 8), -1);
    EXPECT_EQ(lastError(), std::uint32_t(EBADF));
    EXPECT_FALSE(bad.write("x", 1));
}

TEST(SocketStream, BlockedReceiveFailsWhenTheOwnerShutsTheSocketDown) {
    SocketPair pair(true);
    std::int32_t result = 1;
    std::thread reader([&] {
        SocketStream s(pair.first);
        char buf[8];
        result = s.read(buf, 8);
    });
    ::shutdown(pair.first, SHUT_RDWR);
    reader.join();
    EXPECT_LE(result, 0);
}

TEST(DataOutputStream, ReportsExactlyTheDeliveredPiecesInOrder) {
    SocketPair pair;
    RecordingFilter filter;
    HttpRequestDataOutputStream request(pair.first, &filter, 7);
    HttpResponseDataOutputStream response(pair.first, &filter, 8);
    ASSERT_TRUE(request.write("abc", 3));
    ASSERT_TRUE(response.write("hello", 5));
    ASSERT_TRUE(request.write("de", 2));
    ASSERT_TRUE(request.write("", 0));
    pair.closeFirst();
    EXPECT_EQ(readAll(pair.second), "abchellode");
    EXPECT_EQ(filter.calls(),
              (std::vector<std::string>{"requestData 7 3", "responseData 8 5", "requestData 7 2"}));
    EXPECT_EQ(filter.requestBody(7), "abcde");
    EXPECT_EQ(filter.responseBody(8), "hello");
}

TEST(DataOutputStream, ReportsNothingWhenUnfollowedOrUndelivered) {
    SocketPair pair;
    RecordingFilter filter;
    HttpResponseDataOutputStream unfollowed(pair.first, &filter, -1);
    ASSERT_TRUE(unfollowed.write("abc", 3));
    EXPECT_EQ(readAll(pair.second, 3), "abc");

    pair.closeSecond();
    HttpRequestDataOutputStream request(pair.first, &filter, 1);
    HttpResponseDataOutputStream response(pair.first, &filter, 2);
    setLastError(0);
    EXPECT_FALSE(request.write("abc", 3));
    EXPECT_EQ(lastError(), std::uint32_t(EPIPE));
    EXPECT_FALSE(response.write("abc", 3));
    EXPECT_TRUE(filter.calls().empty());
}

TEST(HttpFilter, BaseAcceptsAndFollowsNothing) {
    HttpFilter base;
    HttpRequestHeader request;
    HttpResponseHeader response;
    EXPECT_EQ(base.acceptConnection(nullptr, 0), 0);
    EXPECT_EQ(base.beginRequest(0, request), -1);
    EXPECT_FALSE(base.beginResponse(1, response));
}
