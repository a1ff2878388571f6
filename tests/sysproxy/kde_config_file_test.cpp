#include "sysproxy/KdeConfigFile.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

constexpr const char* kGroup = "Proxy Settings";

TEST(KdeConfigFileTest, ParsesEntryLines) {
    const struct {
        const char* line;
        bool entry;
        const char* key;
        const char* value;
    } cases[] = {
        {"httpProxy=http://proxy 8080", true, "httpProxy", "http://proxy 8080"},
        {"  NoProxyFor = localhost,.lan  ", true, "NoProxyFor", "localhost,.lan"},
        {"Proxy Config Script=file:///etc/p.pac", true, "Proxy Config Script", "file:///etc/p.pac"},
        {"key=a=b", true, "key", "a=b"},
        {"key=", true, "key", ""},
        {"key=\\sspace\\tand\\nlines\\\\", true, "key", " space\tand\nlines\\"},
        {"key=\\x41\\x4", true, "key", "A\\x4"},
        {"Name[de]=Wert", true, "Name[de]", "Wert"},
        {"httpProxy[$e]=$PROXY", true, "httpProxy[$e]", "$PROXY"},
        {"# httpProxy=commented", false, "", ""},
        {"[Proxy Settings]", false, "", ""},
        {"=value", false, "", ""},
        {"no equals sign", false, "", ""},
        {"", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string key, value;
        EXPECT_EQ(KdeConfigFile::parseEntry(c.line, key, value), c.entry);
        if (c.entry) {
            EXPECT_EQ(key, c.key);
            EXPECT_EQ(value, c.value);
        }
    }
    // What escape() writes reads back as it was.
    for (const char* value : {" lead", "trail ", "a\\b", "x\ty\nz", "plain text"}) {
        std::string key, back;
        ASSERT_TRUE(KdeConfigFile::parseEntry("k=" + KdeConfigFile::escape(value), key, back));
        EXPECT_EQ(back, value);
    }
}

TEST(KdeConfigFileTest, EditsOnlyTheLinesItIsAskedTo) {
    using Edit = std::function<void(KdeConfigFile&)>;
    const struct {
        const char* name;
        const char* before;
        Edit edit;
        const char* after;
    } cases[] = {
        {"replace in place, spacing and other groups kept",
         "# kde\n[General]\nhttpProxy=other\n\n[Proxy Settings]\nProxyType = 0\nNoProxyFor=x\n",
         [](KdeConfigFile& f) { f.setValue(kGroup, "ProxyType", "1"); },
         "# kde\n[General]\nhttpProxy=other\n\n[Proxy Settings]\nProxyType=1\nNoProxyFor=x\n"},
        {"add after the group's last entry, before blank lines",
         "[Proxy Settings]\nProxyType=1\n\n[Other]\na=b\n",
         [](KdeConfigFile& f) { f.setValue(kGroup, "httpProxy", "http://h 1"); },
         "[Proxy Settings]\nProxyType=1\nhttpProxy=http://h 1\n\n[Other]\na=b\n"},
        {"the last definition counts", "[Proxy Settings]\nProxyType=0\nProxyType=2\n",
         [](KdeConfigFile& f) { f.setValue(kGroup, "ProxyType", "1"); },
         "[Proxy Settings]\nProxyType=0\nProxyType=1\n"},
        {"a suffixed key is another key", "[Proxy Settings]\nhttpProxy[$e]=$P\n",
         [](KdeConfigFile& f) { f.setValue(kGroup, "httpProxy", "x"); },
         "[Proxy Settings]\nhttpProxy[$e]=$P\nhttpProxy=x\n"},
        {"remove every definition", "[Proxy Settings]\na=1\nProxyType=1\nb=2\nProxyType=3\n",
         [](KdeConfigFile& f) { f.removeKey(kGroup, "ProxyType"); },
         "[Proxy Settings]\na=1\nb=2\n"},
        {"only in that group", "[Other]\nProxyType=1\n[Proxy Settings]\nProxyType=1\n",
         [](KdeConfigFile& f) { f.removeKey(kGroup, "ProxyType"); },
         "[Other]\nProxyType=1\n[Proxy Settings]\n"},
        {"a new group and its removal leave the file as it was", "[Other]\na=b",
         [](KdeConfigFile& f) {
             f.setValue(kGroup, "ProxyType", "1");
             EXPECT_EQ(f.text(), "[Other]\na=b\n\n[Proxy Settings]\nProxyType=1");
             f.removeKey(kGroup, "ProxyType");
             f.removeGroupIfEmpty(kGroup);
         },
         "[Other]\na=b"},
        {"into an empty file", "", [](KdeConfigFile& f) { f.setValue(kGroup, "ProxyType", "1"); },
         "[Proxy Settings]\nProxyType=1\n"},
        {"a group with a comment is not empty", "[Proxy Settings]\n# mine\n",
         [](KdeConfigFile& f) { f.removeGroupIfEmpty(kGroup); }, "[Proxy Settings]\n# mine\n"},
        {"a line it cannot parse stays", "garbage \x01\xff\n[Proxy Settings]\n=x\n",
         [](KdeConfigFile& f) { f.setValue(kGroup, "k", "v"); },
         "garbage \x01\xff\n[Proxy Settings]\n=x\nk=v\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KdeConfigFile file(c.before);
        EXPECT_EQ(file.text(), c.before);
        c.edit(file);
        EXPECT_EQ(file.text(), c.after);
    }
}

} // namespace
