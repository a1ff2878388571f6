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

// Keep-alive origin answering every request with the same 1 KiB body.
class Origin {
public:
    Origin() {
        listen_ = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listen_, 512);
        socklen_t length = sizeof address;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        response_ = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1024\r\n\r\n" +
                    std::string(1024, 'x');
        std::thread([this] {
            for (;;) {
                const int client = accept(listen_, nullptr, nullptr);
                if (client < 0)
                    return;
                std::thread([this, client] { serve(client); }).detach();
            }
        }).detach();
    }
    int port = 0;

private:
    void serve(int client) {
        int one = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string pending;
        char bytes[16384];
        for (;;) {
            const ssize_t n = recv(client, bytes, sizeof bytes, 0);
            if (n <= 0)
                break;
            pending.append(bytes, std::size_t(n));
            std::size_t end;
            std::string out;
            while ((end = pending.find("\r\n\r\n")) != std::string::npos) {
                pending.erase(0, end + 4);
                out += response_;
            }
            if (!out.empty() && send(client, out.data(), out.size(), MSG_NOSIGNAL) < 0)
                break;
        }
        close(client);
    }

    int listen_ = -1;
    std::string response_;
};

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

    Origin origin;
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
