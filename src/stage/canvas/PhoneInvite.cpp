#include "stage/canvas/PhoneInvite.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "phone/PhoneApi.h"
#include "platform/QrCode.h"
#include "stage/canvas/KaraokeStage.h"
#include "stage/canvas/UpNext.h"

namespace vozaro::stage {

namespace {
constexpr int kMargin = 10;
constexpr int kQuietModules = 4;    // the light border a reader needs
constexpr double kCodeShare = 0.45;  // of the stage's height, the code's side at most
constexpr int kLinesPerHeight = 20;  // a text line is a twentieth of the stage's height
constexpr int kUpNextShown = 3;

int lineHeightOf(KaraokeStage& stage, int points) { return stage.textSize(QStringLiteral("Ág"), points).height(); }
}  // namespace

QRect phoneInviteArea(KaraokeStage& stage) {
    const int W = stage.canvasWidth();
    const int H = stage.canvasHeight();
    // Below the logo and the up-next line's place, above the bar and the
    // microphone's level bar.
    const int top = upNextArea(stage).bottom() + 1 + kMargin;
    const int bottom = H - static_cast<int>(std::lround(1.2 * stage.barHeight)) - stage.micBarHeight - kMargin;
    return QRect(QPoint(kMargin, top), QPoint(std::max(kMargin, W - kMargin - 1), std::max(top, bottom)));
}

int phoneInviteModules(const QString& url) {
    const int width = platform::encodeQr(url.toStdString()).width;
    return width > 0 ? width + 2 * kQuietModules : 0;
}

PhoneInviteLayout phoneInviteLayout(KaraokeStage& stage, int modules) {
    const QRect area = phoneInviteArea(stage);
    const int W = stage.canvasWidth();
    const int H = stage.canvasHeight();
    PhoneInviteLayout layout;
    layout.points = std::max(4, H / kLinesPerHeight);
    while (layout.points > 4 && lineHeightOf(stage, layout.points) > H / kLinesPerHeight)
        --layout.points;
    const int line = lineHeightOf(stage, layout.points);
    const int gap = std::max(kMargin, line);
    const int captionHeight = 2 * line + line / 3;
    const int room = std::min({static_cast<int>(std::lround(kCodeShare * H)), area.height() - captionHeight,
                               W / 2 - gap - kMargin});
    layout.scale = modules > 0 ? std::max(room, 0) / modules : 0;
    const int side = modules * layout.scale;
    const int blockHeight = side > 0 ? side + captionHeight : 0;
    const int top = area.top() + std::max(0, (area.height() - blockHeight) / 2);
    // The code ends just left of the centre, the list starts just right of it.
    const int centre = W / 2;
    if (side > 0) {
        layout.code = QRect(std::max(area.left(), centre - gap / 2 - side), top, side, side);
        layout.caption = QRect(layout.code.left(), layout.code.bottom() + 1 + line / 3, side, 2 * line);
    }
    const int listLeft = side > 0 ? centre + gap / 2 : area.left();
    layout.list = QRect(QPoint(listLeft, side > 0 ? top : area.top()), QPoint(area.right(), area.bottom()));
    return layout;
}

QRect drawPhoneInvite(KaraokeStage& stage, const QString& address, int port, const QString& code,
                      const QStringList& upNext) {
    const QString url = address.isEmpty() ? QString() : phoneAddress(address, port, code);
    const platform::QrCode qr = url.isEmpty() ? platform::QrCode{} : platform::encodeQr(url.toStdString());
    const bool withCode = qr.width > 0;
    const PhoneInviteLayout layout = phoneInviteLayout(stage, withCode ? qr.width + 2 * kQuietModules : 0);
    const int line = lineHeightOf(stage, layout.points);
    QRect drawn;
    // A line in the invitation's letters, cut short with an ellipsis when
    // wider than its room.
    auto text = [&](int x, int y, const QString& words, int width, const QColor& fill, int points) {
        const QString shown = QFontMetrics(stage.fontOf(points)).elidedText(words, Qt::ElideRight, width);
        stage.drawOutlinedText(x, y, shown, points, Qt::black, fill);
        drawn |= stage.outlinedTextRect(x, y, shown, points);
    };

    if (withCode) {
        const int scale = layout.scale;
        if (scale < 1)
            return drawn;  // no room for a code a phone could read
        QImage picture(layout.code.size(), QImage::Format_RGB32);
        picture.fill(Qt::white);
        {
            QPainter painter(&picture);
            for (int my = 0; my < qr.width; ++my)
                for (int mx = 0; mx < qr.width; ++mx)
                    if (qr.at(mx, my))
                        painter.fillRect((mx + kQuietModules) * scale, (my + kQuietModules) * scale, scale, scale,
                                         Qt::black);
        }
        stage.drawPicture(layout.code.topLeft(), picture);
        drawn |= layout.code;
        // The address and the code centred under it, shrunk to its width.
        const QString lines[] = {QStringLiteral("%1:%2").arg(address).arg(port), QStringLiteral("Código: %1").arg(code)};
        int points = layout.points;
        const auto widest = [&] {
            return std::max(stage.textSize(lines[0], points).width(), stage.textSize(lines[1], points).width());
        };
        while (points > 4 && widest() > picture.width())
            --points;
        int y = layout.caption.top();
        for (const QString& words : lines) {
            const int x = layout.code.left() + std::max(0, (picture.width() - stage.textSize(words, points).width()) / 2);
            text(x, y, words, picture.width(), KaraokeStage::kYellow, points);
            y += line;
        }
    }

    const QRect& list = layout.list;
    int y = list.top();
    if (withCode) {
        text(list.left(), y, QStringLiteral("Peça sua música pelo celular"), list.width(), KaraokeStage::kYellow,
             layout.points);
    } else {
        text(list.left(), y, QStringLiteral("Pedidos pelo celular:"), list.width(), KaraokeStage::kYellow,
             layout.points);
        y += line;
        text(list.left(), y, QStringLiteral("sem rede"), list.width(), KaraokeStage::kYellow, layout.points);
    }
    y += line;
    if (!upNext.isEmpty()) {
        y += line / 2;
        text(list.left(), y, QStringLiteral("A seguir:"), list.width(), Qt::white, layout.points);
        for (qsizetype i = 0; i < std::min<qsizetype>(upNext.size(), kUpNextShown); ++i) {
            y += line;
            if (y + line > list.bottom() + 1)
                break;
            text(list.left(), y, upNext[i], list.width(), Qt::white, layout.points);
        }
    }
    return drawn;
}

}  // namespace vozaro::stage
