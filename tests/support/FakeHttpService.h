// The web server's test double: no network.  Ports listed as busy cannot be
// taken; a test delivers requests straight to the handler, on its own
// thread.
#pragma once

#include <set>

#include "platform/network/HttpService.h"

namespace vozaro::platform {

class FakeHttpService final : public HttpService {
public:
    FakeHttpService(HttpHandler handler, std::set<int> busyPorts)
        : handler_(std::move(handler)), busy_(std::move(busyPorts)) {}

    int listen(int first, int last, bool loopbackOnly) override;
    void close() override { port_ = 0; }
    int port() const override { return port_; }
    bool loopbackOnly() const { return loopbackOnly_; }

    // What the server answers to `request`, the calling thread's events
    // processed until it does (5 s at most); status 0 (no answer) while it
    // is not listening or when no answer came.
    HttpResponse deliver(const HttpRequest& request) const;

private:
    HttpHandler handler_;
    std::set<int> busy_;
    int port_ = 0;
    bool loopbackOnly_ = false;
};

// The answer of `handler` to `request`, as FakeHttpService::deliver waits
// for it.
HttpResponse answerOf(const HttpHandler& handler, const HttpRequest& request);

}  // namespace vozaro::platform
