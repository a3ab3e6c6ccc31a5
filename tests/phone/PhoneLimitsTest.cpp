// The phone server's limits against real sockets on 127.0.0.1: clients
// bound to addresses of their own (127.0.0.x) open connections, send
// requests whole, in part or slowly, and see what the server answers or
// whether it closes them.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

#include "catalogue/CatalogueFixture.h"
#include "support/CoreTestApplication.h"
#include "phone/PhoneApi.h"

using namespace vozaro::stage;
namespace platform = vozaro::platform;

namespace {

constexpr int kOpen = -1;    // connected, and still open
constexpr int kClosed = -2;  // closed by the server without an answer

// Runs the event loop until `done` or `ms` have passed; whether `done`.
template <typename Done>
bool waitFor(Done done, int ms = 5000) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

struct Client {
    std::unique_ptr<QTcpSocket> socket = std::make_unique<QTcpSocket>();
    QByteArray received;

    bool connect(const char* from, int port) {
        socket->setProxy(QNetworkProxy::NoProxy);
        if (!socket->bind(QHostAddress(QString::fromLatin1(from))))
            return false;
        socket->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        // Connected, or already closed again by the server.
        return waitFor([&] {
                   const auto state = socket->state();
                   return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::UnconnectedState;
               }) &&
               socket->error() != QAbstractSocket::ConnectionRefusedError;
    }
    bool closed() {
        received += socket->readAll();
        return socket->state() == QAbstractSocket::UnconnectedState;
    }
    // The status of the next whole answer, or 0 when none came.
    int answer() {
        int status = 0;
        waitFor([&] {
            received += socket->readAll();
            const qsizetype end = received.indexOf("\r\n\r\n");
            if (end < 0)
                return socket->state() == QAbstractSocket::UnconnectedState;
            const qsizetype at = received.indexOf("Content-Length: ");
            const qsizetype size = received.mid(at + 16, received.indexOf("\r\n", at) - at - 16).toLongLong();
            if (received.size() < end + 4 + size)
                return false;
            status = received.mid(9, 3).toInt();
            received.remove(0, end + 4 + size);
            return true;
        });
        return status;
    }
};

// One step of a row: on connection `connection` (opened from `from` when
// new) send `bytes` (one byte every 20 ms when `slowly`), then expect an
// answer's status, kOpen or kClosed.
struct Step {
    int connection;
    const char* from;
    QByteArray bytes;
    int expect;
    bool slowly = false;
};

QByteArray get(const QByteArray& target) { return "GET " + target + " HTTP/1.1\r\nHost: vozaro\r\n\r\n"; }

QByteArray post(const QByteArray& body) {
    return "POST /api/pedidos HTTP/1.1\r\nHost: vozaro\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray codeTry(const char* code, int numero) {
    return post("{\"numero\": " + QByteArray::number(numero) + ", \"cantor\": \"Ana\", \"codigo\": \"" + code + "\"}");
}

// `count` connections from `from`, from connection `first` on, each expected
// as `expect`.
std::vector<Step> connections(int first, int count, const char* from, int expect) {
    std::vector<Step> steps;
    for (int i = 0; i < count; ++i)
        steps.push_back({first + i, from, {}, expect});
    return steps;
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class PhoneLimits : public CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        coreTestApplication();
        ASSERT_TRUE(AbrirAlbum());
        RegistroAtual = TRegistroAlbum{"Caetano", "Le\xE3ozinho", "a.kar", ProximoNumero()};
        GravarRegistro(ContarMusicas());
        FecharAlbum();
    }
};

}  // namespace

TEST_F(PhoneLimits, TheServerKeepsToItsLimits) {
    struct Row {
        const char* what;
        std::vector<Step> steps;
        platform::HttpLimits limits = {};
    };
    platform::HttpLimits quick;  // time-outs short enough to wait for
    quick.requestMs = 300;
    quick.idleMs = 400;
    const QByteArray search = get("/api/musicas?q=leaozinho");
    QByteArray longHead = "GET / HTTP/1.1\r\nX-Long: " + QByteArray(8200, 'a') + "\r\n\r\n";
    QByteArray manyLines = "GET / HTTP/1.1\r\n";
    for (int i = 0; i < 64; ++i)
        manyLines += "X-Line: a\r\n";
    manyLines += "\r\n";
    const Row rows[] = {
        {"nine connections from one address: the ninth is closed unread, the eight work",
         connections(0, 8, "127.0.0.2", kOpen) + std::vector<Step>{{8, "127.0.0.2", search, kClosed}, {0, "", search, 200}}},
        {"sixty-five connections in all: the last is closed unread",
         connections(0, 8, "127.0.1.1", kOpen) + connections(8, 8, "127.0.1.2", kOpen) +
             connections(16, 8, "127.0.1.3", kOpen) + connections(24, 8, "127.0.1.4", kOpen) +
             connections(32, 8, "127.0.1.5", kOpen) + connections(40, 8, "127.0.1.6", kOpen) +
             connections(48, 8, "127.0.1.7", kOpen) + connections(56, 8, "127.0.1.8", kOpen) +
             std::vector<Step>{{64, "127.0.1.9", search, kClosed}, {63, "", search, 200}}},
        {"a connection that sends nothing is closed", {{0, "127.0.0.3", {}, kClosed}}, quick},
        {"a head that trickles in gets 408",
         {{0, "127.0.0.4", "GET /api/fila HTTP/1.1\r\nX-Slow: " + QByteArray(200, 'a'), 408, true}}, quick},
        {"an idle kept-alive connection is closed",
         {{0, "127.0.0.5", search, 200}, {0, "", {}, kClosed}}, quick},
        {"a declared body over 2 KB gets 413 before it is sent",
         {{0, "127.0.0.6",
           "POST /api/pedidos HTTP/1.1\r\nHost: vozaro\r\nContent-Length: 104857600\r\n\r\n", 413}}},
        {"a chunked body gets 411",
         {{0, "127.0.0.7", "POST /api/pedidos HTTP/1.1\r\nHost: vozaro\r\nTransfer-Encoding: chunked\r\n\r\n", 411}}},
        {"a head over 8 KB gets 431", {{0, "127.0.0.8", longHead, 431}}},
        {"a head of 65 lines gets 431", {{0, "127.0.0.9", manyLines, 431}}},
        {"a query of nine words gets 400, of eight 200",
         {{0, "127.0.0.10", get("/api/musicas?q=a%20b%20c%20d%20e%20f%20g%20h%20i"), 400},
          {0, "", get("/api/musicas?q=a%20b%20c%20d%20e%20f%20g%20h"), 200}}},
        {"the sixth search within a second gets 429",
         {{0, "127.0.0.11", search, 200}, {0, "", search, 200}, {0, "", search, 200}, {0, "", search, 200},
          {1, "127.0.0.11", search, 200}, {1, "", search, 429}, {2, "127.0.0.12", search, 200}}},
        {"a burst of codes learns nothing: after a wrong one everything gets 429",
         {{0, "127.0.0.13", codeTry("000000", 1), 403}, {0, "", codeTry("000001", 1), 429},
          {0, "", codeTry("000002", 1), 429}, {0, "", codeTry("000003", 1), 429},
          {0, "", codeTry("654321", 99), 429}, {1, "127.0.0.14", codeTry("654321", 99), 404}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RequestQueue queue;
        SongSnapshots songs;
        std::atomic<std::int64_t> now{1000000};
        PhoneRequests requests(songs, queue, nullptr, [&] { return now.load(); });
        requests.setCode(QStringLiteral("654321"));
        requests.setAccepting(true);
        PhoneApi api(requests, [&] { return now.load(); });
        auto server = platform::makeHttpService(
            [&](const platform::HttpRequest& r, platform::HttpResponder respond) { api.handle(r, std::move(respond)); },
            PhoneApi::refusal, row.limits);
        int port = 0;
        for (int first = 21000 + static_cast<int>(QCoreApplication::applicationPid() % 20000); port == 0 && first < 65000;
             first += 10)
            port = server->listen(first, first + 9, true);
        ASSERT_GT(port, 0);

        std::vector<Client> clients(row.steps.size() + 1);
        for (std::size_t i = 0; i < row.steps.size(); ++i) {
            const Step& step = row.steps[i];
            SCOPED_TRACE(i);
            Client& client = clients[static_cast<std::size_t>(step.connection)];
            if (client.socket->state() == QAbstractSocket::UnconnectedState && client.received.isEmpty() &&
                *step.from != '\0') {
                ASSERT_TRUE(client.connect(step.from, port));
            }
            if (step.slowly) {
                for (char c : step.bytes) {
                    if (client.closed())
                        break;
                    client.socket->write(&c, 1);
                    waitFor([] { return false; }, 20);
                }
            } else if (!step.bytes.isEmpty()) {
                client.socket->write(step.bytes);
            }
            if (step.expect == kOpen) {
                waitFor([] { return false; }, 20);
                EXPECT_FALSE(client.closed());
            } else if (step.expect == kClosed) {
                EXPECT_TRUE(waitFor([&] { return client.closed(); }));
                EXPECT_TRUE(client.received.isEmpty()) << client.received.left(100).toStdString();
            } else {
                EXPECT_EQ(client.answer(), step.expect);
            }
        }
        server->close();
    }
}
