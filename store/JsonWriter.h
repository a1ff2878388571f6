// JSON text written piece by piece into an output stream, and the UTF-8 rules
// that keep it valid whatever bytes a capture holds.
#pragma once

#include "engine/Stream.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Length of the well-formed UTF-8 sequence at the start of `bytes` (no
// overlong forms, surrogates or values past U+10FFFF), 0 when there is none.
std::size_t utf8SequenceLength(std::string_view bytes);
bool isValidUtf8(std::string_view bytes);
// The code point of the character at the start of `bytes` when it is one a
// reader cannot see or that reorders the text shown around it: the C0 and C1
// controls, DEL, and the bidirectional embeddings, overrides and isolates
// (U+202A to U+202E, U+2066 to U+2069); -1 for any other character and for
// bytes that are not UTF-8. `length` receives its length in bytes.
std::int32_t hiddenControl(std::string_view bytes, std::size_t& length);
// Each byte as the character of the same number (ISO-8859-1).
std::string latin1ToUtf8(std::string_view bytes);

// Checks a byte stream fed in arbitrary pieces: a sequence may be cut
// between two pieces.
class Utf8Validator {
public:
    void feed(std::string_view piece);
    // Every byte so far formed whole sequences.
    bool valid() const { return valid_ && pending_.empty(); }

private:
    std::string pending_; // the start of a sequence cut by the end of a piece
    bool valid_ = true;
};

// Buffers its output and writes it in large pieces; it never flushes the
// stream (for a file that would be a sync per call). The first failed write
// sticks: later calls do nothing and finish() reports it. Texts handed to it
// must be valid UTF-8; a byte that is not is written as U+FFFD, so the output
// is valid JSON even then.
class JsonWriter {
public:
    explicit JsonWriter(OutputStream& out);
    ~JsonWriter();
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // The name of the next member of the current object.
    void key(std::string_view name);
    void string(std::string_view text);
    void number(std::int64_t value);
    // `thousandths` / 1000 with up to three decimals ("12.5" for 12500).
    // Written without the C library, whose decimal point follows the locale.
    void decimal(std::int64_t thousandths);
    void boolean(bool value);
    void null();

    // One string value written in pieces: text pieces (a UTF-8 sequence may be
    // cut between two of them) or bytes that become base64.
    void beginString();
    void stringPart(std::string_view text);
    void base64Part(std::string_view bytes);
    void endString();

    // Writes what is buffered; false (lastError() set) when any write failed.
    bool finish();
    bool failed() const { return failed_; }
    std::uint32_t error() const { return error_; }

private:
    void separate();
    void put(std::string_view bytes);
    void putEscaped(std::string_view text);
    void drain();

    OutputStream& out_;
    std::string buffer_;
    // Per open object or array: whether it holds a value yet.
    std::vector<bool> open_;
    bool afterKey_ = false;
    std::string cut_;    // text: an unfinished UTF-8 sequence from the last piece
    std::string base64_; // base64: up to two bytes waiting for a third
    bool failed_ = false;
    std::uint32_t error_ = 0;
};
