#include "store/JsonWriter.h"

#include "engine/Platform.h"

#include <cstdio>

namespace {

constexpr std::size_t kFlushAt = 1 << 16;
constexpr char kReplacement[] = "\xEF\xBF\xBD";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// What a lead byte asks for: the length of its sequence (0 for a byte that
// cannot start one) and the range of the byte after it, which rules out
// overlong forms, surrogates and values past U+10FFFF.
struct Lead {
    std::size_t need = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
};

Lead leadOf(unsigned char b0) {
    Lead lead;
    if (b0 < 0x80) {
        lead.need = 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        lead.need = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        lead.need = 3;
        lead.lo = b0 == 0xE0 ? 0xA0 : 0x80;
        lead.hi = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        lead.need = 4;
        lead.lo = b0 == 0xF0 ? 0x90 : 0x80;
        lead.hi = b0 == 0xF4 ? 0x8F : 0xBF;
    }
    return lead;
}

// How many bytes at the start of `bytes` agree with a sequence, at most the
// sequence's length.
std::size_t agreeing(std::string_view bytes, const Lead& lead) {
    std::size_t n = 1;
    while (n < lead.need && n < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[n]);
        if (b < (n == 1 ? lead.lo : 0x80) || b > (n == 1 ? lead.hi : 0xBF))
            break;
        ++n;
    }
    return n;
}

// `bytes` is the start of a sequence cut short: more bytes could make it whole.
bool couldContinue(std::string_view bytes) {
    if (bytes.empty())
        return false;
    const Lead lead = leadOf(static_cast<unsigned char>(bytes[0]));
    return lead.need > bytes.size() && agreeing(bytes, lead) == bytes.size();
}

} // namespace

std::size_t utf8SequenceLength(std::string_view bytes) {
    if (bytes.empty())
        return 0;
    const Lead lead = leadOf(static_cast<unsigned char>(bytes[0]));
    if (lead.need == 0 || bytes.size() < lead.need)
        return 0;
    return agreeing(bytes, lead) == lead.need ? lead.need : 0;
}

bool isValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t n = utf8SequenceLength(bytes);
        if (n == 0)
            return false;
        bytes.remove_prefix(n);
    }
    return true;
}

std::int32_t hiddenControl(std::string_view bytes, std::size_t& length) {
    length = utf8SequenceLength(bytes);
    std::int32_t code = -1;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (length == 1)
        code = byte(0);
    else if (length == 2)
        code = (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
    else if (length == 3)
        code = (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    const bool hidden = (code >= 0 && code < 0x20) || (code >= 0x7F && code <= 0x9F) ||
                        (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
    return hidden ? code : -1;
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

void Utf8Validator::feed(std::string_view piece) {
    if (!valid_)
        return;
    if (!pending_.empty()) {
        // Complete the cut sequence with bytes of this piece.
        while (!piece.empty() && pending_.size() < 4 && utf8SequenceLength(pending_) == 0) {
            pending_ += piece.front();
            piece.remove_prefix(1);
            if (utf8SequenceLength(pending_) == 0 && !couldContinue(pending_)) {
                valid_ = false;
                return;
            }
        }
        if (utf8SequenceLength(pending_) == 0)
            return; // the piece ended first
        pending_.clear();
    }
    while (!piece.empty()) {
        // ASCII runs are by far the most common.
        if (static_cast<unsigned char>(piece.front()) < 0x80) {
            piece.remove_prefix(1);
            continue;
        }
        const std::size_t n = utf8SequenceLength(piece);
        if (n > 0) {
            piece.remove_prefix(n);
            continue;
        }
        if (piece.size() < 4 && couldContinue(piece)) {
            pending_.assign(piece);
            return;
        }
        valid_ = false;
        return;
    }
}

JsonWriter::JsonWriter(OutputStream& out) : out_(out) {
    buffer_.reserve(kFlushAt + 1024);
}

JsonWriter::~JsonWriter() = default;

void JsonWriter::drain() {
    if (failed_) {
        buffer_.clear();
        return;
    }
    std::string_view rest = buffer_;
    while (!rest.empty()) {
        const auto piece = static_cast<std::int32_t>(std::min<std::size_t>(rest.size(), 1 << 30));
        if (!out_.write(rest.data(), piece)) {
            failed_ = true;
            error_ = lastError();
            break;
        }
        rest.remove_prefix(std::size_t(piece));
    }
    buffer_.clear();
}

void JsonWriter::put(std::string_view bytes) {
    if (failed_)
        return;
    buffer_.append(bytes);
    if (buffer_.size() >= kFlushAt)
        drain();
}

void JsonWriter::separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!open_.empty()) {
        if (open_.back())
            put(",");
        open_.back() = true;
    }
}

void JsonWriter::beginObject() {
    separate();
    put("{");
    open_.push_back(false);
}

void JsonWriter::endObject() {
    open_.pop_back();
    put("}");
}

void JsonWriter::beginArray() {
    separate();
    put("[");
    open_.push_back(false);
}

void JsonWriter::endArray() {
    open_.pop_back();
    put("]");
}

void JsonWriter::key(std::string_view name) {
    separate();
    put("\"");
    putEscaped(name);
    put("\":");
    afterKey_ = true;
}

void JsonWriter::string(std::string_view text) {
    beginString();
    stringPart(text);
    endString();
}

void JsonWriter::number(std::int64_t value) {
    separate();
    put(std::to_string(value));
}

void JsonWriter::decimal(std::int64_t thousandths) {
    separate();
    std::string text = thousandths < 0 ? "-" : "";
    // Magnitude without overflow for the most negative value.
    const std::uint64_t magnitude =
        thousandths < 0 ? 0 - static_cast<std::uint64_t>(thousandths) : std::uint64_t(thousandths);
    text += std::to_string(magnitude / 1000);
    if (std::uint64_t fraction = magnitude % 1000) {
        std::string digits = std::to_string(fraction);
        digits.insert(0, 3 - digits.size(), '0');
        while (digits.back() == '0')
            digits.pop_back();
        text += '.' + digits;
    }
    put(text);
}

void JsonWriter::boolean(bool value) {
    separate();
    put(value ? "true" : "false");
}

void JsonWriter::null() {
    separate();
    put("null");
}

void JsonWriter::beginString() {
    separate();
    put("\"");
    cut_.clear();
    base64_.clear();
}

void JsonWriter::putEscaped(std::string_view text) {
    std::size_t plain = 0; // start of the run of bytes copied as they are
    auto flushPlain = [&](std::size_t end) {
        if (end > plain)
            put(text.substr(plain, end - plain));
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b >= 0x20 && b < 0x80 && b != '"' && b != '\\') {
            ++i;
            continue;
        }
        if (b >= 0x80) {
            const std::size_t n = utf8SequenceLength(text.substr(i));
            if (n > 0) {
                i += n;
                continue;
            }
            flushPlain(i);
            put(kReplacement);
            plain = ++i;
            continue;
        }
        flushPlain(i);
        switch (b) {
        case '"':
            put("\\\"");
            break;
        case '\\':
            put("\\\\");
            break;
        case '\n':
            put("\\n");
            break;
        case '\r':
            put("\\r");
            break;
        case '\t':
            put("\\t");
            break;
        default: {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", b);
            put(escape);
        }
        }
        plain = ++i;
    }
    flushPlain(i);
}

void JsonWriter::stringPart(std::string_view text) {
    if (!cut_.empty()) {
        // Finish the sequence the last piece cut with the bytes that continue
        // it; a byte that cannot is left for the text.
        while (!text.empty() && couldContinue(cut_)) {
            const std::string longer = cut_ + text.front();
            if (!couldContinue(longer) && utf8SequenceLength(longer) == 0)
                break;
            cut_ = longer;
            text.remove_prefix(1);
        }
        if (text.empty() && couldContinue(cut_))
            return; // still cut: the piece was too short
        putEscaped(cut_);
        cut_.clear();
    }
    // A sequence cut by the end of this piece waits for the next.
    std::size_t keep = 0;
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto b = static_cast<unsigned char>(text[text.size() - back]);
        if (b < 0x80)
            break;
        if (b >= 0xC0) {
            if (couldContinue(text.substr(text.size() - back)))
                keep = back;
            break;
        }
    }
    putEscaped(text.substr(0, text.size() - keep));
    cut_.assign(text.substr(text.size() - keep));
}

void JsonWriter::base64Part(std::string_view bytes) {
    if (failed_)
        return;
    // Groups of three bytes, the first completing what the last piece left.
    while (!base64_.empty() && base64_.size() < 3 && !bytes.empty()) {
        base64_ += bytes.front();
        bytes.remove_prefix(1);
    }
    std::string_view carried;
    if (base64_.size() == 3)
        carried = base64_;
    const std::size_t whole = bytes.size() / 3 * 3;
    // Encoded straight into the output buffer: this is where large binary
    // bodies spend their time.
    const std::size_t start = buffer_.size();
    buffer_.resize(start + (carried.size() + whole) / 3 * 4);
    char* out = buffer_.data() + start;
    auto emit = [&out](const char* in) {
        const std::uint32_t v = (std::uint32_t(static_cast<unsigned char>(in[0])) << 16) |
                                (std::uint32_t(static_cast<unsigned char>(in[1])) << 8) |
                                static_cast<unsigned char>(in[2]);
        out[0] = kBase64[(v >> 18) & 63];
        out[1] = kBase64[(v >> 12) & 63];
        out[2] = kBase64[(v >> 6) & 63];
        out[3] = kBase64[v & 63];
        out += 4;
    };
    if (!carried.empty())
        emit(carried.data());
    for (std::size_t i = 0; i < whole; i += 3)
        emit(bytes.data() + i);
    if (!carried.empty())
        base64_.clear();
    base64_.append(bytes.substr(whole));
    if (buffer_.size() >= kFlushAt)
        drain();
}

void JsonWriter::endString() {
    if (!cut_.empty()) {
        putEscaped(cut_); // an unfinished sequence: U+FFFD
        cut_.clear();
    }
    if (!base64_.empty()) {
        const auto a = static_cast<unsigned char>(base64_[0]);
        const auto b = base64_.size() > 1 ? static_cast<unsigned char>(base64_[1]) : 0;
        const std::uint32_t v = (std::uint32_t(a) << 16) | (std::uint32_t(b) << 8);
        char tail[5] = {kBase64[(v >> 18) & 63], kBase64[(v >> 12) & 63],
                        base64_.size() > 1 ? kBase64[(v >> 6) & 63] : '=', '=', '\0'};
        put(tail);
        base64_.clear();
    }
    put("\"");
}

bool JsonWriter::finish() {
    drain();
    if (failed_)
        setLastError(error_);
    return !failed_;
}
