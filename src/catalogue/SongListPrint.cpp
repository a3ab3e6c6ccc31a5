#include "catalogue/SongListPrint.h"

#include <QCollator>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "stores/vozaro_colecao.h"
#include "catalogue/SongList.h"

namespace {

QFont timesNewRoman(int points, bool bold) {
    QFont font(QStringLiteral("Times New Roman"), points);
    font.setBold(bold);
    return font;
}

// Rounds halves to the even neighbour (the default rounding mode).
int roundEven(double value) { return static_cast<int>(std::nearbyint(value)); }

}  // namespace

void PrintList::add(const TRegistroAlbum& entry) { add(entry.Numero, entry.Interprete, entry.Musica); }

void PrintList::add(int32_t numero, std::string_view interpreteText, std::string_view musicaText) {
    QString interprete = albumText(interpreteText);
    QString musica = albumText(musicaText);
    QString number = QString::asprintf("%5.5d", numero);
    if (order_ == PrintOrder::ByTitle)
        lines_.push_back({std::move(musica), std::move(interprete), std::move(number)});
    else
        lines_.push_back({std::move(interprete), std::move(musica), std::move(number)});
}

void PrintList::finish() {
    if (finished_)
        return;
    QCollator collator(QLocale(QLocale::Portuguese, QLocale::Brazil));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    // One sort key per text instead of a collation per comparison.
    std::vector<QCollatorSortKey> firstKeys, secondKeys;
    firstKeys.reserve(lines_.size());
    secondKeys.reserve(lines_.size());
    for (const PrintLine& line : lines_) {
        firstKeys.push_back(collator.sortKey(line.first));
        secondKeys.push_back(collator.sortKey(line.second));
    }
    std::vector<size_t> order(lines_.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (int c = firstKeys[a].compare(firstKeys[b]))
            return c < 0;
        if (int c = secondKeys[a].compare(secondKeys[b]))
            return c < 0;
        return lines_[a].number < lines_[b].number;
    });
    std::vector<PrintLine> sorted;
    sorted.reserve(lines_.size() + 1);
    const QString interprete = QStringLiteral("Intérprete / Categoria");
    const QString musica = QStringLiteral("Música");
    if (order_ == PrintOrder::ByTitle)
        sorted.push_back({musica, interprete, QStringLiteral("Número")});
    else
        sorted.push_back({interprete, musica, QStringLiteral("Número")});
    for (size_t i : order)
        sorted.push_back(std::move(lines_[i]));
    lines_ = std::move(sorted);
    finished_ = true;
}

PageGeometry pageGeometry(const QPaintDevice& device, int dataLines) {
    // QFontMetrics wants a non-const device only to read its metrics.
    QPaintDevice* metricsDevice = const_cast<QPaintDevice*>(&device);
    PageGeometry g;
    g.h = QFontMetrics(timesNewRoman(10, false), metricsDevice).height();
    g.L = roundEven(g.h * 1.2);
    g.d = (g.L - g.h) / 2;
    g.rows = g.L > 0 ? device.height() / g.L - 3 : 0;
    if (g.rows <= 0)
        throw NoRoomOnPage();
    g.pages = std::max(1, dataLines / g.rows + (dataLines % g.rows ? 1 : 0));
    g.x0 = roundEven(device.width() * 0.07);
    g.x1 = roundEven(QFontMetrics(timesNewRoman(10, true), metricsDevice)
                         .horizontalAdvance(QStringLiteral("Número")) * 1.2) + g.x0;
    g.x3 = device.width();
    g.x2 = g.x1 + (g.x3 - g.x1) / 2;
    return g;
}

namespace {

// One row: three ruled cells, each text centred in its cell (not clipped).
void printRow(QPainter& painter, const PageGeometry& g, const PrintLine& line, int top) {
    const QFontMetrics metrics = painter.fontMetrics();
    const struct {
        int left, right;
        const QString& text;
    } cells[] = {{g.x0, g.x1, line.number}, {g.x1, g.x2, line.first}, {g.x2, g.x3, line.second}};
    for (const auto& cell : cells) {
        painter.drawRect(QRect(cell.left, top, cell.right - cell.left, g.L));
        const int left = cell.left + (cell.right - cell.left - metrics.horizontalAdvance(cell.text)) / 2;
        painter.drawText(QPoint(left, top + g.d + metrics.ascent()), cell.text);
    }
}

}  // namespace

void printSongList(QPainter& painter, const PageGeometry& g, const PrintList& list,
                   const std::function<void(int page)>& beforePage,
                   const std::function<bool()>& newPage) {
    const std::vector<PrintLine>& lines = list.lines();
    if (lines.empty())
        return;
    painter.setPen(QPen(Qt::black, 1, Qt::SolidLine));
    painter.setBrush(Qt::NoBrush);
    painter.setBackgroundMode(Qt::TransparentMode);
    const QString title = list.order() == PrintOrder::ByTitle
                              ? QStringLiteral("Músicas do Vozaro organizadas por Música - Página ")
                              : QStringLiteral(
                                    "Músicas do Vozaro organizadas por Intérprete / Categoria - Página ");
    size_t next = 1;  // the next data line
    for (int page = 1; page <= g.pages; ++page) {
        if (beforePage)
            beforePage(page);
        painter.setFont(timesNewRoman(12, true));
        painter.drawText(QPoint(g.x0, painter.fontMetrics().ascent()),
                         title + QString::number(page) + QStringLiteral(" de ") + QString::number(g.pages));
        painter.setFont(timesNewRoman(10, true));
        printRow(painter, g, lines[0], 2 * g.L);
        painter.setFont(timesNewRoman(10, false));
        for (int k = 0; k < g.rows && next < lines.size(); ++k, ++next)
            printRow(painter, g, lines[next], (3 + k) * g.L);
        if (next >= lines.size())
            break;
        if (page < g.pages && newPage && !newPage())
            throw std::runtime_error("cannot start a new page");
    }
}
