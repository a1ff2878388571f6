#include "cli/StreamCommands.h"

#include "resources/StringTable.h"
#include "streams/StreamCatalog.h"
#include "streams/StreamSaver.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

std::string mebibytes(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / (1024 * 1024));
    return text;
}

std::string protectionNote(Protection protection) {
    return protection == Protection::None ? "" : std::string(" ") + protectionName(protection);
}

void fill(StreamCatalog& catalog, const std::vector<HttpResource*>& captures) {
    for (HttpResource* capture : captures)
        catalog.add(*capture);
}

} // namespace

int listStreams(const std::vector<HttpResource*>& captures) {
    StreamCatalog catalog;
    fill(catalog, captures);
    const auto& streams = catalog.streams();
    for (const CapturedStream& stream : streams) {
        // id, kind, duration, title, then each variant with its counts.
        std::string line = std::to_string(stream.id) + "\t" +
                           (stream.kind == CapturedStream::Hls ? "HLS" : "DASH") + "\t" +
                           formatDuration(stream.duration()) + "\t" + stream.title;
        for (std::size_t i = 0; i < stream.variants.size(); ++i) {
            const StreamVariant& v = stream.variants[i];
            const std::string label = v.label();
            line += "\t[" + std::to_string(i + 1) + "] " + (label.empty() ? "" : label + " ") +
                    std::to_string(v.capturedCount()) + "/" + std::to_string(v.listedCount()) +
                    " segments" + (v.main.grew ? " live" : "") + protectionNote(v.protection());
        }
        std::printf("%s\n", line.c_str());
    }
    if (streams.empty())
        std::fprintf(stderr, "tidewell-capture: %s\n", loadString(IDS_CLI_NO_STREAMS));
    return 0;
}

int saveStreamCommand(const std::vector<HttpResource*>& captures, std::uint32_t id,
                      const std::string& file, int variant, const std::atomic<bool>& cancel) {
    StreamCatalog catalog;
    fill(catalog, captures);
    const CapturedStream* stream = catalog.find(id);
    if (!stream) {
        std::fprintf(stderr, "tidewell-capture: ");
        std::fprintf(stderr, loadString(IDS_STREAM_NOT_FOUND), unsigned(id));
        std::fprintf(stderr, "\n");
        return 1;
    }
    const int count = int(stream->variants.size());
    const int chosen = variant == 0 ? stream->defaultVariant() : variant - 1;
    if (chosen < 0 || chosen >= count) {
        std::fprintf(stderr, "tidewell-capture: ");
        std::fprintf(stderr, loadString(IDS_STREAM_NO_VARIANT), variant, count);
        std::fprintf(stderr, "\n");
        return 1;
    }
    const StreamVariant& v = stream->variants[std::size_t(chosen)];

    // The progress line is rewritten in place on a terminal, and printed
    // every five seconds into a file or pipe.
    const bool tty = isatty(STDOUT_FILENO);
    const auto period = tty ? std::chrono::milliseconds(250) : std::chrono::seconds(5);
    auto nextReport = std::chrono::steady_clock::now() + (tty ? period : std::chrono::seconds(0));
    bool shown = false;
    SaveOptions options;
    options.container = containerForPath(file);
    options.cancel = &cancel;
    options.progress = [&](std::int64_t done, std::int64_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (now < nextReport)
            return;
        nextReport = now + period;
        const int percent = total > 0 ? int(done * 100 / total) : 0;
        std::printf("%s%s%s", tty ? "\r" : "",
                    formatString(IDS_CLI_STREAM_SAVING, percent, mebibytes(done).c_str(),
                                 mebibytes(total).c_str())
                        .c_str(),
                    tty ? "" : "\n");
        std::fflush(stdout);
        shown = true;
    };
    const SaveResult result = saveStream(v, file, options);
    if (shown && tty)
        std::printf("\n");
    if (!result.saved) {
        std::fprintf(stderr, "tidewell-capture: %s\n", result.error.c_str());
        const std::string missing = describeMissing(v, result.missing);
        if (!missing.empty() && !result.cancelled)
            std::fprintf(stderr, "tidewell-capture: %s\n", missing.c_str());
        return 1;
    }
    const std::string label = v.label();
    std::printf("%s\n", formatString(IDS_CLI_STREAM_SAVED, file.c_str(),
                                     formatDuration(result.duration).c_str(),
                                     label.empty() ? "" : ", ", label.c_str())
                            .c_str());
    if (!result.missing.empty()) {
        std::fprintf(stderr, "tidewell-capture: %s\n", describeMissing(v, result.missing).c_str());
        return 3;
    }
    return 0;
}
