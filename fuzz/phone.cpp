// Feeds arbitrary request bodies, search texts and paths to the phone
// requests' interface.  Every answer must be one of the statuses it knows,
// carry JSON, and a request may only ever add one line to the queue.
#include <QCoreApplication>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "stores/vozaro_colecao.h"
#include "support/FakeHttpService.h"
#include "phone/PhoneApi.h"

using namespace vozaro::stage;

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An empty program folder: no catalogue, every number unknown but the
    // request still passes every earlier rule.
    static const bool folder = [] {
        vozaro::catalogue::setProgramFolder(std::filesystem::temp_directory_path() / "vozaro-fuzz-phone-none");
        return true;
    }();
    (void)folder;
    // The queue's side answers through the event loop.
    static int argc = 1;
    static char name[] = "fuzz_phone";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    QStringList positions;
    RequestQueue queue(&positions);
    Request waiting;  // whatever a request's texts may hold
    waiting.numero = 1;
    waiting.position = 0;
    waiting.singer = waiting.interprete = waiting.musica = QString::fromUtf8(bytes);
    queue.append(waiting);
    SongSnapshots songs;
    std::int64_t now = 0, apiNow = 0;
    PhoneRequests requests(songs, queue, nullptr, [&now] { return now += 11000; });
    requests.setCode(QStringLiteral("123456"));
    requests.setAccepting(data[0] & 1);
    PhoneApi api(requests, [&apiNow] { return apiNow += 11000; });
    vozaro::platform::HttpRequest request;
    switch (data[0] >> 1 & 3) {
    case 0: request = {"POST", QStringLiteral("/api/pedidos"), {}, bytes, QStringLiteral("10.0.0.1")}; break;
    case 1:
        request = {"GET", QStringLiteral("/api/musicas"),
                   {{QStringLiteral("q"), QString::fromUtf8(bytes)}, {QStringLiteral("pagina"), QString::fromUtf8(bytes)}},
                   {}, QStringLiteral("10.0.0.1")};
        break;
    case 2: request = {"GET", QStringLiteral("/api/fila"), {}, {}, QStringLiteral("10.0.0.1")}; break;
    default: request = {bytes.left(8), QString::fromUtf8(bytes), {}, bytes, QStringLiteral("10.0.0.1")}; break;
    }
    const vozaro::platform::HttpResponse response = vozaro::platform::answerOf(
        [&api](const vozaro::platform::HttpRequest& r, vozaro::platform::HttpResponder respond) {
            api.handle(r, std::move(respond));
        },
        request);
    for (int known : {200, 201, 400, 403, 404, 405, 413, 429, 503})
        if (response.status == known) {
            check(!response.contentType.startsWith("application/json") ||
                  !QJsonDocument::fromJson(response.body).isNull());
            check(queue.count() <= 2 && queue.count() == static_cast<int>(positions.size()));
            return 0;
        }
    check(false);
    return 0;
}
