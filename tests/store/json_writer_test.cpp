// The JSON writer under the HAR export: text and base64 written in pieces cut
// at every offset give the text written whole, any bytes give valid JSON, and
// numbers do not depend on the locale.
#include "store/JsonWriter.h"

#include "engine/Platform.h"
#include "engine/Stream.h"

#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <string>

namespace {

std::string written(const std::function<void(JsonWriter&)>& steps) {
    MemoryStream out;
    JsonWriter json(out);
    steps(json);
    EXPECT_TRUE(json.finish());
    return std::string(out.data(), std::size_t(out.length()));
}

// A string value written in two pieces cut at `cut`.
std::string inTwo(const std::string& bytes, std::size_t cut, bool base64) {
    return written([&](JsonWriter& json) {
        json.beginString();
        for (std::string_view piece :
             {std::string_view(bytes).substr(0, cut), std::string_view(bytes).substr(cut)}) {
            if (base64)
                json.base64Part(piece);
            else
                json.stringPart(piece);
        }
        json.endString();
    });
}

struct TextCase {
    const char* label;
    std::string bytes;
    std::string json;
};

} // namespace

TEST(JsonWriterTest, StringsAreEscapedAndStayValidWhereverCut) {
    const std::string R = "\xEF\xBF\xBD"; // U+FFFD
    const TextCase cases[] = {
        {"plain", "abc", "\"abc\""},
        {"escapes", "q\"b\\n\nr\rt\t\x01\x1f\x7f", "\"q\\\"b\\\\n\\nr\\rt\\t\\u0001\\u001f\x7f\""},
        {"nul", std::string("a\0b", 3), "\"a\\u0000b\""},
        {"utf-8", "\xE4\xB8\xAD\xF0\x9F\x98\x80\xC3\xA9",
         "\"\xE4\xB8\xAD\xF0\x9F\x98\x80\xC3\xA9\""},
        // Not UTF-8: each byte that starts no whole sequence becomes U+FFFD;
        // a good sequence right after a bad lead byte survives.
        {"invalid", "a\xE9z\xE4\xE4\xB8\xAD\xC0\x80\xED\xA0\x80\xF4\x90\x80\x80",
         "\"a" + R + "z" + R + "\xE4\xB8\xAD" + R + R + R + R + R + R + R + R + R + "\""},
        {"cut at the end", "ok\xE4\xB8", "\"ok" + R + R + "\""},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(written([&](JsonWriter& json) { json.string(c.bytes); }), c.json) << c.label;
        for (std::size_t cut = 0; cut <= c.bytes.size(); ++cut)
            EXPECT_EQ(inTwo(c.bytes, cut, false), c.json) << c.label << " cut at " << cut;
    }
}

TEST(JsonWriterTest, Base64WhereverCut) {
    const TextCase cases[] = {
        {"empty", "", "\"\""},
        {"one", "f", "\"Zg==\""},
        {"two", "fo", "\"Zm8=\""},
        {"three", "foo", "\"Zm9v\""},
        {"bytes", std::string("\0\xFF\xFE\x80\x7F", 5) + "foobar", "\"AP/+gH9mb29iYXI=\""},
    };
    for (const TextCase& c : cases)
        for (std::size_t cut = 0; cut <= c.bytes.size(); ++cut)
            EXPECT_EQ(inTwo(c.bytes, cut, true), c.json) << c.label << " cut at " << cut;
}

TEST(JsonWriterTest, Utf8ValidatorAgreesWhereverCut) {
    const std::string samples[] = {
        "abc",
        "\xE4\xB8\xAD\xF0\x9F\x98\x80",
        "\xE4\xB8",
        "a\xE9",
        "\xC0\x80",
        "\xED\xA0\x80",
        "\xF4\x90\x80\x80",
        "\xE4\xE4\xB8\xAD",
    };
    for (const std::string& s : samples) {
        for (std::size_t cut = 0; cut <= s.size(); ++cut) {
            Utf8Validator v;
            v.feed(std::string_view(s).substr(0, cut));
            v.feed(std::string_view(s).substr(cut));
            EXPECT_EQ(v.valid(), isValidUtf8(s)) << testing::PrintToString(s) << " cut " << cut;
        }
    }
    EXPECT_EQ(latin1ToUtf8("caf\xE9\x80"), "caf\xC3\xA9\xC2\x80");
}

TEST(JsonWriterTest, StructureAndNumbers) {
    // A locale with a decimal comma must not reach the output.
    const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const std::string text = written([](JsonWriter& json) {
        json.beginObject();
        json.key("a");
        json.beginArray();
        json.decimal(12500);
        json.decimal(-1000);
        json.decimal(7);
        json.decimal(0);
        json.decimal(INT64_MIN);
        json.endArray();
        json.key("o");
        json.beginObject();
        json.endObject();
        json.key("n");
        json.number(std::int64_t(-42));
        json.key("b");
        json.boolean(true);
        json.key("z");
        json.null();
        json.endObject();
    });
    if (german)
        std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(text, "{\"a\":[12.5,-1,0.007,0,-9223372036854775.808],\"o\":{},\"n\":-42,\"b\":true,"
                    "\"z\":null}");
}

TEST(JsonWriterTest, AFailedWriteSticks) {
    // Accepts 10 bytes, then fails.
    struct Full : OutputStream {
        std::size_t room = 10;
        bool write(const void*, std::int32_t count) override {
            if (std::size_t(count) > room) {
                setLastError(ENOSPC);
                return false;
            }
            room -= std::size_t(count);
            return true;
        }
    } full;
    JsonWriter json(full);
    json.beginArray();
    for (int i = 0; i < 20000; ++i)
        json.string("some text to fill the buffer");
    EXPECT_TRUE(json.failed());
    json.endArray();
    EXPECT_FALSE(json.finish());
    EXPECT_EQ(lastError(), std::uint32_t(ENOSPC));
}
