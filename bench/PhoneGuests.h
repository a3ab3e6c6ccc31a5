// Guests at the program's web server, for the benchmarks that measure the
// stage while they come: the catalogue's 99,999 songs served on 127.0.0.1
// (on the server's own thread, the queue's side on the calling one), 20
// phones each from an address of its own searching it in a loop, and 300
// connections (from 38 addresses) that each send half a request and wait.
#pragma once

#include <QHostAddress>
#include <QTcpSocket>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "BigCatalogue.h"
#include "platform/network/HttpService.h"
#include "phone/PhoneApi.h"
#include "phone/PhoneRequests.h"
#include "karaoke/RequestQueue.h"
#include "phone/SongIndex.h"

namespace vozaro::bench {

// One guest's phone: searches one after the other on one connection (opened
// again when the server closes it) until `stop`; the milliseconds of each
// answered search and the number refused (429).
struct PhoneSearches {
    std::vector<double> ms;
    int refused = 0;
};

inline PhoneSearches phoneSearches(int port, int client, const std::atomic<bool>& stop) {
    // The phones stand for other machines: on this one they take only what
    // is left of the processor.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    PhoneSearches result;
    QTcpSocket socket;
    static const char* const queries[] = {"cafe", "coracao%20saudade", "S%C3%83O%20JO%C3%83O", "00042", "banda",
                                          "lua%20de%20mar", "", "aguas"};
    const QHostAddress from(QStringLiteral("127.0.4.%1").arg(client + 1));
    for (int i = 0; !stop.load(); ++i) {
        if (socket.state() != QAbstractSocket::ConnectedState) {
            socket.abort();
            socket.bind(from);
            socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
            if (!socket.waitForConnected(5000))
                continue;
        }
        const auto start = std::chrono::steady_clock::now();
        const QByteArray request = QByteArray("GET /api/musicas?q=") + queries[(client + i) % std::size(queries)] +
                                   " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        socket.write(request);
        QByteArray answer;
        qsizetype need = -1;
        while (need < 0 || answer.size() < need) {
            if (!socket.waitForReadyRead(10000))
                break;
            answer += socket.readAll();
            const qsizetype end = answer.indexOf("\r\n\r\n");
            if (need < 0 && end >= 0) {
                const qsizetype at = answer.toLower().indexOf("content-length:");
                need = at < 0 ? end + 4 : end + 4 + answer.mid(at + 15, answer.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
            }
        }
        if (need < 0 || answer.size() < need)
            continue;
        if (answer.startsWith("HTTP/1.1 429"))
            ++result.refused;
        else
            result.ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return result;
}

class PhoneGuests {
public:
    static constexpr int kPhones = 20, kHalfSent = 300;

    // Serves the catalogue; port() is 0 when no port was free.
    PhoneGuests()
        : requests_(songs_, queue_, nullptr, stage::PhoneApi::steadyMs),
          api_(requests_),
          server_(platform::makeHttpService(
              [this](const platform::HttpRequest& r, platform::HttpResponder respond) {
                  api_.handle(r, std::move(respond));
              },
              stage::PhoneApi::refusal)) {
        for (int first = 23000; first < 60000 && port_ == 0; first += 10)
            port_ = server_->listen(first, first + 9, true);
    }
    ~PhoneGuests() { leave(); }
    PhoneGuests(const PhoneGuests&) = delete;
    PhoneGuests& operator=(const PhoneGuests&) = delete;

    int port() const { return port_; }

    // The phones start searching and the half-sent connections are made.
    void come() {
        stop_ = false;
        searches_.assign(kPhones, {});
        for (int c = 0; c < kPhones; ++c)
            phones_.emplace_back([this, c] { searches_[static_cast<std::size_t>(c)] = phoneSearches(port_, c, stop_); });
        for (int i = 0; i < kHalfSent; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->bind(QHostAddress(QStringLiteral("127.0.3.%1").arg(1 + i / 8)));
            socket->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port_));
            socket->write("GET /api/musicas?q=cafe HTTP/1.1\r\nHo");
            halfSent_.push_back(std::move(socket));
        }
    }
    // The phones stop and the half-sent connections go.
    void leave() {
        stop_ = true;
        for (std::thread& phone : phones_)
            phone.join();
        phones_.clear();
        halfSent_.clear();
    }
    const std::vector<PhoneSearches>& searches() const { return searches_; }

private:
    BigCatalogue catalogue_;
    stage::RequestQueue queue_;
    stage::SongSnapshots songs_;
    stage::PhoneRequests requests_;
    stage::PhoneApi api_;
    std::unique_ptr<platform::HttpService> server_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<std::thread> phones_;
    std::vector<PhoneSearches> searches_;
    std::vector<std::unique_ptr<QTcpSocket>> halfSent_;
};

}  // namespace vozaro::bench
