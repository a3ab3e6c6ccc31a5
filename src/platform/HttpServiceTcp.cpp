// The web server: a QTcpServer on a thread of its own that reads each
// request within the limits of HttpLimits and hands on only bounded,
// well-formed ones.  (Qt HttpServer 6.4 reads a whole request, body and all,
// before a program sees any of it, and keeps idle connections for ever; so
// the requests are read here.)
//
// A connection is one of: waiting for a request (nothing of it yet), reading
// one (its deadline running), waiting for the handler's answer, or closing
// after its last answer.  Each reads at most a head and a body's worth of
// bytes from its socket (the socket's own buffer is limited to as much), so a
// client that sends more costs nothing until its request is taken.
#include <QHash>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "platform/HttpHead.h"
#include "platform/HttpService.h"

namespace vozaro::platform {

namespace {

QByteArray reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QString clientAddress(const QHostAddress& peer) {
    bool mapped = false;
    const quint32 v4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : peer.toString();
}

class Gate;

// Shared by the gate and every responder: where answers go, null once the
// server has closed.
struct Link {
    std::mutex mutex;
    Gate* gate = nullptr;
};

class Gate final : public QTcpServer {
public:
    Gate(HttpHandler handler, HttpRefusal refusal, HttpLimits limits, std::shared_ptr<Link> link)
        : handler_(std::move(handler)), refusal_(std::move(refusal)), limits_(limits), link_(std::move(link)) {
        // Out of descriptors: stop taking connections for a moment rather
        // than be woken for the same one again and again.
        connect(this, &QTcpServer::acceptError, this, [this] {
            pauseAccepting();
            QTimer::singleShot(200, this, [this] { resumeAccepting(); });
        });
    }
    ~Gate() override {
        QTcpServer::close();
        for (auto& [id, c] : connections_) {
            c.socket->disconnect();
            c.socket->abort();
        }
    }

    void answer(quint64 id, const HttpResponse& response) {
        const auto it = connections_.find(id);
        if (it == connections_.end() || !it->second.waiting)
            return;
        Connection& c = it->second;
        c.waiting = false;
        send(c, response, c.keepAlive);
        if (c.keepAlive)
            take(id);
    }

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            ::close(static_cast<int>(descriptor));
            delete socket;
            return;
        }
        const QString address = clientAddress(socket->peerAddress());
        int& fromAddress = perAddress_[address];
        if (static_cast<int>(connections_.size()) >= limits_.connections ||
            fromAddress >= limits_.connectionsPerAddress) {
            if (fromAddress == 0)
                perAddress_.remove(address);
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++fromAddress;
        socket->setReadBufferSize(limits_.headBytes + limits_.bodyBytes + 1);
        const quint64 id = ++lastId_;
        Connection& c = connections_[id];
        c.socket = socket;
        c.address = address;
        c.timer = new QTimer(socket);
        c.timer->setSingleShot(true);
        connect(c.timer, &QTimer::timeout, this, [this, id] { timedOut(id); });
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { take(id); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, id] {
            const auto it = connections_.find(id);
            if (it != connections_.end() && it->second.closing)
                shutDownSending(it->second);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { drop(id); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, id] { drop(id); });
        // The first request must arrive in time, from the start.
        c.reading = true;
        c.timer->start(limits_.requestMs);
        take(id);
    }

private:
    struct Connection {
        QTcpSocket* socket = nullptr;
        QTimer* timer = nullptr;  // the request's deadline, or the idle time
        QString address;
        QByteArray buffer;        // bytes read and not yet taken
        bool reading = false;     // a request under way, its deadline running
        bool waiting = false;     // for the handler's answer
        bool closing = false;     // after the last answer
        bool keepAlive = true;
        bool head = false;        // the request being answered is a HEAD
        qint64 drained = 0;       // bytes dropped while closing
    };
    static constexpr qint64 kDrainBytes = 65536;
    static constexpr int kLingerMs = 2000;

    // Takes the next request from what the connection has sent, as far as
    // it has arrived.
    void take(quint64 id) {
        const auto it = connections_.find(id);
        if (it == connections_.end())
            return;
        Connection& c = it->second;
        if (c.closing) {
            // What comes after the last answer is read and dropped, so that
            // closing does not reset the connection before the client has
            // read the answer; a client that goes on sending is cut off.
            c.drained += c.socket->readAll().size();
            if (c.drained > kDrainBytes)
                drop(id);
            return;
        }
        if (c.waiting)
            return;
        const qsizetype room = limits_.headBytes + limits_.bodyBytes + 1 - c.buffer.size();
        if (room > 0)
            c.buffer += c.socket->read(room);
        if (c.buffer.isEmpty()) {
            if (!c.reading)
                c.timer->start(limits_.idleMs);
            return;
        }
        if (!c.reading) {
            c.reading = true;
            c.timer->start(limits_.requestMs);
        }
        const qsizetype end = c.buffer.indexOf("\r\n\r\n");
        const qsizetype headSize = end < 0 ? c.buffer.size() : end + 4;
        const qsizetype lines = c.buffer.left(end < 0 ? c.buffer.size() : end + 2).count('\n');
        if (headSize > limits_.headBytes || lines > limits_.headLines)
            return refuse(c, 431);
        if (end < 0)
            return;
        HttpHead head = parseHttpHead(c.buffer.left(end + 2), limits_);
        if (head.refusal != 0)
            return refuse(c, head.refusal);
        if (c.buffer.size() < end + 4 + head.bodySize)
            return;
        head.request.body = c.buffer.mid(end + 4, head.bodySize);
        head.request.client = c.address;
        c.buffer.remove(0, end + 4 + head.bodySize);
        c.keepAlive = head.keepAlive;
        c.head = head.request.method == "HEAD";
        c.reading = false;
        c.waiting = true;
        c.timer->stop();
        std::shared_ptr<Link> link = link_;
        HttpResponder respond = [link, id](HttpResponse response) {
            const std::lock_guard<std::mutex> lock(link->mutex);
            if (Gate* gate = link->gate)
                QMetaObject::invokeMethod(
                    gate, [gate, id, r = std::move(response)] { gate->answer(id, r); }, Qt::QueuedConnection);
        };
        try {
            handler_(head.request, std::move(respond));
        } catch (...) {
            answer(id, HttpResponse{500, {}, {}});
        }
    }

    void send(Connection& c, const HttpResponse& response, bool keepAlive) {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reason(response.status) + "\r\n";
        if (!response.contentType.isEmpty())
            out += "Content-Type: " + response.contentType + "\r\n";
        out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
        for (const auto& [name, value] : kSecurityHeaders)
            out += name + ": " + value + "\r\n";
        out += "\r\n";
        if (!c.head)
            out += response.body;
        c.socket->write(out);
        if (!keepAlive) {
            // The answer is sent, then the sending side shut: the client
            // reads to the end and closes.  Gone then, or after a short
            // while when it does not.
            c.closing = true;
            c.timer->start(std::min(limits_.idleMs, kLingerMs));
            c.socket->flush();
            shutDownSending(c);
        }
    }

    void shutDownSending(Connection& c) {
        if (c.socket->bytesToWrite() > 0)
            return;  // again when the rest is written
        ::shutdown(static_cast<int>(c.socket->socketDescriptor()), SHUT_WR);
    }

    void refuse(Connection& c, int status) {
        c.reading = false;
        send(c, refusal_ ? refusal_(status) : HttpResponse{status, {}, {}}, false);
    }

    void timedOut(quint64 id) {
        const auto it = connections_.find(id);
        if (it == connections_.end())
            return;
        Connection& c = it->second;
        if (c.reading && !c.buffer.isEmpty() && !c.closing)
            return refuse(c, 408);
        drop(id);
    }

    void drop(quint64 id) {
        const auto it = connections_.find(id);
        if (it == connections_.end())
            return;
        QTcpSocket* socket = it->second.socket;
        const QString address = it->second.address;
        connections_.erase(it);
        if (--perAddress_[address] <= 0)
            perAddress_.remove(address);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }

    HttpHandler handler_;
    HttpRefusal refusal_;
    HttpLimits limits_;
    std::shared_ptr<Link> link_;
    std::unordered_map<quint64, Connection> connections_;
    QHash<QString, int> perAddress_;
    quint64 lastId_ = 0;
};

class TcpHttpService final : public HttpService {
public:
    TcpHttpService(HttpHandler handler, HttpRefusal refusal, HttpLimits limits)
        : handler_(std::move(handler)), refusal_(std::move(refusal)), limits_(limits) {}
    ~TcpHttpService() override { close(); }

    int listen(int first, int last, bool loopbackOnly) override {
        close();
        auto link = std::make_shared<Link>();
        auto gate = std::make_unique<Gate>(handler_, refusal_, limits_, link);
        auto thread = std::make_unique<QThread>();
        thread->setObjectName(QStringLiteral("vozaro-http"));
        gate->moveToThread(thread.get());
        thread->start();
        const QHostAddress address = loopbackOnly ? QHostAddress::LocalHost : QHostAddress::AnyIPv4;
        int port = 0;
        Gate* g = gate.get();
        {
            const std::lock_guard<std::mutex> lock(link->mutex);
            link->gate = g;  // before the first request can come
        }
        QMetaObject::invokeMethod(
            g,
            [g, &port, first, last, address] {
                for (int p = std::max(first, 1); p <= std::min(last, 65535) && port == 0; ++p)
                    if (g->listen(address, static_cast<quint16>(p)))
                        port = p;
            },
            Qt::BlockingQueuedConnection);
        link_ = std::move(link);
        gate_ = std::move(gate);
        thread_ = std::move(thread);
        if (port == 0)
            close();
        port_ = port;
        return port;
    }

    void close() override {
        port_ = 0;
        if (!thread_)
            return;
        {
            const std::lock_guard<std::mutex> lock(link_->mutex);
            link_->gate = nullptr;
        }
        // The gate and its sockets go on their own thread.
        Gate* gate = gate_.release();
        QMetaObject::invokeMethod(gate, [gate] { delete gate; }, Qt::BlockingQueuedConnection);
        thread_->quit();
        thread_->wait();
        thread_.reset();
        link_.reset();
    }

    int port() const override { return port_; }

private:
    HttpHandler handler_;
    HttpRefusal refusal_;
    HttpLimits limits_;
    std::shared_ptr<Link> link_;
    std::unique_ptr<Gate> gate_;
    std::unique_ptr<QThread> thread_;
    int port_ = 0;
};

}  // namespace

std::unique_ptr<HttpService> makeHttpService(HttpHandler handler, HttpRefusal refusal, HttpLimits limits) {
    return std::make_unique<TcpHttpService>(std::move(handler), std::move(refusal), limits);
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
