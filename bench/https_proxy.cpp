// The proxy with HTTPS decryption on (--tunnel: off), for https_bench.sh: a
// filter that follows every exchange, the root kept in --data. Prints "port N" and
// "root FILE" once listening; ends on SIGINT/SIGTERM.
#include "engine/HttpFilter.h"
#include "engine/HttpProxy.h"
#include "engine/Platform.h"
#include "tls/HttpsInterception.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pthread.h>
#include <string>

namespace {

// Follows everything and keeps nothing: the cost measured is the relay's.
class FollowingFilter : public HttpFilter {
public:
    int beginRequest(int, HttpRequestHeader&) override { return 1; }
    bool beginResponse(int, HttpResponseHeader&) override { return true; }
};

} // namespace

int main(int argc, char** argv) {
    int port = 0;
    std::string data;
    bool decrypt = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc)
            port = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc)
            data = argv[i + 1];
        else if (std::strcmp(argv[i], "--tunnel") == 0)
            decrypt = false;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    auto https = std::make_shared<HttpsInterception>();
    if (!https->prepare(data)) {
        std::fprintf(stderr, "root certificate: %s\n", errorText(lastError()).c_str());
        return 1;
    }
    https->setDecrypt(decrypt);
    FollowingFilter filter;
    HttpProxy proxy;
    proxy.configuredPort = port;
    proxy.manageSystemSettings = false;
    proxy.https = https;
    if (!proxy.start(&filter)) {
        std::fprintf(stderr, "start: %s\n", errorText(lastError()).c_str());
        return 1;
    }
    std::printf("root %s\nport %d\n", https->certificateFile().c_str(), proxy.port());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
    proxy.stop();
    return 0;
}
