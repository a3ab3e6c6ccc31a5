// Draws the program's pictures into PNG files:
//   botoes.png  the stage's button bar, 624 × 46, with a label or symbol on
//               every button rectangle
//   logo.png    the "Vozaro" logo, 197 × 102; its bottom-left pixel is the
//               background colour, which the windows draw transparent
//   mao.png     the hand cursor, 32 × 32, hot spot at the finger tip (10, 1)
// Usage: make_artwork [output folder]   (default: resources)
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

#include "stage/canvas/StageButtons.h"

namespace {

using vozaro::stage::barButton;
using vozaro::stage::ButtonPlace;

const QColor kGold(0xe8, 0xb8, 0x30);
const QColor kGoldDark(0x8a, 0x62, 0x10);
const QColor kLabel(0xff, 0xf4, 0xd6);

QRectF rectOf(const ButtonPlace& b) { return QRectF(b.x, b.y, b.width, b.height); }

// A raised key: dark glassy body with a golden rim.
void drawKey(QPainter& p, const QRectF& r, qreal radius) {
    QLinearGradient body(r.topLeft(), r.bottomLeft());
    body.setColorAt(0.0, QColor(0x55, 0x55, 0x66));
    body.setColorAt(0.5, QColor(0x26, 0x26, 0x30));
    body.setColorAt(1.0, QColor(0x12, 0x12, 0x18));
    p.setPen(QPen(kGoldDark, 1.0));
    p.setBrush(body);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    // Gloss on the upper half.
    QRectF gloss = r.adjusted(2, 1.5, -2, -r.height() / 2);
    QLinearGradient shine(gloss.topLeft(), gloss.bottomLeft());
    shine.setColorAt(0.0, QColor(255, 255, 255, 70));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawRoundedRect(gloss, radius - 1, radius - 1);
}

void drawLabel(QPainter& p, const ButtonPlace& b, const QString& text) {
    const QRectF r = rectOf(b);
    drawKey(p, r, r.height() / 2);
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    int size = 12;
    for (; size > 7; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).horizontalAdvance(text) <= b.width - 8)
            break;
    }
    font.setPixelSize(size);
    p.setFont(font);
    p.setPen(QColor(0, 0, 0, 160));
    p.drawText(r.translated(0.8, 0.8), Qt::AlignCenter, text);
    p.setPen(kLabel);
    p.drawText(r, Qt::AlignCenter, text);
}

void drawGlyph(QPainter& p, const QPainterPath& glyph) {
    QLinearGradient fill(glyph.boundingRect().topLeft(), glyph.boundingRect().bottomLeft());
    fill.setColorAt(0.0, QColor(0xff, 0xe8, 0x90));
    fill.setColorAt(1.0, kGold);
    p.setPen(QPen(QColor(0x40, 0x28, 0x00), 0.8));
    p.setBrush(fill);
    p.drawPath(glyph);
}

QPainterPath triangle(qreal x, qreal y, qreal w, qreal h) {
    QPainterPath path;
    path.moveTo(x, y);
    path.lineTo(x + w, y + h / 2);
    path.lineTo(x, y + h);
    path.closeSubpath();
    return path;
}

// A stage microphone: round grille on a short handle.
QPainterPath microphone(qreal cx, qreal top, qreal scale) {
    QPainterPath path;
    const qreal head = 7.0 * scale;
    path.addEllipse(QPointF(cx, top + head), head, head);
    QPainterPath handle;
    const qreal w = 4.0 * scale;
    handle.moveTo(cx - w, top + head * 1.8);
    handle.lineTo(cx + w, top + head * 1.8);
    handle.lineTo(cx + w * 0.45, top + head * 2 + 14 * scale);
    handle.lineTo(cx - w * 0.45, top + head * 2 + 14 * scale);
    handle.closeSubpath();
    return path.united(handle);
}

void drawGrille(QPainter& p, qreal cx, qreal top, qreal scale) {
    const qreal head = 7.0 * scale;
    p.save();
    QPainterPath clip;
    clip.addEllipse(QPointF(cx, top + head), head - 1.2, head - 1.2);
    p.setClipPath(clip);
    p.setPen(QPen(QColor(0x70, 0x50, 0x08, 170), 0.7));
    for (qreal d = -2 * head; d <= 2 * head; d += 2.6 * scale) {
        p.drawLine(QPointF(cx + d - head, top), QPointF(cx + d + head, top + 2 * head));
        p.drawLine(QPointF(cx + d + head, top), QPointF(cx + d - head, top + 2 * head));
    }
    p.restore();
}

QImage drawBar() {
    using vozaro::stage::kBarHeight;
    using vozaro::stage::kBarWidth;
    QImage image(kBarWidth, kBarHeight, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The bar itself.
    const QRectF bar(0.5, 2.5, kBarWidth - 1, kBarHeight - 5);
    QLinearGradient back(bar.topLeft(), bar.bottomLeft());
    back.setColorAt(0.0, QColor(0x3a, 0x34, 0x4a));
    back.setColorAt(0.45, QColor(0x16, 0x14, 0x20));
    back.setColorAt(1.0, QColor(0x08, 0x08, 0x0c));
    p.setPen(QPen(kGoldDark, 1.0));
    p.setBrush(back);
    p.drawRoundedRect(bar, 12, 12);
    p.setPen(QPen(QColor(255, 255, 255, 45), 1.0));
    p.drawLine(QPointF(14, 4), QPointF(kBarWidth - 14, 4));

    // Group separators.
    p.setPen(QPen(QColor(0x8a, 0x62, 0x10, 150), 1.0));
    for (qreal x : {44.5, 142.5, 498.5})
        p.drawLine(QPointF(x, 10), QPointF(x, kBarHeight - 10));

    // Credits: the microphone emblem.
    const ButtonPlace& credits = barButton("bCreditos");
    drawKey(p, rectOf(credits), 7);
    const qreal micX = credits.x + credits.width / 2.0;
    drawGlyph(p, microphone(micX, credits.y + 4, 0.78));
    drawGrille(p, micX, credits.y + 4, 0.78);

    // Play, stop, next.
    const ButtonPlace& play = barButton("bPlay");
    drawKey(p, rectOf(play), 5);
    drawGlyph(p, triangle(play.x + 6.5, play.y + 6, 9, 11));
    const ButtonPlace& stop = barButton("bStop");
    drawKey(p, rectOf(stop), 5);
    QPainterPath square;
    square.addRoundedRect(QRectF(stop.x + 5.5, stop.y + 7, 9, 9), 1.5, 1.5);
    drawGlyph(p, square);
    const ButtonPlace& next = barButton("bProxima");
    drawKey(p, rectOf(next), 5);
    QPainterPath skip = triangle(next.x + 4.5, next.y + 6, 8, 11);
    skip.addRect(QRectF(next.x + 13, next.y + 6, 2.5, 11));
    drawGlyph(p, skip);

    drawLabel(p, barButton("bConfig"), QStringLiteral("Configurar"));
    drawLabel(p, barButton("bMusicas"), QStringLiteral("Músicas"));
    drawLabel(p, barButton("bPedidos"), QStringLiteral("Pedidos"));
    drawLabel(p, barButton("bMelodia"), QStringLiteral("Ajustes"));
    drawLabel(p, barButton("bSair"), QStringLiteral("Sair"));

    // The name between the adjustments and the exit.
    QFont name(QStringLiteral("Times New Roman"));
    name.setBold(true);
    name.setItalic(true);
    name.setPixelSize(19);
    p.setFont(name);
    const QRectF nameRect(500, 0, 70, kBarHeight);
    QPainterPath text;
    const int width = QFontMetrics(name).horizontalAdvance(QStringLiteral("Vozaro"));
    text.addText(nameRect.center().x() - width / 2.0, 29, name, QStringLiteral("Vozaro"));
    QLinearGradient gold(0, 14, 0, 30);
    gold.setColorAt(0.0, QColor(0xff, 0xf0, 0xa0));
    gold.setColorAt(1.0, QColor(0xd0, 0x80, 0x10));
    p.setPen(QPen(QColor(0x30, 0x10, 0x00), 1.0));
    p.setBrush(gold);
    p.drawPath(text);
    return image;
}

QImage drawLogo() {
    QImage image(197, 102, QImage::Format_RGB32);
    image.fill(Qt::black);  // the background colour (kept transparent by the windows)
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // Spotlight glow behind the name.
    p.save();
    p.translate(120, 50);
    p.scale(1.8, 1.0);
    QRadialGradient glow(QPointF(0, 0), 44);
    glow.setColorAt(0.0, QColor(0x40, 0x1c, 0x64));
    glow.setColorAt(0.6, QColor(0x2a, 0x12, 0x44, 140));
    glow.setColorAt(1.0, QColor(0x2a, 0x12, 0x44, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(QPointF(0, 0), 44, 44);
    p.restore();

    // Sound waves and the microphone.
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(QColor(0x60, 0xc8, 0xff, 200 - 50 * i), 2.0, Qt::SolidLine, Qt::RoundCap));
        const qreal r = 18 + 7 * i;
        p.drawArc(QRectF(22 - r, 26 - r, 2 * r, 2 * r), 35 * 16, 55 * 16);
    }
    drawGlyph(p, microphone(22, 14, 1.75));
    drawGrille(p, 22, 14, 1.75);
    // Stand.
    p.setPen(QPen(QColor(0xb0, 0xb0, 0xc0), 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(22, 65), QPointF(22, 88));
    p.drawLine(QPointF(12, 93), QPointF(32, 93));
    p.drawLine(QPointF(22, 88), QPointF(12, 93));
    p.drawLine(QPointF(22, 88), QPointF(32, 93));

    // The name.
    QFont font(QStringLiteral("Times New Roman"));
    font.setBold(true);
    font.setItalic(true);
    font.setPixelSize(52);
    QPainterPath name;
    name.addText(46, 62, font, QStringLiteral("Vozaro"));
    const QRectF box = name.boundingRect();
    const qreal shift = 192 - box.right();  // keep it inside the right edge
    name.translate(shift > 0 ? shift / 2 : shift, 0);
    QLinearGradient fill(0, box.top(), 0, box.bottom());
    fill.setColorAt(0.0, QColor(0xff, 0xfa, 0xc8));
    fill.setColorAt(0.45, QColor(0xff, 0xc8, 0x30));
    fill.setColorAt(1.0, QColor(0xe0, 0x50, 0x10));
    p.setPen(QPen(QColor(0x5a, 0x10, 0x00), 4.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(name);
    p.setPen(QPen(QColor(0xff, 0xff, 0xff, 220), 1.0));
    p.setBrush(fill);
    p.drawPath(name);

    // Tag line.
    QFont tag(QStringLiteral("Arial"));
    tag.setBold(true);
    tag.setPixelSize(13);
    tag.setLetterSpacing(QFont::AbsoluteSpacing, 3.0);
    p.setFont(tag);
    p.setPen(QColor(0x90, 0xd8, 0xff));
    p.drawText(QRectF(50, 70, 142, 18), Qt::AlignCenter, QStringLiteral("KARAOKÊ"));
    p.setPen(QPen(QColor(0xe8, 0xb8, 0x30, 200), 1.0));
    p.drawLine(QPointF(56, 91.5), QPointF(186, 91.5));

    // Two notes in the air.
    QFont notes(QStringLiteral("DejaVu Sans"));
    notes.setPixelSize(18);
    p.setFont(notes);
    p.setPen(QColor(0xff, 0x70, 0xc0));
    p.drawText(QPointF(44, 22), QString(QChar(0x266A)));
    p.setPen(QColor(0x70, 0xff, 0xa0));
    p.drawText(QPointF(178, 20), QString(QChar(0x266B)));
    p.end();

    // The bottom-left pixel is the key colour: make sure nothing covers it.
    image.setPixel(0, image.height() - 1, qRgb(0, 0, 0));
    return image;
}

QImage drawHand() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath hand;
    hand.addRoundedRect(QRectF(7.5, 0.5, 6, 17), 3, 3);     // index finger
    hand.addRoundedRect(QRectF(12.5, 9.5, 5.5, 10), 2.7, 2.7);  // middle finger
    hand.addRoundedRect(QRectF(17, 10.5, 5.5, 10), 2.7, 2.7);   // ring finger
    hand.addRoundedRect(QRectF(21.5, 12, 5, 9), 2.5, 2.5);      // little finger
    hand.addRoundedRect(QRectF(7.5, 13, 19, 14), 5, 5);         // palm
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(-3, -2.5, 10, 5), 2.5, 2.5);
    QTransform turn;
    turn.translate(6, 17.5);
    turn.rotate(50);
    hand.addPath(turn.map(thumb));
    hand.setFillRule(Qt::WindingFill);
    hand = hand.simplified();
    p.setPen(QPen(Qt::black, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(hand);
    // Cuff.
    p.setBrush(QColor(0x60, 0x90, 0xd0));
    p.drawRoundedRect(QRectF(10.5, 26.5, 15, 4.5), 1, 1);
    // Knuckle lines.
    p.setPen(QPen(QColor(0, 0, 0, 160), 0.9));
    p.drawLine(QPointF(13, 17), QPointF(13, 20));
    p.drawLine(QPointF(17.5, 18), QPointF(17.5, 21));
    p.drawLine(QPointF(22, 19), QPointF(22, 21.5));
    return image;
}

bool save(const QImage& image, const QDir& folder, const char* name) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), image.width(), image.height());
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources"));
    const bool ok = save(drawBar(), folder, "botoes.png") && save(drawLogo(), folder, "logo.png") &&
                    save(drawHand(), folder, "mao.png");
    return ok ? 0 : 1;
}
