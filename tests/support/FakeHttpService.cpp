#include "support/FakeHttpService.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <memory>
#include <mutex>
#include <optional>

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
    return answerOf(handler_, request);
}

HttpResponse answerOf(const HttpHandler& handler, const HttpRequest& request) {
    struct Slot {
        std::mutex mutex;
        std::optional<HttpResponse> response;
    };
    auto slot = std::make_shared<Slot>();
    handler(request, [slot](HttpResponse response) {
        const std::lock_guard<std::mutex> lock(slot->mutex);
        slot->response = std::move(response);
    });
    const QDeadlineTimer deadline(5000);
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(slot->mutex);
            if (slot->response)
                return *slot->response;
        }
        if (deadline.hasExpired())
            return HttpResponse{0, {}, {}};
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

}  // namespace vozaro::platform
