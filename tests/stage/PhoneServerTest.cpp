// Requests by phone over a real socket on 127.0.0.1, and on the stage: the
// server's port, the invitation with its QR code, a request that plays on
// Next with its singer's name.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QRegularExpression>

#include <atomic>

#include "catalogue/CatalogueFixture.h"
#include "midi/PlayerTestDevices.h"
#include "support/FakeCaptureDevice.h"
#include "support/FakeHttpService.h"
#include "support/ManualTimerService.h"
#include "support/ScopedManualWindowClock.h"
#include "platform/WindowTimer.h"
#include "stage/KaraokeSongs.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "settings/WindowTestSupport.h"
#include "phone/PhoneApi.h"
#include "stage/canvas/PhoneInvite.h"
#include "stage/RequestTyping.h"
#include "stage/vozaro_main.h"

using namespace vozaro::stage;
namespace platform = vozaro::platform;

namespace {

struct Reply {
    int status = 0;
    QByteArray body;
    QByteArray csp, nosniff, contentType;
};

// One request, waited for on the event loop that also runs the server
// (bounded: 5 s).
Reply fetch(QNetworkAccessManager& net, const QByteArray& method, const QString& url, const QByteArray& body = {}) {
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkReply* reply = net.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    Reply r;
    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    r.body = reply->readAll();
    r.csp = reply->rawHeader("Content-Security-Policy");
    r.nosniff = reply->rawHeader("X-Content-Type-Options");
    r.contentType = reply->rawHeader("Content-Type");
    reply->deleteLater();
    return r;
}

class PhoneServer : public CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        testApplication();
        ASSERT_TRUE(AbrirAlbum());
        RegistroAtual = TRegistroAlbum{"Caetano", "Caf\xE9 com Le\xE3o", "a.kar", ProximoNumero()};
        GravarRegistro(ContarMusicas());
        FecharAlbum();
        requests.setCode(QStringLiteral("654321"));
        requests.setAccepting(true);
    }
    // A free port with the nine after it free too, as far as can be seen.
    static int freePorts() {
        for (int port = 20000 + static_cast<int>(QCoreApplication::applicationPid() % 20000); port < 65000; port += 10) {
            bool free = true;
            for (int p = port; p < port + 10 && free; ++p) {
                QTcpServer probe;
                free = probe.listen(QHostAddress::LocalHost, static_cast<quint16>(p));
            }
            if (free)
                return port;
        }
        return 0;
    }

    RequestQueue queue;
    SongSnapshots songs;
    std::int64_t now = 0;
    PhoneRequests requests{songs, queue, nullptr, [this] { return now += 20000; }};
    std::atomic<std::int64_t> apiNow{0};  // read on the server's thread
    PhoneApi api{requests, [this] { return apiNow += 20000; }};
    platform::HttpHandler handler = [this](const platform::HttpRequest& r, platform::HttpResponder respond) {
        api.handle(r, std::move(respond));
    };
};

}  // namespace

TEST_F(PhoneServer, AnswersOnTheLoopbackWithTheSecurityHeaders) {
    const int first = freePorts();
    ASSERT_GT(first, 0);
    // The first port is taken: the next one is used.
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, static_cast<quint16>(first)));
    auto server = platform::makeHttpService(handler, PhoneApi::refusal);
    const int port = server->listen(first, first + 9, true);
    ASSERT_EQ(port, first + 1);
    EXPECT_EQ(server->port(), port);
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    QNetworkAccessManager net;

    struct Case {
        const char* method;
        const char* path;
        QByteArray body;
        int status;
        const char* contentType;
    };
    const Case cases[] = {
        {"GET", "/?c=654321", {}, 200, "text/html; charset=utf-8"},
        {"GET", "/pedidos.js", {}, 200, "text/javascript; charset=utf-8"},
        {"GET", "/api/musicas?q=CAFE%20leao", {}, 200, "application/json; charset=utf-8"},
        {"POST", "/api/pedidos", R"({"numero": 1, "cantor": " Ana ", "codigo": "654321"})", 201,
         "application/json; charset=utf-8"},
        {"GET", "/api/fila", {}, 200, "application/json; charset=utf-8"},
        {"POST", "/api/pedidos", R"({"numero": 1, "cantor": "Ana", "codigo": "111111"})", 403,
         "application/json; charset=utf-8"},
        {"POST", "/api/pedidos", "{" + QByteArray(3000, ' ') + "}", 413, "application/json; charset=utf-8"},
        {"DELETE", "/api/fila", {}, 405, "application/json; charset=utf-8"},
        {"GET", "/vozaro.alb", {}, 404, "application/json; charset=utf-8"},
    };
    for (const Case& c : cases) {
        const Reply r = fetch(net, c.method, base + QString::fromLatin1(c.path), c.body);
        EXPECT_EQ(r.status, c.status) << c.method << " " << c.path;
        EXPECT_EQ(r.contentType, c.contentType) << c.path;
        EXPECT_EQ(r.csp, "default-src 'self'") << c.path;
        EXPECT_EQ(r.nosniff, "nosniff") << c.path;
    }
    const Reply found = fetch(net, "GET", base + "/api/musicas?q=CAFE%20leao");
    EXPECT_EQ(QJsonDocument::fromJson(found.body)["musicas"][0]["musica"].toString(), QString::fromUtf8("Café com Leão"));
    const Reply fila = fetch(net, "GET", base + "/api/fila");
    EXPECT_EQ(QJsonDocument::fromJson(fila.body).array(),
              (QJsonArray{QJsonObject{{"id", 1}, {"posicao", 1}, {"cantor", "Ana"}, {"interprete", "Caetano"},
                                      {"musica", QString::fromUtf8("Café com Leão")}, {"espera", 0},
                                      {"seu", true}}}));
    EXPECT_EQ(queue.lines(), QStringList{QString::fromUtf8("00001 - Ana - Caetano - Café com Leão")});

    // All ten ports taken: none.
    auto second = platform::makeHttpService(handler, PhoneApi::refusal);
    std::vector<std::unique_ptr<QTcpServer>> blockers;
    for (int p = first + 2; p <= first + 9; ++p) {
        blockers.push_back(std::make_unique<QTcpServer>());
        blockers.back()->listen(QHostAddress::LocalHost, static_cast<quint16>(p));
    }
    EXPECT_EQ(second->listen(first, first + 9, true), 0);
    server->close();
    EXPECT_EQ(fetch(net, "GET", base + "/api/fila").status, 0);  // nobody answers
}

// --- on the stage -----------------------------------------------------------------

namespace {

class PhoneOnStage : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        previousStore = platform::installSettingsStore(std::make_unique<platform::MemorySettingsStore>());
        stage = std::make_unique<TformKaraoke>();
        ASSERT_TRUE(stage->created());
        vozaro::catalogue::setProgramFolder(folder.path().toStdString());
        ASSERT_TRUE(AbrirAlbum());
        RegistroAtual = TRegistroAlbum{"Tom & <b>", "<script>x</script>", "a.kar", ProximoNumero()};
        GravarRegistro(ContarMusicas());
        FecharAlbum();
        settings.Celular = true;
        settings.PortaCelular = 8080;
        stage->config = ConfigLink{};
        stage->config.settings = [this] { return &settings; };
        stage->makePhoneServer = [this](platform::HttpHandler handler) {
            auto fake = std::make_unique<platform::FakeHttpService>(std::move(handler), busy);
            server = fake.get();
            return fake;
        };
        stage->networkAddress = [this] { return address; };
        stage->resize(1280, 720);
    }
    void TearDown() override {
        stage->close();
        stage.reset();
        platform::installSettingsStore(std::move(previousStore));
    }
    platform::HttpResponse post(const QByteArray& body, const char* client = "192.168.0.20") {
        return server->deliver({"POST", QStringLiteral("/api/pedidos"), {}, body, QString::fromLatin1(client)});
    }

    vozaro::test::RecordingDevices devices;
    platform::ManualTimerService timers;
    platform::ScopedManualWindowClock clock{timers};
    platform::ScopedFakeCapture capture;
    QTemporaryDir folder;
    std::unique_ptr<platform::SettingsStore> previousStore;
    std::unique_ptr<TformKaraoke> stage;
    TKaraokeSettings settings;
    std::set<int> busy{8080, 8081};
    QString address = QStringLiteral("192.168.0.7");
    platform::FakeHttpService* server = nullptr;
    platform::ScopedMessageRecorder messages;
};

}  // namespace

TEST_F(PhoneOnStage, TheCodeShowsWhileNoSongPlaysAndARequestJoinsTheQueue) {
    stage->show();
    ASSERT_NE(stage->phoneServer(), nullptr);
    EXPECT_EQ(server->port(), 8082);
    EXPECT_FALSE(server->loopbackOnly());
    const QString code = stage->phoneRequests().code();
    EXPECT_EQ(stage->phoneUrl(), QStringLiteral("http://192.168.0.7:8082/?c=") + code);
    EXPECT_TRUE(messages.messages().empty());

    // The invitation, large while the stage is idle, keeps clear of the
    // logo and the button bar.
    const QRect invite = stage->phoneInviteRect();
    ASSERT_FALSE(invite.isEmpty());
    const int H = stage->canvasHeight();
    EXPECT_GE(invite.height(), H / 3);
    EXPECT_FALSE(invite.intersects(QRect(QPoint(10, 10), stage->logo.size())));
    EXPECT_LT(invite.bottom(), stage->panelBotoes->y());

    // The QR code, read back from the stage's picture, is the address.
    const QString zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    if (!zbarimg.isEmpty()) {
        QTemporaryDir shots;
        const QString shot = shots.filePath(QStringLiteral("stage.png"));
        ASSERT_TRUE(stage->canvas().save(shot));
        QProcess zbar;
        zbar.start(zbarimg, {QStringLiteral("--raw"), QStringLiteral("-q"), shot});
        ASSERT_TRUE(zbar.waitForFinished(20000));
        EXPECT_EQ(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), stage->phoneUrl());
    } else {
        ADD_FAILURE() << "zbarimg (zbar-tools) is not installed";
    }

    const QByteArray body = "{\"numero\": 1, \"cantor\": \"Ana\", \"codigo\": \"" + code.toLatin1() + "\"}";
    const platform::HttpResponse r = post(body);
    EXPECT_EQ(r.status, 201);
    // Shown as text in the queue panel, as a typed request would be.
    EXPECT_EQ(vozaro::test::requestLines(*stage),
              QStringList{QStringLiteral("00001 - Ana - Tom & <b> - <script>x</script>")});
    EXPECT_EQ(stage->FilaPosicoes, QStringList{QStringLiteral("0")});
    EXPECT_EQ(stage->Pedidos->item(0)->text(), QStringLiteral("00001 - Ana - Tom & <b> - <script>x</script>"));

    // Switched off and saved: the server closes and the code goes.
    settings.Celular = false;
    stage->applyPhoneSetting();
    EXPECT_TRUE(stage->phoneInviteRect().isEmpty());
    EXPECT_TRUE(stage->phoneUrl().isEmpty());
    EXPECT_EQ(stage->phoneServer(), nullptr);
    settings.Celular = true;
    stage->applyPhoneSetting();
    ASSERT_NE(stage->phoneServer(), nullptr);
    EXPECT_EQ(stage->phoneRequests().code(), code);  // drawn once a start
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{6}$")).match(code).hasMatch());
    EXPECT_FALSE(stage->phoneInviteRect().isEmpty());
}

TEST_F(PhoneOnStage, NoFreePortIsSaidOnceAndTheSettingStays) {
    for (int p = 8080; p <= 8089; ++p)
        busy.insert(p);
    stage->show();
    EXPECT_EQ(stage->phoneServer(), nullptr);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text,
              "Não foi possível receber pedidos pelo celular: as portas 8080 a 8089 estão ocupadas.");
    stage->applyPhoneSetting();
    EXPECT_EQ(messages.messages().size(), 1u);
    EXPECT_TRUE(settings.Celular);
    EXPECT_TRUE(stage->phoneInviteRect().isEmpty());
}

TEST_F(PhoneOnStage, WithoutANetworkTheStageSaysSoAndShowsNoCode) {
    address.clear();
    stage->show();
    ASSERT_NE(stage->phoneServer(), nullptr);
    EXPECT_TRUE(stage->phoneUrl().isEmpty());
    const QRect invite = stage->phoneInviteRect();
    ASSERT_FALSE(invite.isEmpty());
    EXPECT_LT(invite.height(), 100);  // one line of text, no code
}

TEST_F(PhoneOnStage, APhoneRequestPlaysOnNextWithItsSingerAndTheCodeComesBack) {
    namespace fx = vozaro::midi::fixtures;
    using fx::operator+;
    fx::writeFile((vozaro::catalogue::songsFolder() / "a.kar").string(),
                  vozaro::test::song({vozaro::test::lyricTrack({{100, "Can"}, {300, "ta"}}),
                                      fx::vlq(0) + fx::Bytes{0x90, 60, 100} + fx::vlq(400) + fx::Bytes{0x80, 60, 0}}));
    stage->show();
    ASSERT_FALSE(stage->phoneInviteRect().isEmpty());
    const QByteArray code = stage->phoneRequests().code().toLatin1();
    ASSERT_EQ(post("{\"numero\": 1, \"cantor\": \"Ana\", \"codigo\": \"" + code + "\"}").status, 201);
    stage->bProximaClick();
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_EQ(stage->Titulo, QStringLiteral("Ana - <script>x</script>"));
    EXPECT_TRUE(vozaro::test::requestLines(*stage).isEmpty());
    EXPECT_TRUE(stage->phoneInviteRect().isEmpty());  // no code while a song plays

    stage->bStopClick();
    ASSERT_TRUE(clock.advanceWhile([&] { return stage->phoneInviteRect().isEmpty(); }, 10000));
    EXPECT_TRUE(stage->panelBotoes->isEnabled());  // after the score, not before
}

// Fair turns, switched on in the window of more options while the stage
// runs: typed and phone requests alike join the first round without their
// singer; switched off, the queue is first come, first served again.
TEST_F(PhoneOnStage, FairTurnsPlaceTypedAndPhoneRequestsAlike) {
    stage->show();
    stage->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(stage.get()));
    const QByteArray code = stage->phoneRequests().code().toLatin1();
    const auto ask = [&](const char* singer, const char* client) {
        return post("{\"numero\": 1, \"cantor\": \"" + QByteArray(singer) + "\", \"codigo\": \"" + code + "\"}", client);
    };
    const auto singers = [&] { return vozaro::test::requestLines(*stage).replaceInStrings(" - <script>x</script>", "")
                                      .replaceInStrings(QRegularExpression("^00001 - | - Tom & <b>$"), ""); };
    settings.Revezamento = true;
    stage->optionsChanged();
    ASSERT_EQ(ask("Ana", "10.0.0.1").status, 201);
    vozaro::test::typeRequest(*stage, QStringLiteral("1"), QStringLiteral("ana"));
    EXPECT_EQ(QJsonDocument::fromJson(ask("Bia", "10.0.0.2").body)["posicao"].toInt(), 2);
    EXPECT_EQ(singers(), (QStringList{"Ana", "Bia", "ana"}));
    settings.Revezamento = false;
    stage->optionsChanged();
    ASSERT_EQ(ask("Caio", "10.0.0.3").status, 201);
    EXPECT_EQ(singers(), (QStringList{"Ana", "Bia", "ana", "Caio"}));
    EXPECT_EQ(stage->FilaPosicoes, (QStringList{"0", "0", "0", "0"}));
}
