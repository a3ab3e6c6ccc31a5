// vozaro-pedidos FOLDER [PORT]
//
// Serves the guests' page and its JSON interface for the catalogue in FOLDER
// (read only) on 127.0.0.1, on the first free port of PORT .. PORT + 9
// (default 8080), as the stage does with "Pedidos pelo celular" on, with a
// queue of its own.  Prints the page's address with this run's code on the
// first line, then every request line as it joins the queue.  Ends when its
// standard input ends.  For scripts and for testing the page in a browser.
//
// Exit status: 0 after its input ended, 2 for wrong arguments, 3 when no
// port was free.
#include <QCoreApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>

#include "stores/vozaro_colecao.h"
#include "platform/network/HttpService.h"
#include "phone/PhoneApi.h"

using namespace vozaro::stage;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: vozaro-pedidos FOLDER [PORT]\n");
        return 2;
    }
    const int first = argc == 3 ? std::atoi(argv[2]) : 8080;
    if (first < 1 || first > 65526) {
        std::fprintf(stderr, "vozaro-pedidos: PORT must be 1 to 65526\n");
        return 2;
    }
    vozaro::catalogue::setProgramFolder(argv[1]);

    RequestQueue queue;
    SongSnapshots songs;
    PhoneRequests requests(
        songs, queue,
        [&queue] {
            std::printf("%s\n", requestLine(queue.requests().last()).toUtf8().constData());
            std::fflush(stdout);
        },
        PhoneApi::steadyMs);
    requests.setCode(PhoneRequests::drawCode());
    requests.setAccepting(true);
    PhoneApi api(requests);

    auto server = vozaro::platform::makeHttpService(
        [&api](const vozaro::platform::HttpRequest& request, vozaro::platform::HttpResponder respond) {
            api.handle(request, std::move(respond));
        },
        PhoneApi::refusal);
    const int port = server->listen(first, first + 9, true);
    if (port == 0) {
        std::fprintf(stderr, "vozaro-pedidos: ports %d to %d are taken\n", first, first + 9);
        return 3;
    }
    std::printf("%s\n", phoneAddress(QStringLiteral("127.0.0.1"), port, requests.code()).toUtf8().constData());
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    return app.exec();
}
