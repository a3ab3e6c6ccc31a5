// A small web server on the user-interface thread's event loop, for the
// guests' phones.  Every request reaches one handler, which answers at once;
// nothing blocks, so a slow or abusive client never stalls the program.
//
// Back ends: Qt HttpServer on a TCP port (makeHttpService), and a fake that
// takes requests from a test without any network (FakeHttpService).
//
// thread: user-interface thread only.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace vozaro::platform {

struct HttpRequest {
    QByteArray method;  // "GET", "POST", ...
    QString path;       // decoded, without the query
    std::vector<std::pair<QString, QString>> query;  // decoded, in order
    QByteArray body;
    QString client;     // the peer's address
    // The value of the first query item named `name`, or nothing.
    const QString* queryItem(const QString& name) const;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType;  // empty: no body
    QByteArray body;
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

// Headers every response carries: nothing is loaded from anywhere else, and
// no content type is guessed.
inline const std::pair<QByteArray, QByteArray> kSecurityHeaders[] = {
    {"Content-Security-Policy", "default-src 'self'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Cache-Control", "no-store"},
};

class HttpService {
public:
    virtual ~HttpService() = default;
    // Listens on the first free port of first..last; the port taken, or 0
    // when none was free.  `loopbackOnly`: 127.0.0.1 only (tests), else
    // every IPv4 address of the machine.
    virtual int listen(int first, int last, bool loopbackOnly) = 0;
    virtual void close() = 0;
    virtual int port() const = 0;
};

// The Qt HttpServer back end.
std::unique_ptr<HttpService> makeHttpService(HttpHandler handler);

// The first IPv4 address of a network interface that is up and not the
// loopback, as text; empty when there is none.
QString firstNetworkAddress();

}  // namespace vozaro::platform
