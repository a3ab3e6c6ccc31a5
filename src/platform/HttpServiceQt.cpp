// The web server on Qt HttpServer: one TCP server on the first free port,
// every request handed to the handler and answered in place.
#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QUrlQuery>

#include "platform/HttpService.h"

namespace vozaro::platform {

namespace {

QByteArray methodName(QHttpServerRequest::Method method) {
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    default: return "OTHER";
    }
}

class Server final : public QAbstractHttpServer {
public:
    explicit Server(HttpHandler handler) : handler_(std::move(handler)) {}

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        HttpRequest r;
        r.method = methodName(request.method());
        r.path = request.url().path(QUrl::FullyDecoded);
        for (const auto& [key, value] : request.query().queryItems(QUrl::FullyDecoded))
            r.query.emplace_back(key, value);
        r.body = request.body();
        QHostAddress peer = request.remoteAddress();
        bool mapped = false;
        const quint32 v4 = peer.toIPv4Address(&mapped);
        r.client = mapped ? QHostAddress(v4).toString() : peer.toString();
        HttpResponse response;
        try {
            response = handler_(r);
        } catch (...) {
            response = HttpResponse{500, "text/plain; charset=utf-8", "erro interno\n"};
        }
        auto responder = makeResponder(request, socket);
        const auto status = static_cast<QHttpServerResponder::StatusCode>(response.status);
        const auto& h = kSecurityHeaders;
        if (response.contentType.isEmpty())
            responder.write({h[0], h[1], h[2]}, status);
        else
            responder.write(response.body, {{"Content-Type", response.contentType}, h[0], h[1], h[2]}, status);
        return true;
    }
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
    }

private:
    HttpHandler handler_;
};

class QtHttpService final : public HttpService {
public:
    explicit QtHttpService(HttpHandler handler) : handler_(std::move(handler)) {}

    int listen(int first, int last, bool loopbackOnly) override {
        close();
        const QHostAddress address = loopbackOnly ? QHostAddress::LocalHost : QHostAddress::AnyIPv4;
        for (int port = first; port <= last; ++port) {
            if (port <= 0 || port > 65535)
                continue;
            auto tcp = std::make_unique<QTcpServer>();
            if (!tcp->listen(address, static_cast<quint16>(port)))
                continue;
            server_ = std::make_unique<Server>(handler_);
            tcp->setParent(server_.get());
            server_->bind(tcp.release());
            port_ = port;
            return port;
        }
        return 0;
    }
    void close() override {
        server_.reset();
        port_ = 0;
    }
    int port() const override { return port_; }

private:
    HttpHandler handler_;
    std::unique_ptr<Server> server_;
    int port_ = 0;
};

}  // namespace

std::unique_ptr<HttpService> makeHttpService(HttpHandler handler) {
    return std::make_unique<QtHttpService>(std::move(handler));
}

QString firstNetworkAddress() {
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning) ||
            (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
                return ip.toString();
        }
    }
    return QString();
}

}  // namespace vozaro::platform
