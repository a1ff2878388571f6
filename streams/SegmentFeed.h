// The bytes of one track as one continuous stream: its pieces read from the
// captures (codings undone, byte ranges cut, AES-128 decrypted) on a thread
// of their own, and taken by the demuxer through a bounded buffer.
#pragma once

#include "streams/CapturedStream.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SegmentFeed {
public:
    struct Piece {
        CapturedPiece piece;
        std::string url; // for messages
        bool encrypted = false;
        std::array<std::uint8_t, 16> key{};
        std::array<std::uint8_t, 16> iv{};
        int segment = -1; // index in the track's segments; -1 for an init segment
    };

    // `capacity` bytes are held at most between the reading thread and the
    // demuxer.
    SegmentFeed(std::vector<Piece> pieces, std::size_t capacity);
    ~SegmentFeed();
    SegmentFeed(const SegmentFeed&) = delete;
    SegmentFeed& operator=(const SegmentFeed&) = delete;

    void start();
    // Up to `count` bytes; 0 at the end; -1 when reading failed (error()) or
    // was cancelled.
    int read(std::uint8_t* buffer, int count);
    // Wakes both sides; reads fail from now on.
    void cancel();

    // The piece that holds the byte at `position` of the stream; -1 before
    // the first.
    int pieceAt(std::int64_t position) const;
    const Piece& piece(int index) const { return pieces_[std::size_t(index)]; }
    // Bytes taken by the demuxer so far, and the estimate of all.
    std::int64_t consumed() const { return consumed_; }
    std::int64_t expected() const { return expected_; }
    // Why reading failed; empty while it did not.
    std::string error() const;

private:
    void run();
    // Blocks while the buffer is full; false once cancelled.
    bool put(const std::uint8_t* data, std::size_t count);
    void fail(std::string message);

    std::vector<Piece> pieces_;
    std::vector<std::uint8_t> ring_;
    std::size_t head_ = 0; // next byte to read
    std::size_t size_ = 0;
    bool ended_ = false;
    bool cancelled_ = false;
    std::string error_;
    std::int64_t produced_ = 0;
    std::vector<std::int64_t> starts_; // stream position where each piece begins
    mutable std::mutex mutex_;
    std::condition_variable readable_;
    std::condition_variable writable_;
    std::atomic<std::int64_t> consumed_{0};
    std::int64_t expected_ = 0;
    std::thread thread_;
};

// The first `length` bytes (all with -1) of `resource`'s body from
// `offset`, codings undone, into `out`; false (lastError()) when it could not
// be read whole.
bool readPiece(const CapturedPiece& piece, std::string& out, std::size_t limit);
