// What the web server answers: the page for the guests' phones and the JSON
// interface it uses (also open to scripts).
//
//   GET  /                  the page (from the program's resources)
//   GET  /api/musicas?q=TEXT&pagina=N
//        {"total": T, "musicas": [{"numero", "interprete", "musica"}, ...]},
//        50 a page, by number; 400 a query of more than 8 words or 200
//        characters, 429 more than 5 searches a second from one address
//   GET  /api/fila          [{"id", "posicao", "cantor", "interprete", "musica",
//                             "espera", "seu"}, ...]: "espera" in whole minutes,
//        rounded up, until the request starts (waitsMs); "seu" true for the
//        requests made from the asking address
//   POST /api/cancelar      {"id": k}: a phone takes back its own request
//        while it waits.  200 {"cancelado": k}; 404 no such request of this
//        address waiting; 400 malformed, 413 a body over 2 KB, 503 requests
//        by phone switched off
//   POST /api/pedidos       {"numero": 7, "cantor": "Ana", "codigo": "123456"}
//        201 {"posicao": k}; 429 a try within 2 seconds of the last from the
//        same address (before anything else is looked at, so that a burst
//        learns nothing); 400 malformed or a name that cannot be shown or
//        stored, 403 wrong code, 404 no such song, 413 a body over 2 KB,
//        429 too many requests, 503 requests by phone switched off
//
// Other paths answer 404, other methods on these paths 405.  Refusals carry
// {"erro": "..."} in Portuguese.  Nothing is read from the disk but the
// catalogue (read, never written).
//
// Searches run where the request arrives (the web server's thread), on the
// catalogue's current snapshot; the queue is read and a request placed on
// the thread that created the PhoneApi (the user-interface thread), which
// answers when it gets to it.  No thread waits for another.
//
// thread: created on the user-interface thread; handle on one thread at a
// time (the web server's); destroyed after the server has closed.
#pragma once

#include <QHash>
#include <QObject>

#include <array>
#include <cstdint>
#include <functional>

#include "platform/network/HttpService.h"
#include "phone/JsonAnswer.h"
#include "phone/PhoneRequests.h"

namespace vozaro::stage {

// The address a phone opens: "http://ADDRESS:PORT/?c=CODE".
QString phoneAddress(const QString& address, int port, const QString& code);

class PhoneApi {
public:
    static constexpr int kMaxBody = 2048;
    static constexpr int kMaxQuery = 200;        // characters of a search
    static constexpr int kMaxQueryWords = 8;
    static constexpr int kSearchesPerSecond = 5;  // per address
    static constexpr std::int64_t kTryIntervalMs = 2000;  // per address, for a request with a code

    // `clockMs`: a monotonic clock in milliseconds, read on the server's
    // thread.
    explicit PhoneApi(PhoneRequests& requests, std::function<std::int64_t()> clockMs = steadyMs);

    void handle(const platform::HttpRequest& request, platform::HttpResponder respond);

    // The answer the server gives of its own to a request it does not take
    // (400, 408, 411, 413, 431).
    static platform::HttpResponse refusal(int status);

    static std::int64_t steadyMs();

private:
    platform::HttpResponse songs(const platform::HttpRequest& request);
    platform::HttpResponse queue(const QString& client);
    void cancelRequest(const platform::HttpRequest& request, platform::HttpResponder respond);
    void placeRequest(const platform::HttpRequest& request, platform::HttpResponder respond);
    static platform::HttpResponse placed(const PhoneRequests::Outcome& outcome);
    // Runs `answer` on the user-interface thread and sends what it gives.
    void onUiThread(std::function<platform::HttpResponse()> answer, platform::HttpResponder respond);
    // Forgets the addresses whose last search and try are long past, when
    // many are remembered.
    void forgetOld(std::int64_t now);

    PhoneRequests& requests_;
    std::function<std::int64_t()> clockMs_;
    UiThreadAnswers ui_;  // made on the user-interface thread
    // The web server's thread only:
    QHash<QString, std::array<std::int64_t, kSearchesPerSecond>> searches_;  // per address, the last ones
    QHash<QString, std::int64_t> tries_;  // per address, the last request with a code
};

}  // namespace vozaro::stage
