#include "stage/canvas/UpNext.h"

#include <QColor>
#include <QFontMetrics>

#include <algorithm>
#include <cmath>

#include "stage/canvas/KaraokeStage.h"

namespace vozaro::stage {

namespace {
constexpr int kMargin = 10;       // the logo's distance from the corner, and the line's from the logo
constexpr double kHeight = 0.05;  // of the stage's height, at most
}  // namespace

QString upNextEntry(const Request& request) {
    const QString singer = request.singer.trimmed();
    const QString title = request.musica.trimmed();
    if (singer.isEmpty() || title.isEmpty())
        return title.isEmpty() ? singer : title;
    return QStringLiteral("%1 \u2014 %2").arg(singer, title);
}

QString upNextText(const Request& request) {
    const QString entry = upNextEntry(request);
    return entry.isEmpty() ? QString() : QStringLiteral("A seguir: ") + entry;
}

QRect upNextArea(const KaraokeStage& stage) {
    const int W = stage.canvasWidth();
    const int H = stage.canvasHeight();
    const int logoWidth = stage.logo.isNull() ? 0 : stage.logo.width() + kMargin;
    const int height = std::min(static_cast<int>(std::lround(kHeight * H)),
                                stage.logo.isNull() ? H : stage.logo.height());
    const int left = kMargin + logoWidth;
    return QRect(left, kMargin, std::max(W - left - kMargin, 0), std::max(height, 0));
}

void UpNextLine::show(const QString& text) {
    if (text == text_)
        return;
    if (!drawn_.isEmpty()) {
        stage_.eraseRect(drawn_);
        drawn_ = QRect();
    }
    text_ = text;
    draw();
}

void UpNextLine::backgroundReplaced() {
    drawn_ = QRect();
    draw();
}

void UpNextLine::draw() {
    const QRect area = upNextArea(stage_);
    if (text_.isEmpty() || area.isEmpty())
        return;
    // The largest size, in points, for which `fits` holds.
    const auto largest = [](auto&& fits) {
        int low = 0;
        int high = 100;
        while (low < high) {
            const int points = (low + high + 1) / 2;
            if (fits(points))
                low = points;
            else
                high = points - 1;
        }
        return low;
    };
    const int tallest = largest([&](int points) { return stage_.textSize(text_, points).height() <= area.height(); });
    int points = largest([&](int points) {
        const QSize size = stage_.textSize(text_, points);
        return size.width() <= area.width() && size.height() <= area.height();
    });
    // A text too long for a legible size is cut short with an ellipsis.
    QString shown = text_;
    if (const int legible = tallest * 2 / 3; points < legible) {
        points = legible;
        shown = QFontMetrics(stage_.fontOf(points)).elidedText(text_, Qt::ElideRight, area.width());
    }
    if (points == 0)
        return;
    // Centred on the stage, or as near the centre as the logo lets it be.
    const int x = std::max(area.left(), (stage_.canvasWidth() - stage_.textSize(shown, points).width()) / 2);
    drawn_ = stage_.outlinedTextRect(x, area.top(), shown, points)
                 .intersected(QRect(0, 0, stage_.canvasWidth(), stage_.canvasHeight()));
    stage_.drawOutlinedText(x, area.top(), shown, points, Qt::black, Qt::white);
}

}  // namespace vozaro::stage
