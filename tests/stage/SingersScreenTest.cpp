// The singers' screen: the stage picture scaled to another screen, and the
// window that shows it following the setting and the screens.  The window
// on a real second screen is checked on an X server with two screens
// (check_singers_screen.sh runs TwoScreens.* there).
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <QFrame>

#include "stores/vozaro_colecao.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "support/FakeHttpService.h"
#include "stage/KaraokeSongs.h"
#include "platform/ui/UiScreens.h"
#include "support/FakeScreenSet.h"
#include "settings/WindowTestSupport.h"
#include "stage/canvas/KaraokeStage.h"
#include "stage/singers/SingersScreen.h"
#include "stage/singers/SingersView.h"
#include "stage/vozaro_main.h"

using vozaro::platform::FakeScreenSet;
using vozaro::platform::ScreenInfo;
using vozaro::stage::SingersScreens;
using vozaro::stage::SingersView;

namespace {

// Four flat quarters, so that a pixel well inside one has its colour on any
// scale.
QImage quarters(const QSize& size) {
    QImage picture(size, QImage::Format_RGB32);
    QPainter painter(&picture);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    painter.fillRect(0, 0, w, h, QColor(200, 30, 30));
    painter.fillRect(w, 0, size.width() - w, h, QColor(30, 200, 30));
    painter.fillRect(0, h, w, size.height() - h, QColor(30, 30, 200));
    painter.fillRect(w, h, size.width() - w, size.height() - h, QColor(200, 200, 30));
    return picture;
}

int largestDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return 256;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}

// What a screen shows once it shows `picture`: the X server shows it once
// the window has repainted, so it is looked at until it does, for 5 s at most.
QImage shown(QScreen& screen, const QImage& picture) {
    QImage grabbed;
    for (int look = 0; look < 50; ++look) {
        QTest::qWait(100);
        grabbed = screen.grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
        if (largestDifference(grabbed, picture) <= 2)
            break;
    }
    return grabbed;
}

}  // namespace

TEST(SingersView, TheStageIsScaledWithItsProportionsBetweenBlackBars) {
    struct Case {
        QSize canvas;
        QSize screen;
        QRect fit;
    };
    const Case cases[] = {
        {{800, 600}, {1280, 1024}, {0, 32, 1280, 960}},     // bars above and below
        {{1920, 1080}, {1280, 1024}, {0, 152, 1280, 720}},
        {{1280, 1024}, {1920, 1080}, {285, 0, 1350, 1080}},  // bars left and right
        {{1024, 768}, {1024, 768}, {0, 0, 1024, 768}},       // one to one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.screen.width()) + "x" + std::to_string(c.screen.height()));
        const QImage canvas = quarters(c.canvas);
        SingersView view;
        view.setScreenSize(c.screen, canvas);
        EXPECT_EQ(view.fit(), c.fit);
        const QImage& shown = view.picture();
        ASSERT_EQ(shown.size(), c.screen);
        // The middle of each quarter has its colour; the bars are black.
        const double sx = double(c.fit.width()) / c.canvas.width();
        const double sy = double(c.fit.height()) / c.canvas.height();
        for (const QPoint at : {QPoint(c.canvas.width() / 4, c.canvas.height() / 4),
                                QPoint(3 * c.canvas.width() / 4, c.canvas.height() / 4),
                                QPoint(c.canvas.width() / 4, 3 * c.canvas.height() / 4),
                                QPoint(3 * c.canvas.width() / 4, 3 * c.canvas.height() / 4)}) {
            const QPoint onScreen(c.fit.x() + int(at.x() * sx), c.fit.y() + int(at.y() * sy));
            EXPECT_EQ(shown.pixel(onScreen), canvas.pixel(at));
        }
        if (c.fit.top() > 0) {
            EXPECT_EQ(shown.pixel(c.screen.width() / 2, c.fit.top() - 1), qRgb(0, 0, 0));
            EXPECT_EQ(shown.pixel(c.screen.width() / 2, c.fit.bottom() + 1), qRgb(0, 0, 0));
        }
        if (c.fit.left() > 0) {
            EXPECT_EQ(shown.pixel(c.fit.left() - 1, c.screen.height() / 2), qRgb(0, 0, 0));
            EXPECT_EQ(shown.pixel(c.fit.right() + 1, c.screen.height() / 2), qRgb(0, 0, 0));
        }
    }
}

// A display step's changes shown part by part give the same picture as the
// whole stage scaled at once, at every scale.
TEST(SingersView, ChangesShownPartByPartEqualTheWholePictureScaled) {
    testApplication();
    for (const QSize screen : {QSize(1280, 1024), QSize(800, 600), QSize(1024, 768)}) {
        SCOPED_TRACE(std::to_string(screen.width()) + "x" + std::to_string(screen.height()));
        KaraokeStage stage;
        stage.resizeCanvas(QSize(1024, 768));
        stage.FundoLimpo = quarters(QSize(1024, 768));
        SingersView view;
        stage.attachCanvas(&stage.canvas(), [&](const QRect& rect) { view.changed(rect); });
        view.setScreenSize(screen, stage.canvas());
        // A title, a lyric line, part of it lit, and the title erased.
        stage.drawOutlinedText(200, 300, QStringLiteral("Ana - Ciranda"), 40, Qt::black, KaraokeStage::kYellow);
        EXPECT_FALSE(view.update(stage.canvas()).isEmpty());
        stage.drawOutlinedText(100, 600, QStringLiteral("Ciranda, cirandinha"), 60, Qt::black, KaraokeStage::kYellow);
        stage.drawOutlinedText(100, 600, QStringLiteral("Ciran"), 60, Qt::white, KaraokeStage::kMagenta);
        view.update(stage.canvas());
        stage.eraseRect(QRect(190, 290, 500, 80));
        view.update(stage.canvas());
        EXPECT_TRUE(view.update(stage.canvas()).isEmpty());  // nothing pending

        SingersView whole;
        whole.setScreenSize(screen, stage.canvas());
        EXPECT_LE(largestDifference(view.picture(), whole.picture()), 1);
    }
}

namespace {

ScreenInfo screen(const char* name, const QRect& geometry) { return {QString::fromLatin1(name), geometry, nullptr}; }

}  // namespace

// The window for the singers comes and goes with the setting and the
// screens, and always takes a screen other than the stage's.
TEST(SingersScreens, FollowTheSettingAndTheScreens) {
    testApplication();
    QWidget stageWindow;
    KaraokeStage stage;
    stage.resizeCanvas(QSize(1024, 768));
    SingersScreens singers(stageWindow, stage);
    auto owned = std::make_unique<FakeScreenSet>();
    FakeScreenSet& screens = *owned;
    screens.stageScreen = QStringLiteral("A");
    singers.setScreens(std::move(owned));

    const ScreenInfo a = screen("A", {0, 0, 1280, 1024});
    const ScreenInfo b = screen("B", {1280, 0, 1920, 1080});
    const ScreenInfo c = screen("C", {3200, 0, 800, 600});
    struct Step {
        const char* what;
        std::function<void()> change;
        const char* expected;  // the singers' screen, "" none
    };
    const Step steps[] = {
        {"one screen, setting on", [&] { screens.set({a}); singers.apply(true); }, ""},
        {"a second screen plugged in", [&] { screens.set({a, b}); }, "B"},
        {"setting switched off", [&] { singers.apply(false); }, ""},
        {"and on again", [&] { singers.apply(true); }, "B"},
        {"the second screen removed", [&] { screens.set({a}); }, ""},
        {"three screens", [&] { screens.set({a, b, c}); }, "B"},
        {"the stage on the second", [&] { screens.stageScreen = QStringLiteral("B"); screens.set({a, b, c}); }, "A"},
        {"the first removed, stage back on A", [&] { screens.stageScreen = QStringLiteral("A"); screens.set({a, c}); }, "C"},
        {"closed for good", [&] { singers.close(); screens.set({a, b}); }, ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        const vozaro::stage::SingersScreen* window = singers.window();
        if (!*step.expected) {
            EXPECT_EQ(window, nullptr);
            continue;
        }
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->screenInfo().name, QString::fromLatin1(step.expected));
        EXPECT_EQ(window->geometry(), window->screenInfo().geometry);
        EXPECT_TRUE(window->isVisible());
        // Nothing but the picture: no frame, no pointer, never the focus.
        EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
        EXPECT_TRUE(window->windowFlags() & Qt::WindowDoesNotAcceptFocus);
        EXPECT_EQ(window->cursor().shape(), Qt::BlankCursor);
        EXPECT_TRUE(window->findChildren<QWidget*>().isEmpty());
    }
}

// The stage window shows its picture on the singers' screen as it draws it,
// and closing the stage closes that window too.
TEST(SingersScreens, TheStageWindowFeedsTheSingersScreen) {
    testApplication();
    QTemporaryDir folder;
    vozaro::platform::ScopedMessageRecorder messages{vozaro::platform::MessageResult::Ok};
    vozaro::catalogue::setProgramFolder(folder.path().toStdString());
    TformKaraoke stage;
    auto owned = std::make_unique<FakeScreenSet>();
    FakeScreenSet& screens = *owned;
    screens.stageScreen = QStringLiteral("A");
    screens.list = {screen("A", {0, 0, 1024, 768}), screen("B", {1024, 0, 800, 600})};
    stage.singersScreens().setScreens(std::move(owned));
    stage.resize(1024, 768);
    stage.show();
    vozaro::stage::SingersScreen* singers = stage.singersScreens().window();
    ASSERT_NE(singers, nullptr);  // on by default
    EXPECT_EQ(singers->screenInfo().name, "B");

    stage.drawOutlinedText(300, 350, QStringLiteral("Ana - Ciranda"), 40, Qt::black, KaraokeStage::kYellow);
    SingersView whole;
    whole.setScreenSize(QSize(800, 600), stage.canvas());
    EXPECT_LE(largestDifference(singers->picture(), whole.picture()), 1);

    stage.close();
    EXPECT_EQ(stage.singersScreens().window(), nullptr);
}

// On an X server with two screens (check_singers_screen.sh).  Skipped with
// one screen unless VOZARO_TWO_SCREENS says there must be two.
class TwoScreens : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        const QList<QScreen*> all = QGuiApplication::screens();
        if (all.size() < 2) {
            if (qEnvironmentVariableIsSet("VOZARO_TWO_SCREENS"))
                FAIL() << "only " << all.size() << " screen(s) on " << QGuiApplication::platformName().toStdString();
            GTEST_SKIP() << "one screen: run by check_singers_screen.sh on an X server with two";
        }
    }
    QTemporaryDir folder;
    vozaro::platform::ScopedMessageRecorder messages{vozaro::platform::MessageResult::Ok};
};

// The singers' window opens on the other screen, shows there what the stage
// draws, and the stage keeps its controls on its own screen.
TEST_F(TwoScreens, TheSingersSeeTheStageOnTheOtherScreen) {
    vozaro::catalogue::setProgramFolder(folder.path().toStdString());
    TformKaraoke stage;
    stage.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&stage));
    vozaro::stage::SingersScreen* singers = stage.singersScreens().window();
    ASSERT_NE(singers, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(singers));
    QScreen* stageScreen = stage.screen();
    QScreen* singersScreen = singers->screen();
    EXPECT_NE(stageScreen, singersScreen);
    EXPECT_EQ(singers->geometry(), singersScreen->geometry());
    EXPECT_EQ(stage.panelBotoes->screen(), stageScreen);
    EXPECT_EQ(stage.geometry(), stageScreen->geometry());

    // A background and a title, as the stage draws them at the start of a
    // song.
    stage.FundoLimpo = quarters(stage.canvas().size());
    stage.eraseRect(stage.canvas().rect());
    const QString title = QStringLiteral("Ana - Ciranda, Cirandinha");
    stage.drawOutlinedText(100, stage.canvasHeight() / 2, title, 60, Qt::black, KaraokeStage::kYellow);
    SingersView expected;
    expected.setScreenSize(singersScreen->geometry().size(), stage.canvas());
    const QImage grabbed = shown(*singersScreen, expected.picture());
    if (const char* folderForShots = std::getenv("VOZARO_SCREENSHOTS"))
        grabbed.save(QString::fromLocal8Bit(folderForShots) + QStringLiteral("/singers-screen.png"));
    ASSERT_EQ(grabbed.size(), expected.picture().size());
    // Everything the screen shows is the stage picture scaled, the title
    // included (X may round a colour by a step).
    EXPECT_LE(largestDifference(grabbed, expected.picture()), 2);
    const QRect titleOnScreen = expected.toScreen(stage.outlinedTextRect(100, stage.canvasHeight() / 2, title, 60));
    EXPECT_NE(grabbed.copy(titleOnScreen), SingersView().picture());
    int yellow = 0;
    for (int y = titleOnScreen.top(); y <= titleOnScreen.bottom(); ++y)
        for (int x = titleOnScreen.left(); x <= titleOnScreen.right(); ++x)
            yellow += grabbed.pixel(x, y) == qRgb(255, 255, 0);
    EXPECT_GT(yellow, 100);
    stage.close();
    EXPECT_EQ(stage.singersScreens().window(), nullptr);
}

// The idle stage's invitation with who sings next, on both screens (the
// screenshots show it).
TEST_F(TwoScreens, TheInvitationShowsLargeOnBothScreens) {
    TKaraokeSettings settings;
    settings.Celular = true;
    TformKaraoke stage;
    vozaro::catalogue::setProgramFolder(folder.path().toStdString());
    ASSERT_TRUE(AbrirAlbum());
    FecharAlbum();
    const std::int32_t song = vozaro::test::catalogueEntry("Tom Jobim", "Garota de Ipanema", "garota.kar");
    stage.config = ConfigLink{};
    stage.config.settings = [&settings] { return &settings; };
    stage.makePhoneServer = [](vozaro::platform::HttpHandler handler) {
        return std::make_unique<vozaro::platform::FakeHttpService>(std::move(handler), std::set<int>{});
    };
    stage.networkAddress = [] { return QStringLiteral("192.168.0.7"); };
    stage.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&stage));
    vozaro::stage::SingersScreen* singers = stage.singersScreens().window();
    ASSERT_NE(singers, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(singers));
    vozaro::stage::PhoneRequests& phone = stage.phoneRequests();
    phone.songs().refresh();
    for (const char* singer : {"Ana", "Bia", "Caio", "Duda"})
        ASSERT_EQ(phone.request(song, QString::fromLatin1(singer), phone.code(), QString::fromLatin1(singer)).result,
                  vozaro::stage::PhoneRequests::Result::Accepted);
    ASSERT_FALSE(stage.phoneInviteRect().isEmpty());
    SingersView expected;
    expected.setScreenSize(singers->screen()->geometry().size(), stage.canvas());
    const QImage grabbed = shown(*singers->screen(), expected.picture());
    EXPECT_LE(largestDifference(grabbed, expected.picture()), 2);
    if (const char* shots = std::getenv("VOZARO_SCREENSHOTS")) {
        grabbed.save(QString::fromLocal8Bit(shots) + QStringLiteral("/invitation-singers.png"));
        stage.screen()->grabWindow(0).save(QString::fromLocal8Bit(shots) + QStringLiteral("/invitation-stage.png"));
    }
    stage.close();
}
