// What storing small captures costs on one file system, told apart from
// relaying: creating one file per capture (open, one write, close, as the
// cache folder does), appending the same bytes to one log file, and the
// capture store itself (a document capturing small exchanges as connection
// threads drive it, then closing without keeping them). With --churn M the
// cache folder first gets M files and loses them again, as after a run of a
// million captures that was not kept, so that the cost of creating files where
// many were just deleted shows beside the cost of creating files at all.
// Usage: bench_cache_files --home DIR [--count N] [--churn M]
// DIR becomes the data home; it should be empty. Prints one line per figure,
// "name: value unit", for bench/cache_files.sh.
#include "bench/CaptureBench.h"
#include "engine/FileStream.h"
#include "store/QueuedEventDelivery.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double cpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Wall-clock and CPU time of one step, per item.
class Timer {
public:
    explicit Timer(int who = RUSAGE_THREAD)
        : who_(who), wall_(std::chrono::steady_clock::now()), cpu_(cpuSeconds(who)) {}
    void report(const char* name, long items) const {
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
        const double cpu = cpuSeconds(who_) - cpu_;
        std::printf("%s: %.2f us wall, %.2f us cpu per item (%ld items, %.2f s)\n", name,
                    wall / double(items) * 1e6, cpu / double(items) * 1e6, items, wall);
        std::fflush(stdout);
    }

private:
    int who_;
    std::chrono::steady_clock::time_point wall_;
    double cpu_;
};

// The size of a small capture's image: record, heads and a 1 KiB body.
const std::string& image() {
    static const std::string bytes(1600, 'i');
    return bytes;
}

std::string fileName(const std::string& folder, long number) {
    char name[32];
    std::snprintf(name, sizeof name, "R%010ld.dat", number);
    return folder + name;
}

bool createFiles(const std::string& folder, long from, long count) {
    for (long i = from; i < from + count; ++i) {
        FileStream file;
        if (!file.open(fileName(folder, i), FileStream::OpenWrite | FileStream::OpenCreate |
                                                FileStream::OpenPlainFile) ||
            !file.write(image().data(), std::int32_t(image().size()))) {
            std::fprintf(stderr, "cannot write %s: %s\n", fileName(folder, i).c_str(),
                         std::strerror(int(lastError())));
            return false;
        }
    }
    return true;
}

void deleteFiles(const std::string& folder, long from, long count) {
    for (long i = from; i < from + count; ++i)
        ::unlink(fileName(folder, i).c_str());
}

} // namespace

int main(int argc, char** argv) {
    std::string home;
    long count = 100000;
    long churn = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--home") == 0)
            home = argv[i + 1];
        else if (std::strcmp(argv[i], "--count") == 0)
            count = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--churn") == 0)
            churn = std::atol(argv[i + 1]);
    }
    if (home.empty() || count <= 0) {
        std::fprintf(stderr, "usage: bench_cache_files --home DIR [--count N] [--churn M]\n");
        return 2;
    }
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    std::string folder;
    if (!CacheFolder::findCacheFolder(folder) || !CacheFolder::createFolder(folder)) {
        std::perror("cache folder");
        return 1;
    }

    if (churn > 0) {
        // Far above the numbers measured next, so no name is reused.
        const long base = 1000000000;
        {
            const Timer timer;
            if (!createFiles(folder, base, churn))
                return 1;
            ::sync();
            timer.report("churn: create a file per capture", churn);
        }
        const Timer timer;
        deleteFiles(folder, base, churn);
        timer.report("churn: delete them", churn);
    }

    {
        const Timer timer;
        if (!createFiles(folder, 1, count))
            return 1;
        timer.report("create a file per capture", count);
    }
    {
        const Timer timer;
        deleteFiles(folder, 1, count);
        timer.report("delete a file per capture", count);
    }
    {
        const std::string log = folder + "append.log";
        FileStream file;
        if (!file.open(log, FileStream::OpenWrite | FileStream::OpenCreate)) {
            std::perror("log");
            return 1;
        }
        const Timer timer;
        for (long i = 0; i < count; ++i) {
            if (!file.write(image().data(), std::int32_t(image().size()))) {
                std::perror("append");
                return 1;
            }
        }
        timer.report("append to one log, one write per capture", count);
        ::unlink(log.c_str());
    }
    {
        BenchUi ui;
        QueuedEventDelivery delivery;
        NoSettings settings;
        Document document(ui, delivery, settings);
        if (!document.newDocument())
            return 1;
        // Driven directly, the filter writes each capture before it returns.
        {
            const Timer timer(RUSAGE_SELF);
            for (long i = 0; i < count; ++i) {
                captureSmallExchange(document, int(i));
                if (i % 1000 == 999)
                    delivery.dispatchPending();
            }
            timer.report("capture store, small exchanges", count);
        }
        delivery.dispatchPending();
        const Timer timer(RUSAGE_SELF);
        document.closeCaptures(false);
        timer.report("capture store, closing without keeping", count);
    }
    return 0;
}
