#include "engine/Platform.h"
#include "support/ScopedDataHome.h"
#include "sysproxy/SettingsFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::string_literals;

namespace {

using Type = SettingsFile::Type;
using Value = SettingsFile::Value;

const std::string kKey = "Software\\Merovex\\Tidewell\\Settings";

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void spit(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class SettingsFileTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::string path = folder.path() + "/Merovex/Tidewell.conf";
    SettingsFile file{path};
};

TEST_F(SettingsFileTest, EveryValueRoundTripsThroughTheText) {
    std::string allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes += static_cast<char>(i);
    const std::vector<Value> values = {
        {"", Type::dword, 1, {}},
        {"Max", Type::dword, 0xFFFFFFFFu, {}},
        {"Zero", Type::dword, 0, {}},
        {"Text", Type::string, 0, "line 1\nline 2\r\n\ttab \"quoted\" back\\slash"},
        {"Controls", Type::string, 0, std::string("nul\0bell\a del\x7f", 14)},
        {"Unicode", Type::string, 0, "代理设置 ☃"},
        {"Looks like syntax", Type::string, 0, "[Section]\n\"x\"=dword:1\n@=hex:00"},
        {"Empty", Type::string, 0, ""},
        {"Blob", Type::binary, 0, allBytes},
        {"EmptyBlob", Type::binary, 0, ""},
        {"name = with \"quotes\"\n and a newline", Type::string, 0, "v"},
    };
    ASSERT_TRUE(file.writeValues(kKey, values));
    ASSERT_TRUE(file.writeString("Software\\Merovex", "UserID", "0123abcd"));

    std::vector<Value> back;
    ASSERT_TRUE(SettingsFile(path).listValues(kKey, back));
    ASSERT_EQ(back.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(values[i].name);
        EXPECT_EQ(back[i].name, values[i].name);
        EXPECT_EQ(back[i].type, values[i].type);
        EXPECT_EQ(back[i].dword, values[i].dword);
        EXPECT_EQ(back[i].data, values[i].data);
    }
    // One line per value: nothing a value holds may start a line of its own.
    const std::string text = slurp(path);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 1 + 11 + 1); // headers, gap, values
}

TEST_F(SettingsFileTest, TypedReadsAndNamesIgnoreCase) {
    ASSERT_TRUE(file.writeDword(kKey, "Disable Agent Cache", 1));
    ASSERT_TRUE(file.writeString(kKey, "Look", "dark"));

    std::uint32_t dword = 0;
    std::string text;
    EXPECT_TRUE(
        file.readDword("software\\merovex\\TIDEWELL\\settings", "disable agent cache", dword));
    EXPECT_EQ(dword, 1u);
    EXPECT_FALSE(file.readString(kKey, "Disable Agent Cache", text));
    EXPECT_EQ(lastError(), kErrorInvalidData);
    EXPECT_FALSE(file.readDword(kKey, "Missing", dword));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ENOENT));
    EXPECT_FALSE(file.readBinary("Software\\Nowhere", "Look", text));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ENOENT));

    // Rewriting under another case and type replaces the value in place.
    ASSERT_TRUE(file.writeBinary(kKey, "DISABLE AGENT CACHE", "\x01"));
    std::vector<Value> values;
    ASSERT_TRUE(file.listValues(kKey, values));
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].type, Type::binary);
    EXPECT_EQ(values[1].name, "Look");
}

TEST_F(SettingsFileTest, CreatesAPrivateFileAndFolder) {
    std::string text;
    EXPECT_FALSE(file.readString(kKey, "Look", text));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ENOENT));
    EXPECT_FALSE(file.keyExists(kKey));

    ASSERT_TRUE(file.writeString(kKey, "Look", "dark"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((folder.path() + "/Merovex").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(file.keyExists(kKey));
}

TEST_F(SettingsFileTest, DeletesValuesAndWholeSubtrees) {
    const std::string backup = "Software\\Merovex\\Tidewell\\Backup\\Proxy";
    ASSERT_TRUE(file.writeDword(backup, "", 1));
    ASSERT_TRUE(file.writeDword(kKey, "A", 1));
    ASSERT_TRUE(file.writeDword(kKey, "B", 2));
    ASSERT_TRUE(file.writeDword("Software\\Merovex\\TidewellOther", "C", 3));
    ASSERT_TRUE(file.writeString("Software\\Merovex", "UserID", "id"));

    EXPECT_TRUE(file.deleteValue(kKey, "a"));
    EXPECT_FALSE(file.deleteValue(kKey, "a"));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ENOENT));
    std::vector<Value> values;
    ASSERT_TRUE(file.listValues(kKey, values));
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "B");

    EXPECT_TRUE(file.deleteKey("Software\\Merovex\\Tidewell"));
    EXPECT_FALSE(file.keyExists(kKey));
    EXPECT_FALSE(file.keyExists(backup));
    EXPECT_TRUE(file.keyExists("Software\\Merovex\\TidewellOther"));
    EXPECT_TRUE(file.keyExists("Software\\Merovex"));
    EXPECT_FALSE(file.deleteKey("Software\\Merovex\\Tidewell"));
    EXPECT_EQ(lastError(), static_cast<std::uint32_t>(ENOENT));
}

TEST_F(SettingsFileTest, RejectsKeysThatCannotBeStored) {
    for (const std::string key : {"", "Bad\nKey", " Padded", "Tab\tKey"}) {
        EXPECT_FALSE(file.writeDword(key, "x", 1)) << key;
        EXPECT_EQ(lastError(), static_cast<std::uint32_t>(EINVAL));
    }
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST_F(SettingsFileTest, DamagedLinesAreKeptAndTheRestStillWorks) {
    ASSERT_TRUE(file.writeString(kKey, "Look", "dark"));
    spit(path, "garbage before any section\n"
               "[Software\\Merovex]\n"
               "\"UserID\"=\"abc\"\n"
               "\"Broken\"=\"unterminated\n"
               "\"BadNumber\"=dword:99999999999\n"
               "\"BadHex\"=hex:0g\n"
               "; a comment\n"
               "stray carriage returns\r\r\n"
               "binary\0junk\xff\n"
               "[Software\\Merovex\\Tidewell\\Settings]\r\n"
               "\"Look\"=\"light\""s); // no final newline

    std::string text;
    EXPECT_TRUE(file.readString("Software\\Merovex", "UserID", text));
    EXPECT_EQ(text, "abc");
    EXPECT_TRUE(file.readString(kKey, "Look", text));
    EXPECT_EQ(text, "light");
    std::uint32_t dword = 0;
    EXPECT_FALSE(file.readDword("Software\\Merovex", "BadNumber", dword));
    EXPECT_FALSE(file.readString("Software\\Merovex", "Broken", text));

    ASSERT_TRUE(file.writeDword(kKey, "New", 7));
    ASSERT_TRUE(file.writeDword(kKey, "New", 8)); // kept through every rewrite
    const std::string after = slurp(path);
    for (const char* kept : {"garbage before any section\n", "\"Broken\"=\"unterminated\n",
                             "\"BadNumber\"=dword:99999999999\n", "\"BadHex\"=hex:0g\n",
                             "; a comment\n", "stray carriage returns\r\r\n"})
        EXPECT_NE(after.find(kept), std::string::npos) << kept;
    EXPECT_NE(after.find("binary\0junk\xff\n"s), std::string::npos);
    EXPECT_TRUE(file.readString("Software\\Merovex", "UserID", text));
    EXPECT_TRUE(file.readDword(kKey, "New", dword));
}

TEST_F(SettingsFileTest, AFileThatCannotBeReadIsNeverOverwritten) {
    ASSERT_EQ(::mkdir((folder.path() + "/Merovex").c_str(), 0700), 0);
    struct Case {
        const char* what;
        int (*make)(const char*);
        bool (*isKind)(mode_t);
    };
    const Case cases[] = {
        {"a folder", [](const char* p) { return ::mkdir(p, 0700); },
         [](mode_t m) { return S_ISDIR(m); }},
        {"a FIFO", [](const char* p) { return ::mkfifo(p, 0600); },
         [](mode_t m) { return S_ISFIFO(m); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.make(path.c_str()), 0); // in the file's place
        // Reading must not wait for a writer that never comes.
        auto reading = std::async(std::launch::async, [this] {
            std::string text;
            const bool read = file.readString(kKey, "Look", text);
            return std::make_pair(read, lastError());
        });
        if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "reading waits";
            ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK)); // release it
        }
        const auto [read, error] = reading.get();
        EXPECT_FALSE(read);
        EXPECT_NE(error, static_cast<std::uint32_t>(ENOENT));
        EXPECT_FALSE(file.writeString(kKey, "Look", "dark"));
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(c.isKind(st.st_mode));
        ::remove(path.c_str());
    }
}

TEST_F(SettingsFileTest, ConcurrentWritersFromThreadsAndProcessesLoseNothing) {
    constexpr int kEach = 40;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SettingsFile mine(path);
        bool ok = true;
        for (int i = 0; i < kEach; ++i)
            ok = mine.writeDword(kKey, "process " + std::to_string(i), i) && ok;
        ::_exit(ok ? 0 : 1);
    }
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                if (!file.writeDword(kKey, "thread " + std::to_string(t) + " " + std::to_string(i),
                                     i))
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(failures, 0);
    std::vector<Value> values;
    ASSERT_TRUE(file.listValues(kKey, values));
    EXPECT_EQ(values.size(), 3u * kEach);
}

TEST(SettingsFilePath, FollowsTheUsersConfigFolder) {
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/somewhere/config/");
        EXPECT_EQ(SettingsFile::defaultPath(), "/somewhere/config/Merovex/Tidewell.conf");
    }
    ScopedEnv home("HOME", "/home/someone");
    for (const char* config : {static_cast<const char*>(nullptr), "", "relative/path"}) {
        ScopedEnv unset("XDG_CONFIG_HOME", config);
        EXPECT_EQ(SettingsFile::defaultPath(), "/home/someone/.config/Merovex/Tidewell.conf");
    }
}

} // namespace
