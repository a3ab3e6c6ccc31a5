// A small web server for the guests' phones.  It runs on a thread of its
// own, so that no client, slow or hostile, can hold up the user-interface
// thread or the player; and it is bounded in every way a client controls:
// how many connections it keeps (in all and per address), how long a
// request may take to arrive, how long an idle connection stays, and how
// much of a request it reads (see HttpLimits).  A request that passes is
// handed to the handler with a responder; the handler answers at once or
// later, from any thread, and nothing waits for it.
//
// Back ends: a bounded HTTP/1.1 server of the program's own on QTcpServer
// (makeHttpService), and a fake that takes requests from a test without any
// network (FakeHttpService, tests/support/).
//
// thread: listen, close and port on one thread (the owner's); the handler is
// called on the server's thread; a responder may be called from any thread.
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
    QByteArray authorization = {};  // the "Authorization" header's value, trimmed; empty without one
    // The value of the first query item named `name`, or nothing.
    const QString* queryItem(const QString& name) const;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType;  // empty: no body
    QByteArray body;
};

// Sends the answer to one request; call it once, from any thread.  After
// the connection or the server has gone it does nothing.
using HttpResponder = std::function<void(HttpResponse)>;
using HttpHandler = std::function<void(const HttpRequest&, HttpResponder)>;

// What the server takes from its clients at most.  A connection over a
// count is closed at once, unread; a head over its size or lines gets 431,
// a declared body over its size 413 before any of it is read, a body
// without a declared length (chunked or another transfer coding) 411; a
// request whose head and body have not arrived within `requestMs` of its
// first byte (of the connection, for the first) gets 408; a connection with
// no request under way is closed after `idleMs`.
struct HttpLimits {
    int connections = 64;
    int connectionsPerAddress = 8;
    int headBytes = 8192;
    int headLines = 64;
    int bodyBytes = 2048;
    int requestMs = 10000;
    int idleMs = 15000;
};

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
    // when none was free (or there is no QCoreApplication, which the
    // server's event loop needs).  `loopbackOnly`: 127.0.0.1 only (tests), else
    // every IPv4 address of the machine.
    virtual int listen(int first, int last, bool loopbackOnly) = 0;
    // Stops listening and drops every connection: afterwards no socket of
    // the server is open and the handler is not called again.
    virtual void close() = 0;
    virtual int port() const = 0;
};

// The server's own refusals (400, 408, 411, 413, 431) carry the body this
// gives for the status.
using HttpRefusal = std::function<HttpResponse(int status)>;

// The bounded server on its own thread.
std::unique_ptr<HttpService> makeHttpService(HttpHandler handler, HttpRefusal refusal = nullptr,
                                             HttpLimits limits = {});

// The first IPv4 address of a network interface that is up and not the
// loopback, as text; empty when there is none.
QString firstNetworkAddress();

}  // namespace vozaro::platform
