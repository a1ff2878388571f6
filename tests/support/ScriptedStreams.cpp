#include "support/ScriptedStreams.h"

#include "engine/Platform.h"

#include <algorithm>
#include <cstring>

ScriptedInputStream::ScriptedInputStream(std::vector<std::string> pieces, std::uint32_t errorCode)
    : pieces_(std::move(pieces)), errorCode_(errorCode) {
    std::erase_if(pieces_, [](const std::string& p) { return p.empty(); });
}

ScriptedInputStream ScriptedInputStream::inPiecesOf(const std::string& text, std::size_t size,
                                                    std::uint32_t errorCode) {
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < text.size(); i += size)
        pieces.push_back(text.substr(i, size));
    return ScriptedInputStream(std::move(pieces), errorCode);
}

std::int32_t ScriptedInputStream::read(void* buffer, std::int32_t count) {
    ++readCalls_;
    if (piece_ == pieces_.size()) {
        if (errorCode_ != 0) {
            setLastError(errorCode_);
            return -1;
        }
        return 0;
    }
    const std::string& p = pieces_[piece_];
    const std::size_t n = std::min(p.size() - offset_, std::size_t(std::max(count, 0)));
    std::memcpy(buffer, p.data() + offset_, n);
    offset_ += n;
    delivered_ += n;
    if (offset_ == p.size()) {
        ++piece_;
        offset_ = 0;
    }
    return static_cast<std::int32_t>(n);
}

bool CollectingOutputStream::write(const void* data, std::int32_t count) {
    ++writes;
    if (count < 0 || text.size() + std::size_t(count) > limit_) {
        setLastError(errorCode_);
        return false;
    }
    text.append(static_cast<const char*>(data), std::size_t(count));
    return true;
}

bool CollectingOutputStream::flush() {
    ++flushes;
    return true;
}

void grind(const std::string& input,
           const std::function<void(InputStream& source, const std::string& label)>& check) {
    {
        ScriptedInputStream whole({input});
        check(whole, "whole");
    }
    for (std::size_t cut = 1; cut < input.size(); ++cut) {
        ScriptedInputStream split({input.substr(0, cut), input.substr(cut)});
        check(split, "split at " + std::to_string(cut));
    }
    ScriptedInputStream bytes = ScriptedInputStream::inPiecesOf(input, 1);
    check(bytes, "byte by byte");
}
