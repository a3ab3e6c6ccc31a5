// What the web server answers: the page for the guests' phones and the JSON
// interface it uses (also open to scripts).
//
//   GET  /                  the page (from the program's resources)
//   GET  /api/musicas?q=TEXT&pagina=N
//        {"total": T, "musicas": [{"numero", "interprete", "musica"}, ...]},
//        50 a page, by number
//   GET  /api/fila          [{"posicao", "cantor", "interprete", "musica"}, ...]
//   POST /api/pedidos       {"numero": 7, "cantor": "Ana", "codigo": "1234"}
//        201 {"posicao": k}; 400 malformed or a name that cannot be shown or
//        stored, 403 wrong code, 404 no such song, 413 a body over 2 KB,
//        429 too many requests, 503 requests by phone switched off
//
// Other paths answer 404, other methods on these paths 405.  Refusals carry
// {"erro": "..."} in Portuguese.  Nothing is read from the disk but the
// catalogue (read, never written).
//
// thread: user-interface thread only.
#pragma once

#include "platform/HttpService.h"
#include "stage/PhoneRequests.h"

namespace vozaro::stage {

class PhoneApi {
public:
    static constexpr int kMaxBody = 2048;
    static constexpr int kMaxQuery = 200;  // characters of a search

    explicit PhoneApi(PhoneRequests& requests) : requests_(requests) {}

    platform::HttpResponse handle(const platform::HttpRequest& request);

    // The queue as the guests see it: singer, performer and title of each
    // request, taken from its line.
    struct QueuedRequest {
        QString cantor, interprete, musica;
    };
    static QueuedRequest splitLine(const QString& line, const SongIndex& songs);

private:
    platform::HttpResponse songs(const platform::HttpRequest& request);
    platform::HttpResponse queue();
    platform::HttpResponse placeRequest(const platform::HttpRequest& request);

    PhoneRequests& requests_;
};

}  // namespace vozaro::stage
