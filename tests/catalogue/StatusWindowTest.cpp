#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>

#include "controls/vozaro_status.h"
#include "settings/WindowTestSupport.h"

namespace {
// One application object for every test of this folder.
QApplication& app() { return testApplication(); }
}  // namespace

TEST(StatusWindow, ShowsCentredTextAboveAFullWidthBar) {
    app();
    TformStatus status;
    EXPECT_EQ(status.windowTitle(), "Vozaro");
    EXPECT_TRUE(status.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(status.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(status.size(), QSize(337, 58));
    EXPECT_EQ(status.lStatus->geometry(), QRect(0, 0, 337, 38));
    EXPECT_EQ(status.lStatus->alignment(), Qt::AlignCenter);
    EXPECT_TRUE(status.lStatus->font().bold());
    EXPECT_EQ(status.Progress->geometry(), QRect(0, 38, 337, 20));
    EXPECT_EQ(status.Progress->minimum(), 0);
    EXPECT_EQ(status.Progress->maximum(), 100);

    status.lStatus->setText(QStringLiteral("Verificando pasta de músicas..."));
    status.Progress->setMaximum(2);
    status.Progress->setValue(1);
    status.show();
    QApplication::processEvents();
    QRect screen = status.screen()->geometry();
    EXPECT_NEAR(status.frameGeometry().center().x(), screen.center().x(), 1);
    EXPECT_NEAR(status.frameGeometry().center().y(), screen.center().y(), 1);
    status.close();
}

TEST(StatusWindow, WithTheBarHiddenOnlyTheTextIsSeen) {
    app();
    TformStatus status;
    status.lStatus->setText(QStringLiteral("Aguarde."));
    status.Progress->hide();
    status.show();
    QImage shot = status.grab().toImage();
    QColor bottom = shot.pixelColor(shot.width() / 2, shot.height() - 5);
    EXPECT_EQ(bottom, QColor(Qt::black));
    bool textDrawn = false;
    for (int x = 0; x < shot.width() && !textDrawn; ++x)
        for (int y = 0; y < 38 && !textDrawn; ++y)
            textDrawn = shot.pixelColor(x, y).lightness() > 128;
    EXPECT_TRUE(textDrawn);
}

// A long run of steps repaints the window at its first step, then at most
// once in every 50 ms, and at its last; each repaint shows the step reached.
TEST(StatusWindow, ProgressRepaintsAtMostEveryFiftyMilliseconds) {
    app();
    struct Case {
        int steps;
        std::int64_t msPerStep;  // clock time each step takes
        int repaints;
    };
    for (const Case& c : {Case{1000, 1, 1 + 19 + 1}, Case{10, 100, 10}, Case{100000, 0, 2}, Case{1, 0, 1}}) {
        SCOPED_TRACE(c.steps);
        TformStatus status;
        status.Progress->setMaximum(c.steps);
        status.show();
        std::int64_t now = 0;
        StatusProgress progress(status, [&now] { return now; });
        int shownAtRepaint = -1;
        for (int position = 1; position <= c.steps; ++position) {
            const int before = progress.repaints();
            progress.step(position);
            if (progress.repaints() != before)
                shownAtRepaint = status.Progress->value() == position ? position : -2;
            now += c.msPerStep;
        }
        EXPECT_EQ(progress.repaints(), c.repaints);
        EXPECT_EQ(shownAtRepaint, c.steps);
        EXPECT_EQ(status.Progress->value(), c.steps);
        status.close();
    }
}
