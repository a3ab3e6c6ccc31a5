// Requests from the guests' phones without a network: the catalogue search,
// the rules a request must pass, and the answers of the JSON interface.
#include "catalogue/CatalogueFixture.h"
#include "karaoke/SongSearch.h"
#include "support/CoreTestApplication.h"
#include "phone/PhoneApi.h"
#include "phone/PhoneRequests.h"
#include "phone/SongIndex.h"
#include "support/FakeHttpService.h"
#include "platform/TextEncoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

using namespace vozaro::stage;
using vozaro::platform::HttpRequest;
using vozaro::platform::HttpResponse;

namespace {

// A catalogue of songs with the texts given (UTF-8, stored as Windows-1252).
class PhoneCatalogue : public CatalogueTest {
protected:
    int32_t add(const char* interprete, const char* musica) {
        const int32_t numero = ProximoNumero();
        RegistroAtual = TRegistroAlbum{*vozaro::platform::utf8ToWindows1252(interprete),
                                       *vozaro::platform::utf8ToWindows1252(musica),
                                       "song" + std::to_string(numero) + ".kar", numero};
        GravarRegistro(ContarMusicas());
        return numero;
    }
    void fill() {
        ASSERT_TRUE(AbrirAlbum());
        add("Caetano", "Café com Leão");           // 1
        add("ÁGUAS", "Rio de Março");              // 2
        add("Tom & Vinícius", "<script>alert(1)</script>");  // 3
        add("Zé \"Aspas\"", "Garota de Ipanema");   // 4
        FecharAlbum();
    }
    std::vector<int32_t> numbersFound(const QString& query, int page = 1) {
        std::vector<int32_t> numbers;
        for (const IndexedSong* song : index().search(query, page).songs)
            numbers.push_back(song->numero);
        return numbers;
    }

    // The list as last read.
    const SongIndex& index() const { return *songs.current(); }

    SongSnapshots songs;
};

struct TestQueue {
    QStringList positions;
    RequestQueue queue{&positions};
    QStringList lines() const { return queue.lines(); }
};

// A request typed at the stage, with the texts given (UTF-8).
Request typed(int32_t numero, int32_t position, const char* singer, const char* interprete, const char* musica) {
    Request request;
    request.numero = numero;
    request.position = position;
    request.singer = QString::fromUtf8(singer);
    request.interprete = QString::fromUtf8(interprete);
    request.musica = QString::fromUtf8(musica);
    return request;
}

}  // namespace

TEST_F(PhoneCatalogue, SearchIgnoresCaseAndAccentsAndNeedsEveryWord) {
    fill();
    ASSERT_TRUE(songs.refresh());
    EXPECT_EQ(index().size(), 4);
    struct Case {
        const char* query;
        std::vector<int32_t> found;
    };
    const Case cases[] = {
        {"", {1, 2, 3, 4}},
        {"   ", {1, 2, 3, 4}},
        {"cafe", {1}},
        {"CAFÉ leao", {1}},
        {"aguas marco", {2}},
        {"águas café", {}},  // words of two songs: none has both
        {"00003", {3}},
        {"3", {3}},
        {"<SCRIPT>", {3}},
        {"vinicius &", {3}},
        {"\"aspas\"", {4}},
        {"ze ipanema", {4}},
        {"rio", {2}},
        {"xyz", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(numbersFound(QString::fromUtf8(c.query)), c.found) << c.query;
    EXPECT_EQ(vozaro::catalogue::searchKey(u"ÇÃO Ñ"), "cao n");
}

TEST_F(PhoneCatalogue, SearchPagesAreFiftySongsByNumber) {
    ASSERT_TRUE(AbrirAlbum());
    for (int i = 0; i < 120; ++i)
        add("Banda", i % 2 ? "Par" : "Impar");
    // Song 7 removed and its number given to a new song at the end of the
    // file: the pages still go by number.
    ASSERT_TRUE(ExcluirMusica(7));
    EXPECT_EQ(add("Banda", "Volta"), 7);
    FecharAlbum();
    ASSERT_TRUE(songs.refresh());
    const SongIndex::Page first = index().search(QString(), 1);
    EXPECT_EQ(first.total, 120);
    ASSERT_EQ(first.songs.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(first.songs[static_cast<size_t>(i)]->numero, i + 1);
    EXPECT_EQ(first.songs[6]->musica, "Volta");
    EXPECT_EQ(first.songs[6]->position, 119);
    EXPECT_EQ(index().search(QString(), 3).songs.size(), 20u);
    EXPECT_EQ(index().search(QString(), 3).songs.front()->numero, 101);
    EXPECT_TRUE(index().search(QString(), 4).songs.empty());
    EXPECT_EQ(index().search(QStringLiteral("impar"), 2).total, 59);  // 7 became "Volta"
    EXPECT_EQ(index().search(QStringLiteral("impar"), 2).songs.size(), 9u);
}

TEST_F(PhoneCatalogue, TheListFollowsTheAlbumFile) {
    EXPECT_TRUE(songs.refresh());  // no album file yet: empty
    EXPECT_EQ(index().size(), 0);
    fill();
    EXPECT_TRUE(songs.refresh());
    EXPECT_EQ(index().size(), 4);
    EXPECT_FALSE(songs.refresh());  // unchanged: not read again
    // An edit in place keeps the size and changes the time.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(AbrirAlbum());
    LerRegistro(0);
    RegistroAtual.Musica = "Outra";
    GravarRegistro(0);
    FecharAlbum();
    EXPECT_TRUE(songs.refresh());
    EXPECT_EQ(numbersFound(QStringLiteral("outra")), std::vector<int32_t>{1});
    // Reading never disturbs the open catalogue.
    ASSERT_TRUE(AbrirAlbum());
    vozaro::catalogue::seekAlbum(2);
    SongIndex().read(file("vozaro.alb"));
    TRegistroAlbum entry;
    vozaro::catalogue::readNextEntry(entry);
    EXPECT_EQ(entry.Numero, 3);
    FecharAlbum();
}

TEST_F(PhoneCatalogue, AFailedReadKeepsTheListAndIsTriedAgain) {
    fill();
    ASSERT_TRUE(songs.refresh());
    ASSERT_TRUE(AbrirAlbum());
    add("Novo", "Depois");
    FecharAlbum();
    // No descriptor left: the changed album cannot be opened.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    rlimit none = saved;
    none.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    const bool read = songs.refresh();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_FALSE(read);
    EXPECT_EQ(index().size(), 4);
    EXPECT_EQ(numbersFound(QStringLiteral("cafe")), std::vector<int32_t>{1});
    EXPECT_TRUE(songs.refresh());
    EXPECT_EQ(index().size(), 5);
}

TEST(PhoneRequestNames, NamesAreTrimmedAndMustBeStorable) {
    struct Case {
        const char* name;
        std::optional<const char*> queued;
    };
    const Case cases[] = {
        {"  Ana  ", "Ana"},
        {"", ""},
        {"   ", ""},
        {"José Ção", "José Ção"},
        {"123456789012345", "123456789012345"},
        {" 123456789012345 ", "123456789012345"},
        {"1234567890123456", std::nullopt},
        {"Ana\x01", std::nullopt},
        {"A\tna", std::nullopt},
        {"Ana\u202E", std::nullopt},  // turns the text around
        {"Ana \u4E2D", std::nullopt},  // not in Windows-1252
        {"Ana 😀", std::nullopt},
        {"<b>&\"'", "<b>&\"'"},
    };
    for (const Case& c : cases) {
        const auto name = PhoneRequests::checkedName(QString::fromUtf8(c.name));
        ASSERT_EQ(name.has_value(), c.queued.has_value()) << c.name;
        if (name) {
            EXPECT_EQ(*name, QString::fromUtf8(*c.queued)) << c.name;
        }
    }
    for (int i = 0; i < 50; ++i)
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{6}$")).match(PhoneRequests::drawCode()).hasMatch());
}

class PhoneRules : public PhoneCatalogue {
public:  // for the table rows
    void SetUp() override {
        PhoneCatalogue::SetUp();
        coreTestApplication();  // the page's resources
        fill();
        songs.refresh();
        requests.setCode(QStringLiteral("1234"));
        requests.setAccepting(true);
    }
    // An empty queue and new rules, long after every earlier request; then
    // what a table row does before its request.
    void startAfresh(const std::function<void(PhoneRules&)>& before) {
        q.queue.clear();
        requests = PhoneRequests(songs, q.queue, [this] { ++shown; }, [this] { return now; });
        requests.setCode(QStringLiteral("1234"));
        requests.setAccepting(true);
        now += 100000;
        if (before)
            before(*this);
    }
    PhoneRequests::Outcome ask(int32_t numero, const char* singer, const char* client = "10.0.0.2",
                               const char* code = "1234") {
        return requests.request(numero, QString::fromUtf8(singer), QString::fromLatin1(code),
                                QString::fromLatin1(client));
    }
    TestQueue q;
    int shown = 0;
    std::int64_t now = 100000;
    PhoneRequests requests{songs, q.queue, [this] { ++shown; }, [this] { return now; }};
};

TEST_F(PhoneRules, ARequestJoinsTheQueueAsATypedOne) {
    q.queue.append(typed(2, 1, "Host", "ÁGUAS", "Rio de Março"));
    const auto outcome = ask(1, "  Ana ");
    EXPECT_EQ(outcome.result, PhoneRequests::Result::Accepted);
    EXPECT_EQ(outcome.position, 2);
    EXPECT_EQ(shown, 1);
    // The line and the position a typed request of song 1 gets.
    ASSERT_TRUE(AbrirAlbum());
    const int32_t position = LocalizarMusica(1);
    FecharAlbum();
    EXPECT_EQ(q.lines().last(), requestLine(requestFor(RegistroAtual, position, QStringLiteral("Ana"))));
    EXPECT_EQ(q.positions.last(), QString::number(position));
    EXPECT_EQ(q.queue.requests().last().source, RequestSource::Phone);
    EXPECT_EQ(q.queue.requests().last().phone, "10.0.0.2");
    EXPECT_EQ(q.lines().last(), QString::fromUtf8("00001 - Ana - Caetano - Café com Leão"));
}

TEST_F(PhoneRules, EveryRefusal) {
    struct Case {
        const char* what;
        std::function<void(PhoneRules&)> before;
        int32_t numero;
        const char* singer;
        const char* client;
        const char* code;
        PhoneRequests::Result result;
    };
    using R = PhoneRequests::Result;
    const Case cases[] = {
        {"switched off", [](PhoneRules& t) { t.requests.setAccepting(false); }, 1, "Ana", "c", "1234", R::Off},
        {"wrong code", nullptr, 1, "Ana", "c", "4321", R::WrongCode},
        {"empty code", nullptr, 1, "Ana", "c", "", R::WrongCode},
        {"name too long", nullptr, 1, "1234567890123456", "c", "1234", R::BadName},
        {"control character", nullptr, 1, "A\nB", "c", "1234", R::BadName},
        {"not in Windows-1252", nullptr, 1, "Ωmega", "c", "1234", R::BadName},
        {"no such song", nullptr, 99, "Ana", "c", "1234", R::NoSuchSong},
        {"two waiting",
         [](PhoneRules& t) {
             t.ask(1, "A", "c");
             t.now += 10000;
             t.ask(2, "B", "c");
             t.now += 10000;
         },
         3, "C", "c", "1234", R::TooMany},
        {"within 10 seconds",
         [](PhoneRules& t) {
             t.ask(1, "A", "c");
             t.now += 9999;
         },
         2, "B", "c", "1234", R::TooMany},
        {"guessing codes",
         [](PhoneRules& t) {
             t.ask(1, "A", "c", "0000");
             t.now += 5000;
         },
         1, "A", "c", "0001", R::TooMany},
        {"queue full",
         [](PhoneRules& t) {
             for (int i = 0; i < PhoneRequests::kMaxQueue; ++i)
                 t.q.queue.append(typed(1, 0, "Host", "Caetano", "Café com Leão"));
         },
         1, "Ana", "c", "1234", R::TooMany},
        {"thirty in the last minute from all phones",
         [](PhoneRules& t) {
             for (int i = 0; i < PhoneRequests::kMaxPerMinute; ++i) {
                 t.ask(1, "A", QStringLiteral("10.1.0.%1").arg(i).toLatin1().constData());
                 t.now += 1900;
             }
         },
         1, "Ana", "c", "1234", R::TooMany},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startAfresh(c.before);
        const QStringList before = q.lines();
        EXPECT_EQ(ask(c.numero, c.singer, c.client, c.code).result, c.result);
        EXPECT_EQ(q.lines(), before);  // nothing queued
    }
}

TEST_F(PhoneRules, LimitsFollowTheQueue) {
    EXPECT_EQ(ask(1, "A").result, PhoneRequests::Result::Accepted);
    now += 10000;
    EXPECT_EQ(ask(1, "A").result, PhoneRequests::Result::Accepted);  // the same request twice
    now += 10000;
    EXPECT_EQ(ask(2, "A").result, PhoneRequests::Result::TooMany);
    EXPECT_EQ(ask(2, "B", "10.0.0.3").result, PhoneRequests::Result::Accepted);  // another phone
    // The host deletes one of the two equal requests, the next song takes
    // another: this phone may ask again, once per 10 seconds.
    q.queue.removeAt(1);
    EXPECT_EQ(ask(3, "A").result, PhoneRequests::Result::Accepted);
    now += 10000;
    EXPECT_EQ(ask(4, "A").result, PhoneRequests::Result::TooMany);
    q.queue.takeFirst();
    EXPECT_EQ(ask(4, "A").result, PhoneRequests::Result::Accepted);
    EXPECT_EQ(q.lines().size(), 3);

    // Many phones: those that waited out their interval are forgotten, a
    // phone within its interval is not.
    now += 10000;
    EXPECT_EQ(ask(1, "x", "10.9.9.9", "0000").result, PhoneRequests::Result::WrongCode);
    for (int i = 0; i < PhoneRequests::kForgetAfter + 5; ++i)
        ask(1, "x", QStringLiteral("10.8.%1.%2").arg(i / 256).arg(i % 256).toLatin1().constData(), "0000");
    now += 5000;
    EXPECT_EQ(ask(1, "x", "10.9.9.9", "0000").result, PhoneRequests::Result::TooMany);
    now += 5000;
    EXPECT_EQ(ask(1, "x", "10.9.9.9", "0000").result, PhoneRequests::Result::WrongCode);
}

// --- the JSON interface, without a network --------------------------------------

namespace {

HttpRequest call(const char* method, const char* path, std::vector<std::pair<QString, QString>> query = {},
                 QByteArray body = {}, const char* client = "10.0.0.9") {
    return HttpRequest{method, QString::fromLatin1(path), std::move(query), std::move(body), QString::fromLatin1(client)};
}

QJsonDocument parsed(const HttpResponse& response) { return QJsonDocument::fromJson(response.body); }

HttpResponse handled(PhoneApi& api, const HttpRequest& request) {
    return vozaro::platform::answerOf(
        [&api](const HttpRequest& r, vozaro::platform::HttpResponder respond) { api.handle(r, std::move(respond)); },
        request);
}

}  // namespace

TEST_F(PhoneRules, TheInterfaceAnswersInJson) {
    PhoneApi api(requests);
    const std::string album = readBytes(file("vozaro.alb"));
    const std::string index = readBytes(file("vozaro.idx"));
    HttpResponse r = handled(api, call("GET", "/api/musicas", {{"q", QString::fromUtf8("cafe")}}));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.contentType, "application/json; charset=utf-8");
    EXPECT_EQ(parsed(r).object(), (QJsonObject{{"total", 1},
                                               {"musicas", QJsonArray{QJsonObject{{"numero", 1},
                                                                                 {"interprete", "Caetano"},
                                                                                 {"musica", QString::fromUtf8("Café com Leão")}}}}}));
    r = handled(api, call("GET", "/api/musicas", {{"pagina", "2"}}));
    EXPECT_EQ(parsed(r)["total"].toInt(), 4);
    EXPECT_TRUE(parsed(r)["musicas"].toArray().isEmpty());

    r = handled(api, call("POST", "/api/pedidos", {}, R"({"numero": 3, "cantor": "Zé & <b>", "codigo": "1234"})"));
    EXPECT_EQ(r.status, 201);
    EXPECT_EQ(parsed(r).object(), (QJsonObject{{"posicao", 1}}));
    q.queue.append(typed(2, 1, "Bia", "ÁGUAS", "Rio de Março"));
    // Each phone sees which requests are its own, and how long each waits
    // (the songs' files cannot be read: 4 minutes each).
    for (const char* client : {"10.0.0.9", "10.0.0.8"}) {
        const QJsonArray fila = parsed(handled(api, call("GET", "/api/fila", {}, {}, client))).array();
        ASSERT_EQ(fila.size(), 2);
        EXPECT_EQ(fila[0].toObject(), (QJsonObject{{"id", 1}, {"posicao", 1}, {"cantor", QString::fromUtf8("Zé & <b>")},
                                                   {"interprete", QString::fromUtf8("Tom & Vinícius")},
                                                   {"musica", "<script>alert(1)</script>"}, {"espera", 0},
                                                   {"seu", QByteArray(client) == "10.0.0.9"}}));
        EXPECT_EQ(fila[1]["espera"].toInt(), 4);
        EXPECT_FALSE(fila[1]["seu"].toBool());
    }
    // A phone takes back its own request, never another's.
    const int before = shown;
    EXPECT_EQ(handled(api, call("POST", "/api/cancelar", {}, R"({"id": 1})", "10.0.0.8")).status, 404);
    EXPECT_EQ(handled(api, call("POST", "/api/cancelar", {}, R"({"id": 2})")).status, 404);  // typed at the stage
    r = handled(api, call("POST", "/api/cancelar", {}, R"({"id": 1})"));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(parsed(r).object(), (QJsonObject{{"cancelado", 1}}));
    EXPECT_EQ(q.lines().size(), 1);
    EXPECT_EQ(shown, before + 1);  // the stage shows it
    EXPECT_EQ(handled(api, call("POST", "/api/cancelar", {}, R"({"id": 1})")).status, 404);
    // The page and its two files come from the program's resources.
    for (const char* path : {"/", "/pedidos.js", "/pedidos.css"}) {
        r = handled(api, call("GET", path));
        EXPECT_EQ(r.status, 200) << path;
        EXPECT_FALSE(r.body.isEmpty()) << path;
    }
    EXPECT_TRUE(handled(api, call("GET", "/")).body.contains("name=\"q\""));
    EXPECT_TRUE(handled(api, call("GET", "/")).body.contains("name=\"cantor\""));
    // The catalogue is only ever read.
    EXPECT_EQ(readBytes(file("vozaro.alb")), album);
    EXPECT_EQ(readBytes(file("vozaro.idx")), index);
}

TEST_F(PhoneRules, TheQueueShowsTheSingerWhateverTheTextsHold) {
    struct Case {
        const char* cantor;
        const char* interprete;
        const char* musica;
    };
    const Case cases[] = {
        {"Ana", "Caetano", "Café com Leão"},
        {"", "Caetano", "Café com Leão"},
        {"A - B", "Caetano", "Café com Leão"},
        {"Ana", "Outro", "Título - Longo"},
        {"Ana - x - FORA", "X", "Y"},
        {"", "", ""},
    };
    QJsonArray expected;
    for (const Case& c : cases) {
        const Request& request = q.queue.append(typed(1, 0, c.cantor, c.interprete, c.musica));
        expected.append(QJsonObject{{"id", static_cast<qint64>(request.id)},
                                    {"posicao", expected.size() + 1},
                                    {"cantor", QString::fromUtf8(c.cantor)},
                                    {"interprete", QString::fromUtf8(c.interprete)},
                                    {"musica", QString::fromUtf8(c.musica)},
                                    {"espera", 4 * expected.size()},
                                    {"seu", false}});
    }
    PhoneApi api(requests);
    EXPECT_EQ(parsed(handled(api, call("GET", "/api/fila"))).array(), expected);
}

// Every refusal of the interface, one row each.
TEST_F(PhoneRules, TheInterfaceRefuses) {
    struct Case {
        const char* what;
        const char* method;
        const char* path;
        std::vector<std::pair<QString, QString>> query;
        QByteArray body;
        int status;
        std::function<void(PhoneRules&)> before = nullptr;
    };
    const QByteArray good = R"({"numero": 1, "cantor": "Ana", "codigo": "1234"})";
    const Case cases[] = {
        {"switched off", "POST", "/api/pedidos", {}, good, 503,
         [](PhoneRules& t) { t.requests.setAccepting(false); }},
        {"not JSON", "POST", "/api/pedidos", {}, "numero=1", 400},
        {"empty body", "POST", "/api/pedidos", {}, "", 400},
        {"an array", "POST", "/api/pedidos", {}, "[1]", 400},
        {"number as text", "POST", "/api/pedidos", {}, R"({"numero": "1", "codigo": "1234"})", 400},
        {"fraction", "POST", "/api/pedidos", {}, R"({"numero": 1.5, "codigo": "1234"})", 400},
        {"number too large", "POST", "/api/pedidos", {}, R"({"numero": 100000, "codigo": "1234"})", 400},
        {"number zero", "POST", "/api/pedidos", {}, R"({"numero": 0, "codigo": "1234"})", 400},
        {"singer not text", "POST", "/api/pedidos", {}, R"({"numero": 1, "cantor": 5, "codigo": "1234"})", 400},
        {"no code", "POST", "/api/pedidos", {}, R"({"numero": 1, "cantor": "Ana"})", 400},
        {"name too long", "POST", "/api/pedidos", {}, R"({"numero": 1, "cantor": "1234567890123456", "codigo": "1234"})", 400},
        {"control character", "POST", "/api/pedidos", {}, R"({"numero": 1, "cantor": "A\u0007", "codigo": "1234"})", 400},
        {"not storable", "POST", "/api/pedidos", {}, R"({"numero": 1, "cantor": "\u4e2d", "codigo": "1234"})", 400},
        {"wrong code", "POST", "/api/pedidos", {}, R"({"numero": 1, "cantor": "Ana", "codigo": "9999"})", 403},
        {"no such song", "POST", "/api/pedidos", {}, R"({"numero": 77, "cantor": "Ana", "codigo": "1234"})", 404},
        {"body over 2 KB", "POST", "/api/pedidos", {},
         R"({"numero": 1, "codigo": "1234", "x": ")" + QByteArray(2100, 'a') + "\"}", 413},
        {"too soon", "POST", "/api/pedidos", {}, good, 429,
         [](PhoneRules& t) { t.ask(2, "B", "10.0.0.9"); }},
        {"queue full", "POST", "/api/pedidos", {}, good, 429,
         [](PhoneRules& t) {
             for (int i = 0; i < PhoneRequests::kMaxQueue; ++i)
                 t.q.queue.append(typed(1, 0, "", "Caetano", "Café com Leão"));
         }},
        {"cancel switched off", "POST", "/api/cancelar", {}, R"({"id": 1})", 503,
         [](PhoneRules& t) {
             t.ask(1, "Ana", "10.0.0.9");
             t.requests.setAccepting(false);
         }},
        {"cancel without an id", "POST", "/api/cancelar", {}, R"({"numero": 1})", 400},
        {"cancel an id as text", "POST", "/api/cancelar", {}, R"({"id": "1"})", 400},
        {"cancel over 2 KB", "POST", "/api/cancelar", {}, R"({"id": 1, "x": ")" + QByteArray(2100, 'a') + "\"}", 413},
        {"get the cancelling", "GET", "/api/cancelar", {}, {}, 405},
        {"search page not a number", "GET", "/api/musicas", {{"pagina", "x"}}, {}, 400},
        {"search page zero", "GET", "/api/musicas", {{"pagina", "0"}}, {}, 400},
        {"search too long", "GET", "/api/musicas", {{"q", QString(201, QLatin1Char('a'))}}, {}, 400},
        {"unknown path", "GET", "/api/outra", {}, {}, 404},
        {"a file of the disk", "GET", "/../vozaro.alb", {}, {}, 404},
        {"resource path", "GET", "/phone/index.html", {}, {}, 404},
        {"post to the search", "POST", "/api/musicas", {}, good, 405},
        {"delete the queue", "DELETE", "/api/fila", {}, {}, 405},
        {"get the requests", "GET", "/api/pedidos", {}, {}, 405},
        {"put the page", "PUT", "/", {}, {}, 405},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startAfresh(c.before);
        const QStringList before = q.lines();
        PhoneApi api(requests);
        const HttpResponse r = handled(api, call(c.method, c.path, c.query, c.body));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.contentType, "application/json; charset=utf-8");
        EXPECT_FALSE(parsed(r)["erro"].toString().isEmpty());
        EXPECT_EQ(q.lines(), before);
    }
}
