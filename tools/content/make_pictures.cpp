// Draws the background pictures that come with Vozaro and its icon.
//   make_pictures PICTURES_FOLDER ICON_FOLDER
// Pictures: six ".jpg" at 1920 × 1080 and two ".bmp" at 1280 × 720 (the stage
// stretches them over the screen and darkens them under the lyrics); icons:
// vozaro-48.png and vozaro-256.png.  Every drawing is seeded, so a build
// always draws the same pictures.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Canvas {
    QImage image;
    QPainter p;
    std::mt19937 random;
    Canvas(int w, int h, unsigned seed) : image(w, h, QImage::Format_RGB32), random(seed) {
        image.fill(Qt::black);
        p.begin(&image);
        p.setRenderHint(QPainter::Antialiasing);
    }
    double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); }
    int w() const { return image.width(); }
    int h() const { return image.height(); }
};

void verticalGradient(Canvas& c, std::initializer_list<std::pair<double, QColor>> stops) {
    QLinearGradient g(0, 0, 0, c.h());
    for (const auto& [at, colour] : stops)
        g.setColorAt(at, colour);
    c.p.fillRect(c.image.rect(), g);
}

void glow(Canvas& c, QPointF centre, double radius, QColor colour) {
    QRadialGradient g(centre, radius);
    g.setColorAt(0, colour);
    colour.setAlpha(0);
    g.setColorAt(1, colour);
    c.p.setPen(Qt::NoPen);
    c.p.setBrush(g);
    c.p.drawEllipse(centre, radius, radius);
}

void stars(Canvas& c, int count, double maxY) {
    for (int i = 0; i < count; ++i) {
        const double r = c.uniform(0.6, 2.2);
        c.p.setBrush(QColor(255, 255, c.uniform(200, 255), static_cast<int>(c.uniform(90, 255))));
        c.p.setPen(Qt::NoPen);
        c.p.drawEllipse(QPointF(c.uniform(0, c.w()), c.uniform(0, maxY)), r, r);
    }
}

// A stage: red curtains, a wooden floor and spotlights crossing on it.
void stage(Canvas& c) {
    verticalGradient(c, {{0, QColor(8, 4, 20)}, {0.7, QColor(30, 10, 40)}, {1, QColor(10, 5, 10)}});
    const double floorY = c.h() * 0.72;
    QLinearGradient floor(0, floorY, 0, c.h());
    floor.setColorAt(0, QColor(110, 60, 25));
    floor.setColorAt(1, QColor(40, 20, 8));
    c.p.fillRect(QRectF(0, floorY, c.w(), c.h() - floorY), floor);
    c.p.setPen(QPen(QColor(30, 15, 5, 120), 2));
    for (int i = -20; i <= 20; ++i)
        c.p.drawLine(QPointF(c.w() / 2 + i * 40, floorY), QPointF(c.w() / 2 + i * 160, c.h()));
    const QColor beams[] = {QColor(255, 230, 150), QColor(140, 180, 255), QColor(255, 120, 200),
                            QColor(255, 230, 150)};
    for (int i = 0; i < 4; ++i) {
        const double top = c.w() * (0.15 + 0.23 * i);
        const double foot = c.w() * (0.5 + (i - 1.5) * 0.12);
        QPainterPath cone;
        cone.moveTo(top - 10, 0);
        cone.lineTo(top + 10, 0);
        cone.lineTo(foot + 190, floorY + 40);
        cone.lineTo(foot - 190, floorY + 40);
        cone.closeSubpath();
        QLinearGradient g(0, 0, 0, floorY);
        QColor start = beams[i], end = beams[i];
        start.setAlpha(140);
        end.setAlpha(25);
        g.setColorAt(0, start);
        g.setColorAt(1, end);
        c.p.setPen(Qt::NoPen);
        c.p.setBrush(g);
        c.p.drawPath(cone);
        QColor pool = beams[i];
        pool.setAlpha(110);
        c.p.save();
        c.p.translate(foot, floorY + 40);
        c.p.scale(1, 0.18);
        glow(c, QPointF(0, 0), 230, pool);
        c.p.restore();
    }
    for (int side = 0; side < 2; ++side) {
        const double width = c.w() * 0.17;
        const double x0 = side == 0 ? 0 : c.w() - width;
        for (int fold = 0; fold < 7; ++fold) {
            QLinearGradient g(x0 + fold * width / 7, 0, x0 + (fold + 1) * width / 7, 0);
            g.setColorAt(0, QColor(90, 0, 10));
            g.setColorAt(0.5, QColor(200, 20, 35));
            g.setColorAt(1, QColor(70, 0, 8));
            c.p.fillRect(QRectF(x0 + fold * width / 7, 0, width / 7 + 1, c.h()), g);
        }
    }
    QLinearGradient valance(0, 0, 0, c.h() * 0.12);
    valance.setColorAt(0, QColor(120, 0, 15));
    valance.setColorAt(1, QColor(60, 0, 8));
    c.p.fillRect(QRectF(0, 0, c.w(), c.h() * 0.1), valance);
    c.p.setPen(QPen(QColor(230, 180, 60), 6));
    c.p.drawLine(QPointF(0, c.h() * 0.1), QPointF(c.w(), c.h() * 0.1));
}

// A June festival night: strings of little flags over a bonfire glow.
void flags(Canvas& c) {
    verticalGradient(c, {{0, QColor(5, 10, 40)}, {0.6, QColor(30, 30, 90)}, {1, QColor(120, 50, 20)}});
    stars(c, 250, c.h() * 0.6);
    glow(c, QPointF(c.w() * 0.5, c.h() * 1.05), c.h() * 0.55, QColor(255, 140, 30, 200));
    const QColor colours[] = {QColor(230, 40, 50), QColor(250, 200, 20), QColor(40, 170, 80),
                              QColor(30, 110, 230), QColor(240, 110, 20), QColor(200, 50, 200)};
    for (int row = 0; row < 4; ++row) {
        const double y0 = c.h() * (0.08 + row * 0.13), sag = c.h() * (0.08 + row * 0.02);
        auto rope = [&](double x) {
            const double u = x / c.w();
            return y0 + sag * 4 * u * (1 - u);
        };
        c.p.setPen(QPen(QColor(220, 220, 200, 180), 2));
        QPainterPath line;
        line.moveTo(0, rope(0));
        for (int x = 0; x <= c.w(); x += 20)
            line.lineTo(x, rope(x));
        c.p.setBrush(Qt::NoBrush);
        c.p.drawPath(line);
        const double step = 58 - row * 6;
        for (double x = row * 17.0; x < c.w(); x += step) {
            const double y = rope(x);
            QPainterPath flag;
            flag.moveTo(x, y);
            flag.lineTo(x + step * 0.8, rope(x + step * 0.8));
            flag.lineTo(x + step * 0.8, y + 62 - row * 6);
            flag.lineTo(x + step * 0.4, y + 44 - row * 5);
            flag.lineTo(x, y + 62 - row * 6);
            flag.closeSubpath();
            c.p.setPen(Qt::NoPen);
            c.p.setBrush(colours[static_cast<int>(c.uniform(0, 6))]);
            c.p.drawPath(flag);
        }
    }
}

// A sunset over the sea, with the sun's path on the water.
void sunset(Canvas& c) {
    const double horizon = c.h() * 0.62;
    verticalGradient(c, {{0, QColor(40, 20, 90)}, {0.35, QColor(200, 70, 90)}, {0.6, QColor(255, 170, 60)},
                         {0.62, QColor(60, 40, 80)}, {1, QColor(10, 10, 40)}});
    glow(c, QPointF(c.w() * 0.5, horizon), c.h() * 0.5, QColor(255, 200, 100, 150));
    c.p.setBrush(QColor(255, 220, 120));
    c.p.setPen(Qt::NoPen);
    c.p.save();
    c.p.setClipRect(QRectF(0, 0, c.w(), horizon));
    c.p.drawEllipse(QPointF(c.w() * 0.5, horizon + 10), 120, 120);
    c.p.restore();
    for (int i = 0; i < 90; ++i) {
        const double y = horizon + 6 + std::pow(i / 90.0, 1.6) * (c.h() - horizon);
        const double half = 30 + i * 3.5 * c.uniform(0.5, 1.2);
        c.p.setBrush(QColor(255, 200, 110, static_cast<int>(200 - i * 2)));
        c.p.drawRect(QRectF(c.w() * 0.5 - half + c.uniform(-30, 30), y, 2 * half, 3 + i * 0.06));
    }
    c.p.setBrush(QColor(20, 10, 30));
    QPainterPath hills;
    hills.moveTo(0, horizon);
    for (int x = 0; x <= c.w() * 0.3; x += 10)
        hills.lineTo(x, horizon - 90 * std::sin(kPi * x / (c.w() * 0.3)) - 20 * std::sin(x / 37.0));
    hills.closeSubpath();
    c.p.drawPath(hills);
}

// Blurred lights out of focus.
void bokeh(Canvas& c) {
    verticalGradient(c, {{0, QColor(10, 5, 30)}, {1, QColor(40, 10, 50)}});
    for (int i = 0; i < 140; ++i) {
        QColor colour = QColor::fromHsvF(std::fmod(c.uniform(0.75, 1.25), 1.0), 0.7, 1.0);
        colour.setAlpha(static_cast<int>(c.uniform(30, 110)));
        const double r = c.uniform(20, 140);
        glow(c, QPointF(c.uniform(0, c.w()), c.uniform(0, c.h())), r, colour);
        colour.setAlpha(colour.alpha() / 3);
        c.p.setBrush(colour);
        c.p.drawEllipse(QPointF(c.uniform(0, c.w()), c.uniform(0, c.h())), r * 0.6, r * 0.6);
    }
}

// Ribbons of colour flowing like sound waves.
void waves(Canvas& c) {
    verticalGradient(c, {{0, QColor(0, 20, 40)}, {1, QColor(0, 5, 15)}});
    for (int band = 0; band < 9; ++band) {
        const double phase = band * 0.7, amplitude = c.h() * (0.06 + band * 0.012);
        const double centre = c.h() * (0.25 + band * 0.07);
        QPainterPath ribbon;
        ribbon.moveTo(0, centre);
        for (int x = 0; x <= c.w(); x += 8)
            ribbon.lineTo(x, centre + amplitude * std::sin(x / 260.0 + phase));
        for (int x = c.w(); x >= 0; x -= 8)
            ribbon.lineTo(x, centre + 26 + amplitude * std::sin(x / 240.0 + phase + 0.6));
        ribbon.closeSubpath();
        QLinearGradient g(0, 0, c.w(), 0);
        g.setColorAt(0, QColor::fromHsvF(0.5 + band * 0.04, 0.8, 1.0, 0.55));
        g.setColorAt(1, QColor::fromHsvF(0.75 + band * 0.02, 0.8, 1.0, 0.55));
        c.p.setPen(Qt::NoPen);
        c.p.setBrush(g);
        c.p.drawPath(ribbon);
    }
}

// A starry night with the moon over the hills.
void night(Canvas& c) {
    verticalGradient(c, {{0, QColor(0, 0, 15)}, {0.8, QColor(15, 25, 70)}, {1, QColor(20, 35, 80)}});
    stars(c, 900, c.h());
    c.p.save();
    c.p.translate(c.w() * 0.5, c.h() * 0.5);
    c.p.rotate(-25);
    for (int i = 0; i < 2500; ++i) {
        const double x = c.uniform(-c.w(), c.w()), y = std::normal_distribution<double>(0, 70)(c.random);
        c.p.setBrush(QColor(230, 230, 255, static_cast<int>(c.uniform(20, 120))));
        c.p.drawEllipse(QPointF(x, y), 1.0, 1.0);
    }
    c.p.restore();
    glow(c, QPointF(c.w() * 0.8, c.h() * 0.2), 200, QColor(200, 210, 255, 90));
    c.p.setBrush(QColor(245, 245, 225));
    c.p.drawEllipse(QPointF(c.w() * 0.8, c.h() * 0.2), 70, 70);
    c.p.setBrush(QColor(5, 10, 25));
    QPainterPath hills;
    hills.moveTo(0, c.h());
    for (int x = 0; x <= c.w(); x += 10)
        hills.lineTo(x, c.h() * 0.85 - 60 * std::sin(x / 300.0) - 30 * std::sin(x / 97.0));
    hills.lineTo(c.w(), c.h());
    hills.closeSubpath();
    c.p.drawPath(hills);
}

// A stained-glass window: coloured triangles with dark lead between them.
void stainedGlass(Canvas& c) {
    const int cols = 16, rows = 9;
    std::vector<QPointF> grid;
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= cols; ++i) {
            const bool edge = i == 0 || j == 0 || i == cols || j == rows;
            grid.emplace_back(c.w() * i / double(cols) + (edge ? 0 : c.uniform(-25, 25)),
                              c.h() * j / double(rows) + (edge ? 0 : c.uniform(-25, 25)));
        }
    auto at = [&](int i, int j) { return grid[j * (cols + 1) + i]; };
    c.p.setPen(QPen(QColor(20, 15, 10), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i)
            for (int half = 0; half < 2; ++half) {
                QPolygonF t;
                if (half == 0)
                    t << at(i, j) << at(i + 1, j) << at(i, j + 1);
                else
                    t << at(i + 1, j) << at(i + 1, j + 1) << at(i, j + 1);
                const double d = std::hypot(i - cols / 2.0, j - rows / 2.0) / 9.0;
                QColor colour = QColor::fromHsvF(std::fmod(d + c.uniform(0, 0.15), 1.0), 0.75, c.uniform(0.6, 1.0));
                QRadialGradient g(t.boundingRect().center(), 90);
                g.setColorAt(0, colour.lighter(140));
                g.setColorAt(1, colour);
                c.p.setBrush(g);
                c.p.drawPolygon(t);
            }
}

// A dance floor of lit squares under coloured rays.
void danceFloor(Canvas& c) {
    verticalGradient(c, {{0, QColor(5, 0, 15)}, {0.5, QColor(25, 0, 40)}, {1, QColor(0, 0, 0)}});
    const QPointF source(c.w() * 0.5, -40);
    for (int i = 0; i < 14; ++i) {
        const double angle = kPi * (0.15 + 0.7 * i / 13.0);
        QColor colour = QColor::fromHsvF(i / 14.0, 0.8, 1.0, 0.22);
        QPainterPath ray;
        ray.moveTo(source);
        ray.lineTo(source + QPointF(std::cos(angle - 0.025), std::sin(angle - 0.025)) * c.w());
        ray.lineTo(source + QPointF(std::cos(angle + 0.025), std::sin(angle + 0.025)) * c.w());
        ray.closeSubpath();
        c.p.setPen(Qt::NoPen);
        c.p.setBrush(colour);
        c.p.drawPath(ray);
    }
    const double horizon = c.h() * 0.55;
    for (int row = 0; row < 8; ++row)
        for (int col = -8; col < 8; ++col) {
            auto project = [&](double x, double z) {
                const double depth = 1.0 + z * 0.6;
                return QPointF(c.w() * 0.5 + x * 140 / depth * 2.2, horizon + (c.h() - horizon) * 1.6 / depth - 120);
            };
            const double z0 = 8 - row, z1 = 7 - row;
            QPolygonF tile;
            tile << project(col, z0) << project(col + 1, z0) << project(col + 1, z1) << project(col, z1);
            QColor colour = QColor::fromHsvF(std::fmod((row + col + 16) * 0.13, 1.0), 0.8, c.uniform(0.5, 1.0));
            c.p.setPen(QPen(QColor(0, 0, 0), 3));
            c.p.setBrush(colour);
            c.p.drawPolygon(tile);
        }
    glow(c, QPointF(c.w() * 0.5, 80), 90, QColor(255, 255, 255, 160));
}

// The icon: a microphone on a round badge.
QImage icon(int size) {
    QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient badge(QPointF(100, 90), 150);
    badge.setColorAt(0, QColor(150, 60, 200));
    badge.setColorAt(1, QColor(50, 10, 90));
    p.setPen(QPen(QColor(232, 184, 48), 10));
    p.setBrush(badge);
    p.drawEllipse(QPointF(128, 128), 118, 118);
    p.translate(128, 128);
    p.rotate(-30);
    QLinearGradient handle(-16, 0, 16, 0);
    handle.setColorAt(0, QColor(138, 98, 16));
    handle.setColorAt(0.4, QColor(255, 232, 144));
    handle.setColorAt(1, QColor(138, 98, 16));
    p.setPen(Qt::NoPen);
    p.setBrush(handle);
    QPainterPath body;
    body.moveTo(-20, -10);
    body.lineTo(20, -10);
    body.lineTo(10, 100);
    body.lineTo(-10, 100);
    body.closeSubpath();
    p.drawPath(body);
    QRadialGradient head(QPointF(-15, -65), 60);
    head.setColorAt(0, QColor(250, 250, 255));
    head.setColorAt(1, QColor(110, 110, 125));
    p.setBrush(head);
    p.drawEllipse(QPointF(0, -48), 44, 44);
    QPainterPath grille;
    grille.addEllipse(QPointF(0, -48), 42, 42);
    p.setClipPath(grille);
    p.setPen(QPen(QColor(70, 70, 85, 160), 2));
    for (int i = -3; i <= 3; ++i) {
        p.drawLine(QPointF(i * 11, -90), QPointF(i * 11, -6));
        p.drawLine(QPointF(-44, -48 + i * 11), QPointF(44, -48 + i * 11));
    }
    p.end();
    return image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

int main(int argc, char** argv) {
    // Qt's own notes (a missing runtime folder and the like) are not for the
    // build's output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_pictures PICTURES_FOLDER ICON_FOLDER\n");
        return 2;
    }
    const QString pictures = QString::fromLocal8Bit(argv[1]), icons = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(pictures);
    QDir().mkpath(icons);
    const struct {
        const char* name;
        std::function<void(Canvas&)> draw;
        bool bitmap;
    } all[] = {{"palco.jpg", stage, false},       {"bandeirinhas.jpg", flags, false},
               {"por-do-sol.jpg", sunset, false}, {"luzes.jpg", bokeh, false},
               {"ondas.jpg", waves, false},       {"estrelas.jpg", night, false},
               {"vitral.bmp", stainedGlass, true}, {"pista.bmp", danceFloor, true}};
    unsigned seed = 1;
    for (const auto& picture : all) {
        Canvas canvas(picture.bitmap ? 1280 : 1920, picture.bitmap ? 720 : 1080, seed++);
        picture.draw(canvas);
        canvas.p.end();
        const QString path = pictures + '/' + QString::fromLatin1(picture.name);
        // Bitmaps in 24 bits per pixel, as any Windows bitmap reader takes them.
        const QImage out = picture.bitmap ? canvas.image.convertToFormat(QImage::Format_RGB888) : canvas.image;
        if (!out.save(path, nullptr, picture.bitmap ? -1 : 90)) {
            std::fprintf(stderr, "make_pictures: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    for (int size : {48, 256}) {
        const QString path = icons + QStringLiteral("/vozaro-%1.png").arg(size);
        if (!icon(size).save(path)) {
            std::fprintf(stderr, "make_pictures: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
