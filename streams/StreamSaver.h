// Saves one variant of a captured stream as one playable file: its segments
// joined in order, remuxed by the FFmpeg libraries without re-encoding.
#pragma once

#include "streams/CapturedStream.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class VideoContainer { Mp4, MpegTs, Matroska };

// By the file name's extension (.ts, .mkv); MP4 otherwise.
VideoContainer containerForPath(const std::string& path);
// ".mp4", ".ts", ".mkv".
const char* containerExtension(VideoContainer container);

// Listed segments that were not captured, as runs in the stream's time.
struct MissingRun {
    StreamTrack::Kind track = StreamTrack::Muxed;
    std::int64_t firstSequence = 0;
    std::int64_t lastSequence = 0;
    std::size_t count = 0;
    double start = 0; // seconds from the first listed segment
    double end = 0;
};

// The missing segments of a variant, run by run.
std::vector<MissingRun> missingRuns(const StreamVariant& variant);
// "3 of 120 segments are missing: 0:12–0:18, 1:02–1:06 (audio)" in the
// user's words; empty when nothing is missing.
std::string describeMissing(const StreamVariant& variant, const std::vector<MissingRun>& runs);

struct SaveOptions {
    VideoContainer container = VideoContainer::Mp4;
    // Called now and then from the saving thread with the bytes read so far
    // and the estimate of all.
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    // Set from any thread to stop; the partial file is removed.
    const std::atomic<bool>* cancel = nullptr;
};

struct SaveResult {
    bool saved = false;
    bool cancelled = false;
    std::string error; // why it was not saved, in the user's words
    std::vector<MissingRun> missing;
    double duration = 0; // seconds of the saved file
};

// Writes `variant` to `path` (through a temporary file beside it, readable by
// the user alone; nothing is left behind on failure or cancel, and a file
// already there is replaced only on success). Missing segments leave a gap
// and are named in the result. Refuses SAMPLE-AES and DRM-protected streams.
// Blocks; any thread. The captures must stay listed meanwhile.
SaveResult saveStream(const StreamVariant& variant, const std::string& path,
                      const SaveOptions& options);
