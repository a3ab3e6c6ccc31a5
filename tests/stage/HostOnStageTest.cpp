// The host's page on the stage, through the fake web server: each command
// goes through the stage's own handler and the stage shows it; the stage
// refuses while it cannot take one; a new password ends the tokens.
#include <gtest/gtest.h>

#include <QDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QPushButton>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "controls/Slider.h"
#include "midi/PlayerTestDevices.h"
#include "platform/MessageBox.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "support/MessageRecorder.h"
#include "settings/OptionsWindow.h"
#include "settings/WindowTestSupport.h"
#include "stage/KaraokeSongs.h"
#include "stage/RequestTyping.h"
#include "stage/vozaro_main.h"
#include "support/FakeCaptureDevice.h"
#include "support/FakeHttpService.h"
#include "support/ManualTimerService.h"
#include "support/ScopedManualWindowClock.h"

using namespace vozaro::stage;
namespace platform = vozaro::platform;

namespace {

class HostOnStage : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        previousStore = platform::installSettingsStore(std::make_unique<platform::MemorySettingsStore>());
        stage = std::make_unique<TformKaraoke>();
        ASSERT_TRUE(stage->created());
        vozaro::catalogue::setProgramFolder(folder.path().toStdString());
        vozaro::test::catalogueOfShortSongs({"Um", "<i>Dois</i>", "Tr\xEAs"});
        settings.Celular = true;
        settings.SenhaAnfitriao = 123456;
        stage->config = ConfigLink{};
        stage->config.settings = [this] { return &settings; };
        if (realServer) {
            QTcpServer probe;  // a free port on the loopback
            ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
            settings.PortaCelular = std::min<int>(probe.serverPort(), kLastPhonePort);
            stage->phoneLoopbackOnly = true;
        } else {
            stage->makePhoneServer = [this](platform::HttpHandler handler) {
                auto fake = std::make_unique<platform::FakeHttpService>(std::move(handler), std::set<int>{});
                server = fake.get();
                return fake;
            };
        }
        stage->networkAddress = [] { return QStringLiteral("192.168.0.7"); };
        stage->resize(1280, 720);
        stage->show();
        ASSERT_NE(stage->phoneServer(), nullptr);
    }
    void TearDown() override {
        stage->close();
        stage.reset();
        platform::installSettingsStore(std::move(previousStore));
    }
    platform::HttpResponse send(const char* method, const char* path, const QByteArray& body = {}) {
        platform::HttpRequest request{method, QString::fromLatin1(path), {}, body, QStringLiteral("192.168.0.40")};
        request.authorization = "Bearer " + token;
        return server->deliver(request);
    }
    QByteArray logIn(const QByteArray& password) {
        const auto r = send("POST", "/api/anfitriao/entrar", "{\"senha\": \"" + password + "\"}");
        return r.status == 200 ? QJsonDocument::fromJson(r.body)["token"].toString().toLatin1() : QByteArray();
    }

    bool realServer = false;  // the program's own web server on 127.0.0.1, else the fake
    vozaro::test::RecordingDevices devices;
    platform::ManualTimerService timers;
    platform::ScopedManualWindowClock clock{timers};
    platform::ScopedFakeCapture capture;
    QTemporaryDir folder;
    std::unique_ptr<platform::SettingsStore> previousStore;
    std::unique_ptr<TformKaraoke> stage;
    TKaraokeSettings settings;
    platform::FakeHttpService* server = nullptr;
    platform::ScopedMessageRecorder messages;
    QByteArray token;
};

}  // namespace

TEST_F(HostOnStage, EachRequestGoesThroughTheStagesHandlerAndTheStageShowsIt) {
    stage->phoneRequests().setCode(QStringLiteral("111111"));
    EXPECT_TRUE(logIn("111111").isEmpty());  // the guests' code opens nothing
    token = logIn("123456");
    ASSERT_FALSE(token.isEmpty());
    // What the stage shows: playing, the title, the key, speed and volume
    // sliders, the microphone's volume and echo and the melody's volume, and
    // the queue panel (each request's number and singer).
    const auto shown = [this] {
        QStringList queue;
        for (const Request& r : stage->phoneRequests().queue().requests())
            queue << QStringLiteral("%1 %2").arg(r.numero).arg(r.singer).trimmed();
        EXPECT_EQ(queue.size(), stage->Pedidos->count());
        return QStringLiteral("%1|%2|%3|%4|%5|%6/%7/%8|%9")
            .arg(stage->MidiPlayer.Play())
            .arg(stage->Titulo)
            .arg(stage->MidiTone->value())
            .arg(stage->MidiTempo->value())
            .arg(stage->VolMidi->value())
            .arg(settings.VolumeRetorno)
            .arg(settings.EcoRetorno)
            .arg(settings.VolumeMelodia)
            .arg(queue.join(','));
    };
    enum Before { Nothing, WindowOpen, ScoreOver };
    struct Step {
        const char* path;  // under /api/anfitriao/
        QByteArray body;
        int status;
        const char* shows;
        Before before = Nothing;
    };
    const Step steps[] = {
        {"comando", R"({"acao": "proxima"})", 409, "0||0|50|0|50/30/100|"},  // no catalogue opens
        {"fila", R"({"acao": "pedir", "numero": 1, "cantor": "Ana"})", 200, "0||0|50|0|50/30/100|1 Ana"},
        {"fila", R"({"acao": "pedir", "numero": 2, "cantor": "Bia"})", 200, "0||0|50|0|50/30/100|1 Ana,2 Bia"},
        {"fila", R"({"acao": "pedir", "numero": 3})", 200, "0||0|50|0|50/30/100|1 Ana,2 Bia,3"},
        {"fila", R"({"acao": "pedir", "numero": 4})", 404, "0||0|50|0|50/30/100|1 Ana,2 Bia,3"},
        {"fila", R"({"acao": "pedir", "numero": 1, "cantor": "Nome longo demais"})", 400,
         "0||0|50|0|50/30/100|1 Ana,2 Bia,3"},
        {"fila", R"({"acao": "subir", "id": 3})", 200, "0||0|50|0|50/30/100|1 Ana,3,2 Bia"},
        {"fila", R"({"acao": "descer", "id": 1})", 200, "0||0|50|0|50/30/100|3,1 Ana,2 Bia"},
        {"fila", R"({"acao": "remover", "id": 1})", 200, "0||0|50|0|50/30/100|3,2 Bia"},
        {"fila", R"({"acao": "remover", "id": 1})", 404, "0||0|50|0|50/30/100|3,2 Bia"},  // a stale page
        {"comando", R"({"acao": "tom", "valor": 2})", 200, "0||2|50|0|50/30/100|3,2 Bia"},
        {"comando", R"({"acao": "tom", "valor": 25})", 400, "0||2|50|0|50/30/100|3,2 Bia"},
        {"comando", R"({"acao": "velocidade", "valor": 151})", 200, "0||2|76|0|50/30/100|3,2 Bia"},
        {"comando", R"({"acao": "velocidade", "valor": 101})", 200, "0||2|51|0|50/30/100|3,2 Bia"},
        {"comando", R"({"acao": "volume", "valor": 100})", 200, "0||2|51|65535|50/30/100|3,2 Bia"},
        {"comando", R"({"acao": "retorno", "valor": 70})", 200, "0||2|51|65535|70/30/100|3,2 Bia"},
        {"comando", R"({"acao": "eco", "valor": 60})", 200, "0||2|51|65535|70/60/100|3,2 Bia"},
        {"comando", R"({"acao": "melodia", "valor": 40})", 200, "0||2|51|65535|70/60/40|3,2 Bia"},
        {"comando", R"({"acao": "tom", "valor": 1})", 409, "0||2|51|65535|70/60/40|3,2 Bia", WindowOpen},
        {"fila", R"({"acao": "remover", "id": 2})", 409, "0||2|51|65535|70/60/40|3,2 Bia", WindowOpen},
        {"comando", R"({"acao": "proxima"})", 200, "1|Três|2|51|65535|70/60/40|2 Bia"},
        {"fila", R"({"acao": "pedir", "numero": 2, "cantor": "Caio"})", 200, "1|Três|2|51|65535|70/60/40|2 Bia,2 Caio"},
        // As the catalogue's "Tocar Agora": the song stops (key and speed
        // back to normal) and this request starts.
        {"fila", R"({"acao": "tocar_agora", "id": 4})", 200, "1|Caio - <i>Dois</i>|0|50|65535|70/60/40|2 Bia"},
        {"comando", R"({"acao": "parar"})", 200, "0|Caio - <i>Dois</i>|0|50|65535|70/60/40|2 Bia"},
        {"comando", R"({"acao": "tom", "valor": 1})", 409, "0|Caio - <i>Dois</i>|0|50|65535|70/60/40|2 Bia"},  // score
        {"comando", R"({"acao": "tom", "valor": 1})", 200, "0|Caio - <i>Dois</i>|1|50|65535|70/60/40|2 Bia", ScoreOver},
    };
    for (const Step& step : steps) {
        QDialog window(stage.get());
        window.setModal(true);
        if (step.before == WindowOpen)
            window.show();
        if (step.before == ScoreOver) {
            ASSERT_TRUE(clock.advanceWhile([&] { return !stage->panelBotoes->isEnabled(); }, 20000));
        }
        const QByteArray path = "/api/anfitriao/" + QByteArray(step.path);
        EXPECT_EQ(send("POST", path.constData(), step.body).status, step.status) << step.body.constData();
        EXPECT_EQ(shown(), QString::fromUtf8(step.shows)) << step.body.constData();
    }
    EXPECT_EQ(ReadSettingInt("EcoRetorno", 0), 60);  // stored as the window of more options stores it
    EXPECT_TRUE(messages.messages().empty());

    // The state as the page reads it.
    ASSERT_EQ(send("POST", "/api/anfitriao/comando", R"({"acao": "proxima"})").status, 200);
    ASSERT_EQ(send("POST", "/api/anfitriao/fila", R"({"acao": "pedir", "numero": 1, "cantor": "Ana"})").status, 200);
    EXPECT_EQ(QJsonDocument::fromJson(send("GET", "/api/anfitriao/estado").body).object(),
              (QJsonObject{{"tocando", QJsonObject{{"numero", 2}, {"cantor", "Bia"}, {"titulo", "<i>Dois</i>"},
                                                    {"decorrido", 0}, {"duracao", 4}}},
                           {"velocidade", 100}, {"tom", 1}, {"volume", 100}, {"retorno", 70}, {"eco", 60},
                           {"melodia", 40},
                           {"fila", QJsonArray{QJsonObject{{"id", 5}, {"espera", 1}, {"posicao", 1}, {"numero", 1},
                                                           {"cantor", "Ana"}, {"interprete", "Grupo"},
                                                           {"musica", "Um"}}}}}));

    // "Nova senha" in the window of more options, on the stage's hook, ends
    // every token.
    OptionsLink link;
    link.settings = [this] { return &settings; };
    link.changed = [this] { stage->optionsChanged(); };
    OptionsWindow(link).bNovaSenha->click();
    EXPECT_EQ(send("GET", "/api/anfitriao/estado").status, 401);
    token = logIn(QByteArray::fromStdString(hostPasswordText(settings.SenhaAnfitriao)));
    EXPECT_EQ(send("GET", "/api/anfitriao/estado").status, 200);
}

namespace {
class HostInBrowser : public HostOnStage {
public:
    HostInBrowser() { realServer = true; }
};
}  // namespace

// The page in headless Chromium at a phone's size, driven by
// check_host_browser.py; after each step on the phone the stage shows it.
// Skipped without Chromium, its driver or Selenium.
TEST_F(HostInBrowser, TheStageFollowsEachStep) {
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    if (python.isEmpty())
        GTEST_SKIP() << "no /usr/bin/python3";
    stage->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(stage.get()));
    vozaro::test::typeRequest(*stage, QStringLiteral("1"), QStringLiteral("Ana"));
    vozaro::test::typeRequest(*stage, QStringLiteral("2"), QStringLiteral("Bia"));
    vozaro::test::typeRequest(*stage, QStringLiteral("3"), QStringLiteral("Caio"));
    ASSERT_EQ(stage->Pedidos->count(), 3);

    QTemporaryDir shots;
    const QString shotsFolder =
        qEnvironmentVariableIsSet("VOZARO_SCREENSHOTS") ? qEnvironmentVariable("VOZARO_SCREENSHOTS") : shots.path();
    QProcess browser;
    browser.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    browser.start(python, {QStringLiteral(VOZARO_HOST_BROWSER_SCRIPT),
                           QStringLiteral("http://127.0.0.1:%1/anfitriao").arg(stage->phoneServer()->port()),
                           QStringLiteral("123456"), shotsFolder});
    ASSERT_TRUE(browser.waitForStarted(10000));

    // After each step on the phone the script is told what the stage
    // shows: playing, the title, the key slider, the queue panel's lines.
    // At "apagar" the host first deletes the first request on the stage.
    QStringList output;
    const QDeadlineTimer deadline(120000);
    while (browser.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        browser.waitForReadyRead(20);
        while (browser.canReadLine()) {
            const QString line = QString::fromUtf8(browser.readLine()).trimmed();
            output << line;
            if (!line.startsWith(QLatin1String("passo ")))
                continue;
            if (line == QLatin1String("passo apagar")) {
                stage->Pedidos->setFocus();
                stage->Pedidos->setCurrentRow(0);
                QTest::keyClick(stage->Pedidos, Qt::Key_Delete);
            }
            const QStringList shown = {QString::number(stage->MidiPlayer.Play()), stage->Titulo,
                                       QString::number(stage->MidiTone->value()),
                                       vozaro::test::requestLines(*stage).join(';')};
            browser.write((shown.join('|') + '\n').toUtf8());
        }
    }
    if (browser.state() != QProcess::NotRunning) {
        browser.kill();
        browser.waitForFinished(5000);
        ADD_FAILURE() << "the browser did not finish: " << output.join('\n').toStdString();
    }
    output << QString::fromUtf8(browser.readAllStandardOutput()).trimmed();
    if (browser.exitCode() == 77)
        GTEST_SKIP() << output.join('\n').toStdString();
    EXPECT_EQ(browser.exitCode(), 0) << output.join('\n').toStdString();
    EXPECT_TRUE(messages.messages().empty());
}
