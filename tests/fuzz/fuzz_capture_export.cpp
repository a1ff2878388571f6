// A capture loaded from a damaged cache file, written as a HAR log and as a
// curl command: the log must be valid UTF-8 JSON and the command free of
// control characters, whatever bytes the file holds.
#include "engine/Stream.h"
#include "store/CacheFolder.h"
#include "store/CurlCommand.h"
#include "store/HarWriter.h"
#include "store/HttpResource.h"
#include "store/JsonWriter.h"
#include "tests/fuzz/FuzzCacheFolder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

CacheFolder* folder = nullptr;
std::string bodies;

// A JSON syntax check: one value, then nothing but white space.
class JsonCheck {
public:
    explicit JsonCheck(std::string_view text) : text_(text) {}
    bool valid() {
        space();
        if (!value(0))
            return false;
        space();
        return at_ == text_.size();
    }

private:
    bool value(int depth) {
        if (depth > 64 || at_ >= text_.size())
            return false;
        switch (text_[at_]) {
        case '{':
            return members(depth, '}', true);
        case '[':
            return members(depth, ']', false);
        case '"':
            return string();
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default:
            return number();
        }
    }
    bool members(int depth, char close, bool named) {
        ++at_;
        space();
        if (peek(close))
            return ++at_, true;
        for (;;) {
            space();
            if (named) {
                if (!string())
                    return false;
                space();
                if (!peek(':'))
                    return false;
                ++at_;
                space();
            }
            if (!value(depth + 1))
                return false;
            space();
            if (peek(close))
                return ++at_, true;
            if (!peek(','))
                return false;
            ++at_;
        }
    }
    bool string() {
        if (!peek('"'))
            return false;
        for (++at_; at_ < text_.size(); ++at_) {
            const auto c = static_cast<unsigned char>(text_[at_]);
            if (c == '"')
                return ++at_, true;
            if (c < 0x20)
                return false;
            if (c == '\\') {
                if (++at_ >= text_.size())
                    return false;
                const char e = text_[at_];
                if (e == 'u') {
                    if (at_ + 4 >= text_.size())
                        return false;
                    for (int i = 1; i <= 4; ++i)
                        if (!std::isxdigit(static_cast<unsigned char>(text_[at_ + i])))
                            return false;
                    at_ += 4;
                } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
                    return false;
                }
            }
        }
        return false;
    }
    bool number() {
        const std::size_t start = at_;
        if (peek('-'))
            ++at_;
        while (at_ < text_.size() &&
               (std::isdigit(static_cast<unsigned char>(text_[at_])) || text_[at_] == '.'))
            ++at_;
        return at_ > start && std::isdigit(static_cast<unsigned char>(text_[at_ - 1]));
    }
    bool word(std::string_view w) {
        if (text_.substr(at_, w.size()) != w)
            return false;
        at_ += w.size();
        return true;
    }
    bool peek(char c) const { return at_ < text_.size() && text_[at_] == c; }
    void space() {
        while (at_ < text_.size() &&
               std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos)
            ++at_;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    folder = newFuzzCacheFolder();
    bodies = fuzzDataHome() + "/bodies/";
    if (!CacheFolder::createFolder(bodies))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint32_t id = 1;
    if (size >= 8)
        id = std::uint32_t(data[4]) | std::uint32_t(data[5]) << 8 | std::uint32_t(data[6]) << 16 |
             std::uint32_t(data[7]) << 24;
    const std::string path = folder->fileName(id);
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    HttpResource resource(folder);
    if (resource.load(path)) {
        MemoryStream out;
        HarWriter writer(out, "0");
        writer.begin();
        writer.add(resource);
        if (!writer.end())
            std::abort();
        const std::string_view har(out.data(), std::size_t(out.length()));
        if (!isValidUtf8(har) || !JsonCheck(har).valid()) {
            std::fwrite(har.data(), 1, har.size(), stderr);
            std::abort();
        }
        CurlCommand command;
        if (buildCurlCommand(resource, bodies, command)) {
            if (!isValidUtf8(command.text))
                std::abort();
            for (char c : command.text)
                if (c != '\n' && static_cast<unsigned char>(c) < 0x20)
                    std::abort();
        }
    }
    unlink(path.c_str());
    return 0;
}
