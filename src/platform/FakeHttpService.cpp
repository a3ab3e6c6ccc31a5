#include "platform/FakeHttpService.h"

namespace vozaro::platform {

int FakeHttpService::listen(int first, int last, bool loopbackOnly) {
    port_ = 0;
    loopbackOnly_ = loopbackOnly;
    for (int port = first; port <= last; ++port)
        if (port > 0 && port <= 65535 && !busy_.count(port))
            return port_ = port;
    return 0;
}

HttpResponse FakeHttpService::deliver(const HttpRequest& request) const {
    if (port_ == 0)
        return HttpResponse{0, {}, {}};
    return handler_(request);
}

}  // namespace vozaro::platform
