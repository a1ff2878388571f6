#include "streams/StreamSaver.h"

#include "engine/Platform.h"
#include "engine/Text.h"
#include "resources/StringTable.h"
#include "store/HttpResource.h"
#include "streams/SegmentFeed.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kFeedCapacity = 4 * 1024 * 1024;
constexpr int kIoBuffer = 64 * 1024;

std::string format(unsigned id, std::initializer_list<std::string> values) {
    const char* pattern = loadString(id);
    std::string text = pattern ? pattern : "";
    for (const std::string& value : values) {
        const std::size_t at = text.find("%s");
        if (at == std::string::npos)
            break;
        text.replace(at, 2, value);
    }
    return text;
}

std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string lowerExtension(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string extension = path.substr(dot);
    for (char& c : extension)
        c = asciiToLower(c);
    return extension;
}

// The pieces of one track in order: each segment after the init segment it
// follows (again whenever that changes). A segment whose init segment or key
// is missing is missing too.
bool piecesOf(const StreamTrack& track, std::vector<SegmentFeed::Piece>& pieces,
              std::string& error) {
    std::map<std::string, std::array<std::uint8_t, 16>> keys;
    auto keyOf = [&](const CapturedSegment& segment, std::array<std::uint8_t, 16>& key) {
        const auto known = keys.find(segment.key.uri);
        if (known != keys.end()) {
            key = known->second;
            return true;
        }
        std::string bytes;
        if (!readPiece(segment.keyPiece, bytes, 64) || bytes.size() != 16) {
            error = format(IDS_STREAM_BAD_KEY, {segment.key.uri});
            return false;
        }
        std::copy(bytes.begin(), bytes.end(), key.begin());
        keys.emplace(segment.key.uri, key);
        return true;
    };
    auto pieceOf = [&](const CapturedSegment& segment, int index, SegmentFeed::Piece& piece) {
        piece.piece = segment.piece;
        piece.url = segment.url;
        piece.segment = index;
        if (!segment.key.aes128)
            return true;
        piece.encrypted = true;
        if (!keyOf(segment, piece.key))
            return false;
        if (segment.key.hasIv) {
            piece.iv = segment.key.iv;
        } else {
            // The media sequence number, big-endian in 128 bits.
            piece.iv.fill(0);
            std::uint64_t sequence = std::uint64_t(std::max<std::int64_t>(0, segment.sequence));
            for (int i = 15; i >= 8; --i, sequence >>= 8)
                piece.iv[std::size_t(i)] = std::uint8_t(sequence & 0xFF);
        }
        return true;
    };
    int lastInit = -1;
    for (std::size_t i = 0; i < track.segments.size(); ++i) {
        const CapturedSegment& segment = track.segments[i];
        if (!segment.present())
            continue;
        if (segment.initIndex >= 0) {
            if (segment.initIndex >= int(track.inits.size()) ||
                !track.inits[std::size_t(segment.initIndex)].present())
                continue;
            if (segment.initIndex != lastInit) {
                SegmentFeed::Piece init;
                if (!pieceOf(track.inits[std::size_t(segment.initIndex)], -1, init))
                    return false;
                pieces.push_back(std::move(init));
                lastInit = segment.initIndex;
            }
        }
        SegmentFeed::Piece piece;
        if (!pieceOf(segment, int(i), piece))
            return false;
        pieces.push_back(std::move(piece));
    }
    return true;
}

bool segmentUsable(const StreamTrack& track, const CapturedSegment& segment) {
    if (!segment.present())
        return false;
    return segment.initIndex < 0 || (segment.initIndex < int(track.inits.size()) &&
                                     track.inits[std::size_t(segment.initIndex)].present());
}

// One track being read: its feed, its demuxer, and how its timestamps are
// carried into the file.
struct Input {
    const StreamTrack* track = nullptr;
    std::unique_ptr<SegmentFeed> feed;
    AVFormatContext* format = nullptr;
    AVIOContext* io = nullptr;
    std::vector<int> outputOf; // input stream -> output stream, -1 when left out
    // Added to every timestamp (AV_TIME_BASE units); changed where the
    // stream's clock starts anew.
    std::int64_t offset = 0;
    int currentSegment = -1;
    // The offset each segment's packets got: a packet read after the next
    // segment began still belongs to its own.
    std::vector<std::int64_t> offsets;
    std::int64_t end = INT64_MIN; // furthest end written, in the file's time
    AVPacket* pending = nullptr;
    std::int64_t pendingTime = 0;
    bool finished = false;

    ~Input() {
        if (feed)
            feed->cancel();
        av_packet_free(&pending);
        avformat_close_input(&format);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }
};

int readFeed(void* opaque, std::uint8_t* buffer, int size) {
    const int n = static_cast<SegmentFeed*>(opaque)->read(buffer, size);
    if (n < 0)
        return AVERROR(EIO);
    return n == 0 ? AVERROR_EOF : n;
}

struct OutputFile {
    int fd = -1;
    std::string temporary;
    AVFormatContext* format = nullptr;
    AVIOContext* io = nullptr;
    int writeError = 0;

    ~OutputFile() {
        if (format)
            avformat_free_context(format);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (fd >= 0)
            ::close(fd);
        if (!temporary.empty())
            ::unlink(temporary.c_str());
    }
};

int writeFile(void* opaque, std::uint8_t* buffer, int size) {
    auto* out = static_cast<OutputFile*>(opaque);
    int left = size;
    while (left > 0) {
        const ssize_t n = ::write(out->fd, buffer + (size - left), std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            out->writeError = n < 0 ? errno : ENOSPC;
            return AVERROR(out->writeError);
        }
        left -= int(n);
    }
    return size;
}

std::int64_t seekFile(void* opaque, std::int64_t offset, int whence) {
    auto* out = static_cast<OutputFile*>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(out->fd, &st) == 0 ? std::int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(out->fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : std::int64_t(at);
}

const char* muxerName(VideoContainer container) {
    switch (container) {
    case VideoContainer::MpegTs:
        return "mpegts";
    case VideoContainer::Matroska:
        return "matroska";
    case VideoContainer::Mp4:
        break;
    }
    return "mp4";
}

class Saver {
public:
    Saver(const StreamVariant& variant, const std::string& path, const SaveOptions& options)
        : variant_(variant), path_(path), options_(options) {}

    SaveResult run();

private:
    bool cancelled() const { return options_.cancel && options_.cancel->load(); }
    bool openInput(const StreamTrack& track, std::vector<SegmentFeed::Piece> pieces);
    bool openOutput();
    bool addStreams(Input& input);
    // Reads the next packet of `input` into its pending slot, its timestamps
    // in the file's time; false at the end (finished) or on failure (error).
    bool next(Input& input);
    void retime(Input& input, AVPacket* packet);
    bool write(Input& input);
    bool finish();
    void report();
    bool fail(std::string error) {
        if (result_.error.empty())
            result_.error = std::move(error);
        return false;
    }
    std::string feedError(const Input& input, int code) const {
        const std::string reason = input.feed->error();
        return reason.empty() ? format(IDS_STREAM_READ_FAILED, {ffmpegError(code)}) : reason;
    }

    const StreamVariant& variant_;
    const std::string& path_;
    const SaveOptions& options_;
    SaveResult result_;
    std::vector<std::unique_ptr<Input>> inputs_;
    OutputFile output_;
    std::vector<std::int64_t> lastDts_;
    std::int64_t start_ = 0;
    std::int64_t fileEnd_ = INT64_MIN;
};

bool Saver::openInput(const StreamTrack& track, std::vector<SegmentFeed::Piece> pieces) {
    auto input = std::make_unique<Input>();
    input->track = &track;
    input->offsets.assign(track.segments.size(), INT64_MIN);
    input->feed = std::make_unique<SegmentFeed>(std::move(pieces), kFeedCapacity);
    input->feed->start();
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
    input->io =
        avio_alloc_context(buffer, kIoBuffer, 0, input->feed.get(), readFeed, nullptr, nullptr);
    input->format = avformat_alloc_context();
    input->pending = av_packet_alloc();
    if (!buffer || !input->io || !input->format || !input->pending)
        return fail(format(IDS_STREAM_READ_FAILED, {ffmpegError(AVERROR(ENOMEM))}));
    input->io->seekable = 0;
    input->format->pb = input->io;
    input->format->flags |= AVFMT_FLAG_CUSTOM_IO;
    Input& in = *input;
    inputs_.push_back(std::move(input));
    int code = avformat_open_input(&in.format, nullptr, nullptr, nullptr);
    if (code < 0) {
        const std::string reason = in.feed->error();
        return fail(reason.empty() ? format(IDS_STREAM_UNKNOWN_FORMAT, {ffmpegError(code)})
                                   : reason);
    }
    code = avformat_find_stream_info(in.format, nullptr);
    if (code < 0)
        return fail(feedError(in, code));
    return true;
}

bool Saver::openOutput() {
    const std::size_t slash = path_.rfind('/');
    output_.temporary = (slash == std::string::npos ? std::string() : path_.substr(0, slash + 1)) +
                        ".tidewell-XXXXXX";
    output_.fd = mkstemp(output_.temporary.data());
    if (output_.fd < 0) {
        const int error = errno;
        output_.temporary.clear();
        return fail(format(IDS_STREAM_WRITE_FAILED, {path_, std::strerror(error)}));
    }
    ::fchmod(output_.fd, 0600);
    if (avformat_alloc_output_context2(&output_.format, nullptr, muxerName(options_.container),
                                       nullptr) < 0)
        return fail(format(IDS_STREAM_WRITE_FAILED, {path_, ffmpegError(AVERROR(ENOMEM))}));
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
    output_.io = avio_alloc_context(buffer, kIoBuffer, 1, &output_, nullptr, writeFile, seekFile);
    if (!buffer || !output_.io)
        return fail(format(IDS_STREAM_WRITE_FAILED, {path_, ffmpegError(AVERROR(ENOMEM))}));
    output_.format->pb = output_.io;
    output_.format->flags |= AVFMT_FLAG_CUSTOM_IO;
    return true;
}

bool Saver::addStreams(Input& input) {
    input.outputOf.assign(input.format->nb_streams, -1);
    for (unsigned i = 0; i < input.format->nb_streams; ++i) {
        const AVStream* in = input.format->streams[i];
        const AVCodecParameters* codec = in->codecpar;
        if (codec->codec_type != AVMEDIA_TYPE_VIDEO && codec->codec_type != AVMEDIA_TYPE_AUDIO)
            continue; // timed metadata and the like have no place in every container
        if (codec->codec_id == AV_CODEC_ID_NONE)
            continue;
        // A separate audio track's sound wins over any the picture carries.
        if (input.track->kind == StreamTrack::Video && codec->codec_type == AVMEDIA_TYPE_AUDIO)
            continue;
        if (avformat_query_codec(output_.format->oformat, codec->codec_id, FF_COMPLIANCE_NORMAL) ==
            0)
            return fail(format(IDS_STREAM_CODEC_UNFIT, {containerExtension(options_.container),
                                                        avcodec_get_name(codec->codec_id)}));
        AVStream* out = avformat_new_stream(output_.format, nullptr);
        if (!out || avcodec_parameters_copy(out->codecpar, codec) < 0)
            return fail(format(IDS_STREAM_WRITE_FAILED, {path_, ffmpegError(AVERROR(ENOMEM))}));
        out->codecpar->codec_tag = 0;
        out->time_base = in->time_base;
        input.outputOf[i] = out->index;
    }
    return true;
}

void Saver::retime(Input& input, AVPacket* packet) {
    const AVRational timeBase = input.format->streams[packet->stream_index]->time_base;
    if (packet->dts == AV_NOPTS_VALUE)
        packet->dts = packet->pts;
    if (packet->pts == AV_NOPTS_VALUE)
        packet->pts = packet->dts;
    const std::int64_t raw = packet->dts == AV_NOPTS_VALUE
                                 ? AV_NOPTS_VALUE
                                 : av_rescale_q(packet->dts, timeBase, AV_TIME_BASE_Q);

    // Which segment the packet came from: where its clock may start anew.
    int segment = input.currentSegment;
    if (packet->pos >= 0) {
        const int piece = input.feed->pieceAt(packet->pos);
        if (piece >= 0)
            segment = input.feed->piece(piece).segment;
    }
    std::int64_t offset = input.offset;
    if (segment >= 0 && segment < int(input.offsets.size()) &&
        input.offsets[std::size_t(segment)] != INT64_MIN) {
        offset = input.offsets[std::size_t(segment)];
    } else if (segment > input.currentSegment && raw != AV_NOPTS_VALUE) {
        const auto& segments = input.track->segments;
        bool restart = false;
        double gap = 0; // listed time of missing segments in between
        for (int s = std::max(0, input.currentSegment + 1); s <= segment; ++s) {
            if (segments[std::size_t(s)].discontinuity && input.currentSegment >= 0)
                restart = true;
            if (s < segment && !segmentUsable(*input.track, segments[std::size_t(s)]))
                gap += segments[std::size_t(s)].duration;
        }
        const std::int64_t gapTime = std::int64_t(gap * AV_TIME_BASE);
        const std::int64_t at = raw + input.offset;
        if (input.end != INT64_MIN) {
            const std::int64_t slack =
                std::int64_t((segments[std::size_t(segment)].duration + 10) * AV_TIME_BASE);
            // A clock that jumps back, or far beyond what the playlist lists
            // in between, started anew without saying so.
            if (at < input.end - AV_TIME_BASE || at > input.end + gapTime + slack)
                restart = true;
            if (restart)
                input.offset = input.end + gapTime - raw;
        }
        input.currentSegment = segment;
        input.offsets[std::size_t(segment)] = input.offset;
        offset = input.offset;
    }
    const std::int64_t shift = av_rescale_q(offset, AV_TIME_BASE_Q, timeBase);
    if (packet->dts != AV_NOPTS_VALUE)
        packet->dts += shift;
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += shift;
}

bool Saver::next(Input& input) {
    AVPacket* packet = input.pending;
    for (;;) {
        if (cancelled())
            return false;
        av_packet_unref(packet);
        const int code = av_read_frame(input.format, packet);
        if (code == AVERROR_EOF) {
            const std::string reason = input.feed->error();
            if (!reason.empty())
                return fail(reason);
            input.finished = true;
            return false;
        }
        if (code < 0)
            return fail(feedError(input, code));
        if (packet->stream_index < 0 || unsigned(packet->stream_index) >= input.outputOf.size() ||
            input.outputOf[std::size_t(packet->stream_index)] < 0)
            continue;
        retime(input, packet);
        if (packet->dts == AV_NOPTS_VALUE)
            continue; // no time to place it at
        const AVRational timeBase = input.format->streams[packet->stream_index]->time_base;
        input.pendingTime = av_rescale_q(packet->dts, timeBase, AV_TIME_BASE_Q);
        const std::int64_t shown =
            std::max(packet->pts, packet->dts) + std::max<std::int64_t>(0, packet->duration);
        input.end = std::max(input.end, av_rescale_q(shown, timeBase, AV_TIME_BASE_Q));
        return true;
    }
}

bool Saver::write(Input& input) {
    AVPacket* packet = input.pending;
    const AVRational from = input.format->streams[packet->stream_index]->time_base;
    const int index = input.outputOf[std::size_t(packet->stream_index)];
    AVStream* out = output_.format->streams[index];
    const std::int64_t startShift = av_rescale_q(start_, AV_TIME_BASE_Q, from);
    packet->dts -= startShift;
    packet->pts -= startShift;
    av_packet_rescale_ts(packet, from, out->time_base);
    // Every container wants its decoding times rising.
    std::int64_t& last = lastDts_[std::size_t(index)];
    if (last != INT64_MIN && packet->dts <= last) {
        packet->dts = last + 1;
        if (packet->pts < packet->dts)
            packet->pts = packet->dts;
    }
    last = packet->dts;
    packet->stream_index = index;
    packet->pos = -1;
    const int code = av_interleaved_write_frame(output_.format, packet);
    if (code < 0) {
        const std::string reason =
            output_.writeError ? std::strerror(output_.writeError) : ffmpegError(code);
        return fail(format(IDS_STREAM_WRITE_FAILED, {path_, reason}));
    }
    return true;
}

void Saver::report() {
    if (!options_.progress)
        return;
    std::int64_t done = 0, total = 0;
    for (const auto& input : inputs_) {
        done += input->feed->consumed();
        total += input->feed->expected();
    }
    options_.progress(std::min(done, total), total);
}

bool Saver::finish() {
    int code = av_write_trailer(output_.format);
    if (code >= 0)
        avio_flush(output_.io);
    if (code < 0 || output_.writeError || output_.io->error < 0) {
        const std::string reason = output_.writeError
                                       ? std::strerror(output_.writeError)
                                       : ffmpegError(code < 0 ? code : output_.io->error);
        return fail(format(IDS_STREAM_WRITE_FAILED, {path_, reason}));
    }
    if (::fsync(output_.fd) != 0 || ::close(output_.fd) != 0) {
        output_.fd = -1;
        return fail(format(IDS_STREAM_WRITE_FAILED, {path_, std::strerror(errno)}));
    }
    output_.fd = -1;
    if (std::rename(output_.temporary.c_str(), path_.c_str()) != 0)
        return fail(format(IDS_STREAM_WRITE_FAILED, {path_, std::strerror(errno)}));
    output_.temporary.clear();
    return true;
}

SaveResult Saver::run() {
    switch (variant_.protection()) {
    case Protection::SampleAes:
        result_.error = loadString(IDS_STREAM_SAMPLE_AES);
        return result_;
    case Protection::Drm:
        result_.error = loadString(IDS_STREAM_DRM);
        return result_;
    case Protection::None:
        break;
    }
    std::vector<const StreamTrack*> tracks = {&variant_.main};
    if (variant_.audio)
        tracks.push_back(&*variant_.audio);
    for (const StreamTrack* track : tracks) {
        if (!track->listed) {
            result_.error = loadString(IDS_STREAM_PLAYLIST_MISSING);
            return result_;
        }
    }
    result_.missing = missingRuns(variant_);
    std::vector<std::vector<SegmentFeed::Piece>> pieces(tracks.size());
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        if (!piecesOf(*tracks[t], pieces[t], result_.error))
            return result_;
        if (pieces[t].empty()) {
            result_.error = loadString(IDS_STREAM_NOTHING_CAPTURED);
            return result_;
        }
    }
    const bool ok = [&] {
        if (!openOutput())
            return false;
        for (std::size_t t = 0; t < tracks.size(); ++t)
            if (!openInput(*tracks[t], std::move(pieces[t])) || !addStreams(*inputs_.back()))
                return false;
        if (output_.format->nb_streams == 0)
            return fail(loadString(IDS_STREAM_NO_MEDIA));
        // The file starts at the earliest time any track starts.
        start_ = INT64_MAX;
        for (const auto& input : inputs_)
            if (input->format->start_time != AV_NOPTS_VALUE)
                start_ = std::min(start_, input->format->start_time);
        if (start_ == INT64_MAX)
            start_ = 0;
        for (const auto& input : inputs_)
            input->offset = 0;
        const int code = avformat_write_header(output_.format, nullptr);
        if (code < 0)
            return fail(format(IDS_STREAM_WRITE_FAILED,
                               {path_, output_.writeError ? std::strerror(output_.writeError)
                                                          : ffmpegError(code)}));
        lastDts_.assign(output_.format->nb_streams, INT64_MIN);
        for (const auto& input : inputs_)
            if (!next(*input) && !input->finished)
                return false;
        // Tracks interleaved by time, so the muxer holds little.
        for (std::uint64_t count = 0;; ++count) {
            Input* earliest = nullptr;
            for (const auto& input : inputs_)
                if (!input->finished && (!earliest || input->pendingTime < earliest->pendingTime))
                    earliest = input.get();
            if (!earliest)
                break;
            if (!write(*earliest))
                return false;
            if (!next(*earliest) && !earliest->finished)
                return false;
            if ((count & 255) == 0)
                report();
        }
        for (const auto& input : inputs_)
            fileEnd_ = std::max(fileEnd_, input->end);
        return finish();
    }();
    if (cancelled()) {
        result_.cancelled = true;
        result_.error = loadString(IDS_STREAM_CANCELLED);
        return result_;
    }
    if (!ok)
        return result_;
    report();
    result_.saved = true;
    result_.duration = fileEnd_ == INT64_MIN ? 0 : double(fileEnd_ - start_) / AV_TIME_BASE;
    return result_;
}

} // namespace

VideoContainer containerForPath(const std::string& path) {
    const std::string extension = lowerExtension(path);
    if (extension == ".ts" || extension == ".m2ts" || extension == ".mts")
        return VideoContainer::MpegTs;
    if (extension == ".mkv" || extension == ".mka")
        return VideoContainer::Matroska;
    return VideoContainer::Mp4;
}

const char* containerExtension(VideoContainer container) {
    switch (container) {
    case VideoContainer::MpegTs:
        return ".ts";
    case VideoContainer::Matroska:
        return ".mkv";
    case VideoContainer::Mp4:
        break;
    }
    return ".mp4";
}

std::vector<MissingRun> missingRuns(const StreamVariant& variant) {
    std::vector<MissingRun> runs;
    auto scan = [&](const StreamTrack& track) {
        std::optional<MissingRun> run;
        for (const CapturedSegment& segment : track.segments) {
            if (segmentUsable(track, segment)) {
                if (run)
                    runs.push_back(*run);
                run.reset();
                continue;
            }
            if (!run) {
                run = MissingRun{};
                run->track = track.kind;
                run->firstSequence = segment.sequence;
                run->start = segment.start;
            }
            run->lastSequence = segment.sequence;
            run->end = segment.start + segment.duration;
            ++run->count;
        }
        if (run)
            runs.push_back(*run);
    };
    scan(variant.main);
    if (variant.audio)
        scan(*variant.audio);
    return runs;
}

std::string describeMissing(const StreamVariant& variant, const std::vector<MissingRun>& runs) {
    if (runs.empty())
        return {};
    std::size_t missing = 0;
    std::string ranges;
    constexpr std::size_t kShown = 8;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        missing += runs[i].count;
        if (i == kShown)
            ranges += ", …";
        if (i >= kShown)
            continue;
        if (i)
            ranges += ", ";
        ranges += formatDuration(runs[i].start) + "\u2013" + formatDuration(runs[i].end);
        if (runs[i].track == StreamTrack::Audio)
            ranges += std::string(" (") + loadString(IDS_STREAM_AUDIO_TRACK) + ")";
    }
    char text[1024];
    std::snprintf(text, sizeof text, loadString(IDS_STREAM_MISSING), int(missing),
                  int(variant.listedCount()), ranges.c_str());
    std::string out = text;
    return out;
}

SaveResult saveStream(const StreamVariant& variant, const std::string& path,
                      const SaveOptions& options) {
    return Saver(variant, path, options).run();
}
