// The host's interface without a network or a stage: the password, the
// tokens and the limit of tries (the stage's tests take the other statuses).
#include "phone/HostApi.h"
#include "support/CoreTestApplication.h"
#include "support/FakeHttpService.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <atomic>

using namespace vozaro::stage;
using vozaro::platform::HttpRequest;
using vozaro::platform::HttpResponse;

namespace {

// Takes every command; counts them.
class CountingStage : public HostStage {
public:
    HostState hostState() override { return {}; }
    Outcome hostCommand(Command, int) override { return ++calls, Outcome::Done; }
    Outcome hostMove(QueueMove, std::uint64_t) override { return ++calls, Outcome::Done; }
    Outcome hostRequest(std::int32_t, const QString&) override { return ++calls, Outcome::Done; }
    int calls = 0;
};

class HostInterface : public ::testing::Test {
protected:
    void SetUp() override {
        coreTestApplication();
        api.setPassword(42);
    }
    HttpResponse send(const char* method, const char* path, const QByteArray& body = {},
                      const QByteArray& token = {}, const char* client = "192.168.0.30") {
        HttpRequest request{method, QString::fromLatin1(path), {}, body, QString::fromLatin1(client)};
        if (!token.isEmpty())
            request.authorization = "Bearer " + token;
        return vozaro::platform::answerOf(
            [this](const HttpRequest& r, vozaro::platform::HttpResponder respond) { api.handle(r, std::move(respond)); },
            request);
    }
    QByteArray logIn(const char* client = "192.168.0.30") {
        const HttpResponse r = send("POST", "/api/anfitriao/entrar", R"({"senha": "000042"})", {}, client);
        EXPECT_EQ(r.status, 200);
        return QJsonDocument::fromJson(r.body)["token"].toString().toLatin1();
    }

    CountingStage stage;
    std::atomic<std::int64_t> now{0};  // read on the server's thread
    HostApi api{stage, [this] { return now.load(); }};
};

}  // namespace

TEST_F(HostInterface, ThePasswordGivesATokenAndEveryRequestNeedsOne) {
    EXPECT_EQ(send("GET", "/anfitriao").status, 200);
    EXPECT_EQ(send("GET", "/anfitriao").contentType, "text/html; charset=utf-8");
    EXPECT_EQ(send("GET", "/anfitriao.js").contentType, "text/javascript; charset=utf-8");
    EXPECT_EQ(send("POST", "/anfitriao").status, 405);
    EXPECT_EQ(send("GET", "/api/anfitriao/entrar").status, 405);
    EXPECT_EQ(send("GET", "/api/anfitriao/outra").status, 404);
    EXPECT_EQ(send("POST", "/api/anfitriao/entrar", R"({"senha": "000043"})").status, 403);
    EXPECT_EQ(send("POST", "/api/anfitriao/entrar", R"({"senha": 42})").status, 400);
    const QByteArray token = logIn();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(QString::fromLatin1(token)).hasMatch());
    EXPECT_NE(logIn(), token);  // each drawn anew

    struct Case {
        const char* method;
        const char* path;
        QByteArray body;
    };
    const Case guarded[] = {{"GET", "/api/anfitriao/estado", {}},
                            {"POST", "/api/anfitriao/comando", R"({"acao": "parar"})"},
                            {"POST", "/api/anfitriao/fila", R"({"acao": "remover", "id": 1})"}};
    for (const Case& c : guarded) {
        EXPECT_EQ(send(c.method, c.path, c.body).status, 401) << c.path;
        EXPECT_EQ(send(c.method, c.path, c.body, token + "0").status, 401) << c.path;
        EXPECT_EQ(send(c.method, c.path, c.body, token).status, 200) << c.path;
    }
    EXPECT_EQ(stage.calls, 2);  // nothing reached the stage without the token

    // A new password ends every token; without one nothing opens.
    api.setPassword(42);
    EXPECT_EQ(send("GET", "/api/anfitriao/estado", {}, token).status, 200);
    api.setPassword(7);
    EXPECT_EQ(send("GET", "/api/anfitriao/estado", {}, token).status, 401);
    EXPECT_EQ(send("POST", "/api/anfitriao/entrar", R"({"senha": "000007"})", {}, "192.168.0.31").status, 200);
    api.setPassword(std::nullopt);
    EXPECT_EQ(send("POST", "/api/anfitriao/entrar", R"({"senha": "000007"})", {}, "192.168.0.31").status, 403);
}

TEST_F(HostInterface, FiveTriesAMinutePerAddressAndATokenGivenKeepsWorking) {
    const QByteArray token = logIn("10.0.0.1");
    now += 1000;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(send("POST", "/api/anfitriao/entrar", "{}", {}, "10.0.0.1").status, 400);
    // The sixth, right or not, is refused before the password is looked at.
    now += 58999;
    EXPECT_EQ(send("POST", "/api/anfitriao/entrar", R"({"senha": "000042"})", {}, "10.0.0.1").status, 429);
    EXPECT_EQ(logIn("10.0.0.2").size(), 64);  // no limit in all
    EXPECT_EQ(send("GET", "/api/anfitriao/estado", {}, token, "10.0.0.1").status, 200);
    now += 1;  // the first try is a minute old
    EXPECT_EQ(logIn("10.0.0.1").size(), 64);
    EXPECT_EQ(send("POST", "/api/anfitriao/entrar", R"({"senha": "000042"})", {}, "10.0.0.1").status, 429);
}
