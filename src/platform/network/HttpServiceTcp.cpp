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
//
// The server's thread is a standard one, joined on close, and no other
// thread touches its event loop: the port comes back through a future;
// answers, and the word to close, wait in a mailbox under a standard mutex
// and wake the gate through an eventfd.  So every hand-over between threads
// is one a thread checker sees (Qt's own are not instrumented).
#include <QCoreApplication>
#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QSocketNotifier>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/network/HttpHead.h"
#include "platform/network/HttpService.h"

namespace vozaro::platform {

namespace {

// The server thread's niceness (0 normal, 19 the least share).
constexpr int kGuestsNice = 10;

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

// Shared by the gate and every responder: the answers given and not yet
// taken by the gate, and the eventfd that wakes it for them.
struct Link {
    std::mutex mutex;
    int wake = -1;
    bool closed = false;  // answers are dropped; the gate is going
    std::vector<std::pair<quint64, HttpResponse>> answers;

    // Under the mutex.
    void wakeGate() const {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
    }
};

class Gate final : public QTcpServer {
public:
    Gate(HttpHandler handler, HttpRefusal refusal, HttpLimits limits, std::shared_ptr<Link> link)
        : handler_(std::move(handler)), refusal_(std::move(refusal)), limits_(limits), link_(std::move(link)) {
        // The phones are on the same network: a proxy of the system's has
        // no part in it (and is not even looked up).
        setProxy(QNetworkProxy::NoProxy);
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
        const std::lock_guard<std::mutex> lock(link_->mutex);
        link_->closed = true;
        link_->answers.clear();
        ::close(std::exchange(link_->wake, -1));
    }

    // On the thread the gate was made on: listens on the first free port
    // of first..last, hands it to `port` (0: none), and serves until closed.
    void serve(const QHostAddress& address, int first, int last, std::promise<int>& port) {
        QSocketNotifier wake(link_->wake, QSocketNotifier::Read);
        connect(&wake, &QSocketNotifier::activated, this, &Gate::takeAnswers);
        int taken = 0;
        for (int p = std::max(first, 1); p <= std::min(last, 65535) && taken == 0; ++p)
            if (listen(address, static_cast<quint16>(p)))
                taken = p;
        port.set_value(taken);
        if (taken != 0)
            loop_.exec();
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

    void takeAnswers() {
        quint64 count = 0;
        [[maybe_unused]] const ssize_t read = ::read(link_->wake, &count, sizeof count);
        std::vector<std::pair<quint64, HttpResponse>> answers;
        {
            const std::lock_guard<std::mutex> lock(link_->mutex);
            if (link_->closed) {
                loop_.quit();
                return;
            }
            answers.swap(link_->answers);
        }
        for (const auto& [id, response] : answers)
            answer(id, response);
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
            if (link->closed)
                return;
            link->answers.emplace_back(id, std::move(response));
            if (link->answers.size() == 1)
                link->wakeGate();
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
            // The answer is sent, then the sending side shut (once it is
            // written: see bytesWritten; a flush here could fail, drop the
            // connection and free `c` under the caller): the client reads to
            // the end and closes.  Gone then, or after a short while when it
            // does not.
            c.closing = true;
            c.timer->start(std::min(limits_.idleMs, kLingerMs));
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
    QEventLoop loop_;
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
        // The server's event loop needs the application's.
        if (!QCoreApplication::instance())
            return 0;
        auto link = std::make_shared<Link>();
        link->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (link->wake < 0)
            return 0;
        const QHostAddress address = loopbackOnly ? QHostAddress::LocalHost : QHostAddress::AnyIPv4;
        std::promise<int> taken;
        std::future<int> taking = taken.get_future();
        try {
            thread_ = std::thread([handler = handler_, refusal = refusal_, limits = limits_, link, address, first,
                                   last, &taken] {
                pthread_setname_np(pthread_self(), "vozaro-http");
                // Guests never compete with the song, its sound and the
                // stage for the processor: however many come, the server
                // takes what the rest of the program leaves.
                setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kGuestsNice);
                Gate gate(handler, refusal, limits, link);
                gate.serve(address, first, last, taken);
            });
        } catch (const std::system_error&) {
            ::close(link->wake);
            return 0;
        }
        const int port = taking.get();
        link_ = std::move(link);
        if (port == 0)
            close();
        port_ = port;
        return port;
    }

    void close() override {
        port_ = 0;
        if (!thread_.joinable())
            return;
        {
            const std::lock_guard<std::mutex> lock(link_->mutex);
            link_->closed = true;
            link_->wakeGate();
        }
        thread_.join();
        link_.reset();
    }

    int port() const override { return port_; }

private:
    HttpHandler handler_;
    HttpRefusal refusal_;
    HttpLimits limits_;
    std::shared_ptr<Link> link_;
    std::thread thread_;
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
