#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPainter>

#include "RecordingPaintDevice.h"
#include "catalogue/SongListPrint.h"
#include "stores/vozaro_colecao.h"
#include "settings/WindowTestSupport.h"

namespace {

constexpr int kWidth = 4800;

PrintList listOf(PrintOrder order, const std::vector<TRegistroAlbum>& entries) {
    PrintList list(order);
    for (const TRegistroAlbum& entry : entries)
        list.add(entry);
    list.finish();
    return list;
}

std::vector<TRegistroAlbum> numbered(int count) {
    std::vector<TRegistroAlbum> entries;
    for (int i = 1; i <= count; ++i)
        entries.push_back({"Cantor", "T\xedtulo " + std::to_string(1000 + i), "x.kar", i});
    return entries;
}

// The line height on the recording device at its resolution.
int lineHeight() {
    RecordingPaintDevice probe(kWidth, 100000);
    return pageGeometry(probe, 1).L;
}

// Prints a list on a page tall enough for exactly `rows` data rows.
std::unique_ptr<RecordingPaintDevice> print(const PrintList& list, int rows, PageGeometry* used = nullptr) {
    auto device = std::make_unique<RecordingPaintDevice>(kWidth, (rows + 3) * lineHeight() + lineHeight() / 2);
    PageGeometry g = pageGeometry(*device, list.dataLines());
    EXPECT_EQ(g.rows, rows);
    QPainter painter(device.get());
    printSongList(painter, g, list, nullptr, [&device] { return device->newPage(); });
    painter.end();
    if (used)
        *used = g;
    return device;
}

std::vector<QString> texts(const RecordedPage& page) {
    std::vector<QString> result;
    for (const RecordedText& t : page.texts)
        result.push_back(t.text);
    return result;
}

class SongListPrintTest : public ::testing::Test {
protected:
    void SetUp() override { testApplication(); }
};

}  // namespace

TEST_F(SongListPrintTest, PagesHoldRRowsAndNoEmptyPageFollows) {
    struct Case {
        int lines;
        std::vector<int> rowsPerPage;
    } cases[] = {{81, {40, 40, 1}}, {80, {40, 40}}, {1, {1}}, {40, {40}}};
    for (const Case& c : cases) {
        auto device = print(listOf(PrintOrder::ByTitle, numbered(c.lines)), 40);
        ASSERT_EQ(device->pages.size(), c.rowsPerPage.size()) << c.lines;
        const int pages = static_cast<int>(c.rowsPerPage.size());
        for (int p = 0; p < pages; ++p) {
            const RecordedPage& page = device->pages[static_cast<size_t>(p)];
            EXPECT_EQ(page.rects.size(), 3u * (1 + static_cast<size_t>(c.rowsPerPage[p]))) << c.lines;
            ASSERT_FALSE(page.texts.empty());
            EXPECT_EQ(page.texts[0].text, QStringLiteral("Músicas do Vozaro organizadas por Música - Página %1 de %2")
                                              .arg(p + 1)
                                              .arg(pages));
            EXPECT_TRUE(page.texts[0].font.bold());
            EXPECT_EQ(page.texts[0].font.pointSize(), 12);
        }
    }
}

TEST_F(SongListPrintTest, RowsAreRuledCellsWithCentredTexts) {
    PageGeometry g;
    auto device = print(listOf(PrintOrder::ByTitle, {{"", "Sozinha", "s.kar", 7}}), 40, &g);
    const RecordedPage& page = device->pages.at(0);
    EXPECT_EQ(texts(page), (std::vector<QString>{
                               QStringLiteral("Músicas do Vozaro organizadas por Música - Página 1 de 1"),
                               QStringLiteral("Número"), QStringLiteral("Música"),
                               QStringLiteral("Intérprete / Categoria"), QStringLiteral("00007"),
                               QStringLiteral("Sozinha")}));
    EXPECT_EQ(g.x3, kWidth);
    EXPECT_EQ(g.x0, 336);  // 7 % of the width
    EXPECT_EQ(g.x2, g.x1 + (kWidth - g.x1) / 2);
    // Header row from 2L to 3L, the data row below it; an empty performer
    // still gets its cell with borders.
    const std::vector<QRectF> expected = {
        QRectF(g.x0, 2 * g.L, g.x1 - g.x0, g.L), QRectF(g.x1, 2 * g.L, g.x2 - g.x1, g.L),
        QRectF(g.x2, 2 * g.L, g.x3 - g.x2, g.L), QRectF(g.x0, 3 * g.L, g.x1 - g.x0, g.L),
        QRectF(g.x1, 3 * g.L, g.x2 - g.x1, g.L), QRectF(g.x2, 3 * g.L, g.x3 - g.x2, g.L)};
    EXPECT_EQ(page.rects, expected);

    const RecordedText& number = page.texts[4];
    QFontMetrics metrics(number.font, device.get());
    EXPECT_FALSE(number.font.bold());
    EXPECT_EQ(number.font.pointSize(), 10);
    EXPECT_EQ(number.baseline.x(), g.x0 + (g.x1 - g.x0 - metrics.horizontalAdvance("00007")) / 2);
    EXPECT_EQ(number.baseline.y(), 3 * g.L + g.d + metrics.ascent());
    EXPECT_TRUE(page.texts[1].font.bold());
}

TEST_F(SongListPrintTest, SortedByPerformerThenTitleThenNumberIgnoringCaseAndAccents) {
    std::vector<TRegistroAlbum> entries = {
        {"\xc9rica", "Zebra", "", 5},  {"erica", "abelha", "", 9},  {"Beto", "Sol", "", 3},
        {"\xc1lvaro", "Mar", "", 8},   {"beto", "sol", "", 2},      {"Zeca", "A @@ B - C", "", 1},
    };
    auto device = print(listOf(PrintOrder::ByPerformer, entries), 40);
    std::vector<QString> numbers, performers;
    const RecordedPage& page = device->pages.at(0);
    EXPECT_EQ(page.texts[0].text,
              QStringLiteral("Músicas do Vozaro organizadas por Intérprete / Categoria - Página 1 de 1"));
    EXPECT_EQ(page.texts[2].text, QStringLiteral("Intérprete / Categoria"));
    for (size_t i = 4; i + 1 < page.texts.size(); i += 3) {
        numbers.push_back(page.texts[i].text);
        performers.push_back(page.texts[i + 1].text);
    }
    EXPECT_EQ(numbers, (std::vector<QString>{"00008", "00002", "00003", "00009", "00005", "00001"}));
    EXPECT_EQ(page.texts.back().text, QStringLiteral("A @@ B - C"));  // a title is one cell
}

TEST_F(SongListPrintTest, APageWithoutRoomForARowPrintsNothing) {
    const int L = lineHeight();
    for (int height : {0, L, 3 * L, 4 * L - 1}) {
        RecordingPaintDevice device(kWidth, height);
        EXPECT_THROW(pageGeometry(device, 10), NoRoomOnPage) << height;
    }
    RecordingPaintDevice device(kWidth, 4 * L);
    EXPECT_EQ(pageGeometry(device, 10).pages, 10);
}
