// What capturing costs: wrk drives the same small exchanges straight to an
// origin, through the proxy with a filter that only counts, and through the
// proxy capturing every exchange into a document. Prints requests per second
// and the ratios. Goal: capturing keeps at least 85% of relay-only
// throughput. Needs wrk; everything runs on 127.0.0.1.
#include "bench/CaptureBench.h"
#include "engine/HttpFilter.h"
#include "engine/HttpProxy.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/QueuedEventDelivery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

class CountingFilter : public HttpFilter {
public:
    int beginRequest(int, HttpRequestHeader&) override { return 0; }
    bool beginResponse(int, HttpResponseHeader&) override { return true; }
    void responseData(int, const char*, int count) override { bytes += count; }
    void endExchange(int, std::uint32_t) override { ++exchanges; }
    std::atomic<long long> bytes{0}, exchanges{0};
};

// Requests per second wrk reached against `port`, asking for `target`.
double runWrk(int port, const std::string& target, const std::string& scriptPath, int seconds,
              int connections) {
    {
        std::ofstream script(scriptPath);
        script << "wrk.path = \"" << target << "\"\n"
               << "wrk.headers[\"Proxy-Connection\"] = \"keep-alive\"\n";
    }
    const std::string command = "wrk -t2 -c" + std::to_string(connections) + " -d" +
                                std::to_string(seconds) + "s -s " + scriptPath +
                                " http://127.0.0.1:" + std::to_string(port) + "/ 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return 0;
    double rate = 0;
    char line[512];
    while (std::fgets(line, sizeof line, pipe))
        if (std::strncmp(line, "Requests/sec:", 13) == 0)
            rate = std::atof(line + 13);
    pclose(pipe);
    return rate;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int connections = argc > 2 ? std::atoi(argv[2]) : 16;
    const BenchDataHome home;
    const std::string script = home.path() + "/proxy.lua";

    const std::string response =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1024\r\n\r\n" +
        std::string(1024, 'x');
    BenchOrigin origin([&response](const std::string&) { return response; });
    const std::string absolute = "http://127.0.0.1:" + std::to_string(origin.port) + "/1k";

    const double direct = runWrk(origin.port, "/1k", script, seconds, connections);

    // Relay-only throughput, measured before and after capturing so that a
    // drift of the machine shows.
    auto countingRun = [&] {
        CountingFilter filter;
        HttpProxy proxy;
        proxy.configuredPort = 0;
        proxy.manageSystemSettings = false;
        if (!proxy.start(&filter))
            return 0.0;
        const double rate = runWrk(proxy.port(), absolute, script, seconds, connections);
        proxy.stop();
        return rate;
    };
    const double countingBefore = countingRun();
    double capturing = 0;
    std::size_t captured = 0;
    {
        BenchUi ui;
        QueuedEventDelivery delivery;
        NoSettings settings;
        Document document(ui, delivery, settings);
        document.newDocument();
        document.proxy.configuredPort = 0;
        document.proxy.manageSystemSettings = false;
        if (!document.startCapture())
            return 1;
        // The user-interface thread drains the notices once per frame.
        std::atomic<bool> done{false};
        std::thread drain([&] {
            while (!done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                delivery.dispatchPending();
            }
        });
        capturing = runWrk(document.proxy.port(), absolute, script, seconds, connections);
        document.stopCapture();
        done = true;
        drain.join();
        captured = document.resources.count;
        document.closeCaptures(false);
    }
    const double countingAfter = countingRun();
    const double counting = (countingBefore + countingAfter) / 2;

    std::printf("1 KiB responses, %d connections, %d s each (requests/s)\n", connections, seconds);
    std::printf("  direct to the origin:        %10.0f\n", direct);
    std::printf(
        "  proxy, counting filter:      %10.0f  (%.2f of direct; %.0f before, %.0f after)\n",
        counting, direct > 0 ? counting / direct : 0, countingBefore, countingAfter);
    std::printf("  proxy, capturing everything: %10.0f  (%.2f of direct, %.2f of counting; "
                "goal >= 0.85)\n",
                capturing, direct > 0 ? capturing / direct : 0,
                counting > 0 ? capturing / counting : 0);
    std::printf("  exchanges captured:          %10zu\n", captured);
    return 0;
}
