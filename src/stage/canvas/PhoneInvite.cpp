#include "stage/canvas/PhoneInvite.h"

#include <QPainter>
#include <QStringList>

#include <algorithm>
#include <cmath>

#include "phone/PhoneApi.h"
#include "platform/QrCode.h"
#include "stage/canvas/KaraokeStage.h"

namespace vozaro::stage {

namespace {
constexpr int kMargin = 10;
constexpr int kQuietModules = 4;  // the light border a reader needs
}  // namespace

QRect phoneInviteArea(KaraokeStage& stage) {
    const int W = stage.canvasWidth();
    const int H = stage.canvasHeight();
    const int top = kMargin + (stage.logo.isNull() ? 0 : stage.logo.height() + kMargin);
    // The lyric lines and their countdown take at most the lowest 30 % above
    // the bars; the invitation stays above 42 % of it.
    const int bottom = H - static_cast<int>(std::lround(0.42 * H)) -
                       static_cast<int>(std::lround(1.2 * stage.barHeight)) - stage.micBarHeight;
    // The centred title takes at most the middle 70 %, the score less.
    const int right = std::max(kMargin + 1, static_cast<int>(std::lround(0.15 * W)) - kMargin / 2);
    return QRect(QPoint(kMargin, top), QPoint(right, std::max(top, bottom)));
}

QRect drawPhoneInvite(KaraokeStage& stage, const QString& address, int port, const QString& code) {
    const QRect area = phoneInviteArea(stage);
    const QStringList lines = address.isEmpty()
                                  ? QStringList{QStringLiteral("Pedidos pelo celular:"), QStringLiteral("sem rede")}
                                  : QStringList{QStringLiteral("Peça sua música pelo celular"),
                                                QStringLiteral("%1:%2").arg(address).arg(port),
                                                QStringLiteral("Código: %1").arg(code)};
    // The text as large as a sixtieth of the stage's height, smaller when a
    // line would leave the area.
    int points = std::max(4, stage.canvasHeight() / 60);
    auto widest = [&] {
        int width = 0;
        for (const QString& line : lines)
            width = std::max(width, stage.textSize(line, points).width());
        return width;
    };
    while (points > 4 && widest() > area.width())
        --points;
    const int lineHeight = stage.textSize(QStringLiteral("Ág"), points).height();

    QRect drawn;
    int y = area.top();
    if (!address.isEmpty()) {
        const platform::QrCode qr = platform::encodeQr(phoneAddress(address, port, code).toStdString());
        const int side = std::min(area.height() - static_cast<int>(lines.size()) * lineHeight, area.width());
        const int modules = qr.width + 2 * kQuietModules;
        const int scale = qr.width > 0 ? side / modules : 0;
        if (scale < 1)
            return drawn;  // no room for a code a phone could read
        QImage picture(modules * scale, modules * scale, QImage::Format_RGB32);
        picture.fill(Qt::white);
        {
            QPainter painter(&picture);
            for (int my = 0; my < qr.width; ++my)
                for (int mx = 0; mx < qr.width; ++mx)
                    if (qr.at(mx, my))
                        painter.fillRect((mx + kQuietModules) * scale, (my + kQuietModules) * scale, scale, scale,
                                         Qt::black);
        }
        stage.drawPicture(QPoint(area.left(), y), picture);
        drawn = QRect(QPoint(area.left(), y), picture.size());
        y += picture.height() + lineHeight / 3;
    }
    for (const QString& line : lines) {
        const QSize size = stage.textSize(line, points);
        stage.drawOutlinedText(area.left(), y, line, points, Qt::black, KaraokeStage::kYellow);
        drawn |= QRect(QPoint(area.left() - 1, y - 1), QSize(size.width() + 2, size.height() + 2));
        y += lineHeight;
    }
    return drawn;
}

}  // namespace vozaro::stage
