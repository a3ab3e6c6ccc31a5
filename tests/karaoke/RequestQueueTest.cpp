// The request queue without its widgets: the records, the positions kept in
// step with them, the drag, the title rule and the number check against the
// catalogue.
#include "catalogue/CatalogueFixture.h"
#include "karaoke/RequestQueue.h"

#include <gtest/gtest.h>

#include <memory>

using namespace vozaro::stage;

namespace {

// A queue whose requests are sung by the names given, the first request at
// catalogue position 0, the next at 1 and so on.
struct Positions {
    QStringList filaPosicoes;
};
struct TestQueue : Positions, RequestQueue {
    TestQueue() : RequestQueue(&filaPosicoes) {}
    QStringList singers() const {
        QStringList names;
        for (const Request& request : requests())
            names << request.singer;
        return names;
    }
};

std::unique_ptr<TestQueue> queueOf(std::initializer_list<const char*> names) {
    auto queue = std::make_unique<TestQueue>();
    int position = 0;
    for (const char* name : names) {
        Request request;
        request.numero = position + 1;
        request.position = position++;
        request.singer = QString::fromUtf8(name);
        queue->append(request);
    }
    return queue;
}

QStringList linesOf(std::initializer_list<const char*> names) {
    QStringList lines;
    for (const char* name : names)
        lines << QString::fromUtf8(name);
    return lines;
}

}  // namespace

TEST(RequestQueue, LineNumberAndTitleRules) {
    const TRegistroAlbum entry{"Int\xE9rprete", "Can\xE7\xE3o", "a.kar", 12};  // Windows-1252, as stored
    EXPECT_EQ(requestLine(requestFor(entry, 3, "Ana")), QString::fromUtf8("00012 - Ana - Intérprete - Canção"));
    EXPECT_EQ(requestLine(requestFor(entry, 3, "")), QString::fromUtf8("00012 -  - Intérprete - Canção"));

    struct NumberCase {
        const char* text;
        std::optional<std::int32_t> number;
    };
    for (const NumberCase& c : {NumberCase{"12", 12}, {" 00012 ", 12}, {"99999", 99999}, {"12a", {}},
                                {"00000", {}}, {"", {}}, {"-12", {}}, {"1 2", {}}, {"123456", {}}})
        EXPECT_EQ(requestedNumber(QString::fromUtf8(c.text)), c.number) << c.text;

    struct TitleCase {
        const char* singer;
        const char* title;
        const char* expected;
    };
    for (const TitleCase& c : {TitleCase{"Ana", "Canção", "Ana - Canção"},
                               {"", "Canção", "Canção"},
                               {"Ana-Maria", "Canção", "Ana-Maria - Canção"},
                               {"Ana - x - FORA", "Canção", "Ana - x - FORA - Canção"},
                               {"Ana", "", "Ana"},
                               {"", "", ""}})
        EXPECT_EQ(titleOf(QString::fromUtf8(c.singer), QString::fromUtf8(c.title)), QString::fromUtf8(c.expected))
            << c.singer;
}

TEST(RequestQueue, ListsStayParallelThroughRemovalAndTaking) {
    auto owned = queueOf({"A", "B", "B", "C"});
    RequestQueue& queue = *owned;  // the same song twice is queued twice
    EXPECT_FALSE(queue.removeAt(-1));
    EXPECT_FALSE(queue.removeAt(4));
    EXPECT_TRUE(queue.removeAt(1));
    EXPECT_EQ(owned->singers(), linesOf({"A", "B", "C"}));
    EXPECT_EQ(queue.positions(), linesOf({"0", "2", "3"}));
    EXPECT_EQ(owned->filaPosicoes, queue.positions());
    const auto first = queue.takeFirst();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->singer, "A");
    EXPECT_EQ(first->position, 0);
    EXPECT_EQ(queue.positions(), linesOf({"2", "3"}));
    queue.clear();
    EXPECT_FALSE(queue.takeFirst());
}

TEST(RequestQueue, DraggingMovesTheRequestToThePointersRow) {
    struct Case {
        const char* name;
        int pressed;
        std::vector<int> pointerRows;
        std::initializer_list<const char*> lines;
        std::initializer_list<const char*> positions;
    };
    const Case cases[] = {
        {"third to the top row by row", 2, {1, 0}, {"C", "A", "B", "D"}, {"2", "0", "1", "3"}},
        // The pointer skips rows: the request moves, the others keep their order.
        {"last to the top at once", 3, {0}, {"D", "A", "B", "C"}, {"3", "0", "1", "2"}},
        {"first down two rows", 0, {2}, {"B", "C", "A", "D"}, {"1", "2", "0", "3"}},
        {"no row pressed", -1, {2}, {"A", "B", "C", "D"}, {"0", "1", "2", "3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto owned = queueOf({"A", "B", "C", "D"});
        RequestQueue& queue = *owned;
        RequestDrag drag;
        drag.press(c.pressed);
        for (int row : c.pointerRows)
            drag.moveTo(queue, row);
        EXPECT_EQ(owned->singers(), linesOf(c.lines));
        EXPECT_EQ(queue.positions(), linesOf(c.positions));
    }

    // The queue shrinks under the drag (the song started meanwhile).
    auto owned = queueOf({"A", "B", "C"});
    RequestQueue& queue = *owned;
    RequestDrag drag;
    drag.press(2);
    queue.removeAt(0);
    queue.removeAt(0);
    EXPECT_FALSE(drag.moveTo(queue, 0));
    EXPECT_EQ(drag.tag(), -1);
    EXPECT_EQ(owned->singers(), linesOf({"C"}));
}

class RequestedEntry : public CatalogueTest {};

TEST_F(RequestedEntry, ThePositionIsCheckedAgainstTheNumberShown) {
    ASSERT_TRUE(AbrirAlbum());
    const int32_t one = addSong("um.kar");
    const int32_t two = addSong("dois.kar");
    const int32_t three = addSong("tres.kar");
    FecharAlbum();
    auto request = [](int32_t number, int32_t position) {
        Request r;
        r.numero = number;
        r.position = position;
        r.singer = QStringLiteral("Ana");
        return r;
    };
    auto entry = requestedEntry(request(three, 2));
    ASSERT_EQ(entry.result, FoundSong::Found);
    EXPECT_EQ(entry.entry.Arquivo, "tres.kar");
    EXPECT_EQ(entry.position, 2);

    // Song two removed while requests wait: song three moved to position 1.
    ASSERT_TRUE(AbrirAlbum());
    ASSERT_TRUE(ExcluirMusica(two));
    FecharAlbum();
    entry = requestedEntry(request(three, 2));
    ASSERT_EQ(entry.result, FoundSong::Found);
    EXPECT_EQ(entry.entry.Numero, three);
    EXPECT_EQ(entry.entry.Arquivo, "tres.kar");
    EXPECT_EQ(entry.position, 1);
    EXPECT_EQ(requestedEntry(request(two, 1)).result, FoundSong::NotFound);  // gone: the request is dropped
    EXPECT_EQ(findSong(two).result, FoundSong::NotFound);
    entry = requestedEntry(request(one, 0));
    ASSERT_EQ(entry.result, FoundSong::Found);
    EXPECT_EQ(entry.entry.Arquivo, "um.kar");
    EXPECT_EQ(findSong(three).position, 1);
}

// Fair turns: arrivals (a name; "" a request without a singer) and the
// host's moves ("^from>to" moves a row, "-row" deletes one, "*" starts the
// first), each sequence with the order it leaves.
TEST(RequestQueue, FairTurnsPlaceEachArrivalInTheFirstRoundWithoutItsSinger) {
    struct Case {
        bool fair;
        std::vector<const char*> steps;
        QStringList order;
    };
    const Case cases[] = {
        {true, {"Ana", "Ana", "Bia", "Caio", "Bia"}, {"Ana", "Bia", "Caio", "Ana", "Bia"}},
        {true, {"Ana", "Ana", "Bia", "Caio", "Bia", "Davi"}, {"Ana", "Bia", "Caio", "Davi", "Ana", "Bia"}},
        // The host made Ana, Bia, Bia, Caio (rounds Ana, Bia | Bia, Caio).
        {true, {"Ana", "Bia", "Bia", "Caio", "^3>2", "Davi"}, {"Ana", "Bia", "Davi", "Bia", "Caio"}},
        // Names alike but for case, accents and spaces are one singer.
        {true, {"Ana", " ANA ", "\xC3\x81na", "Bia"}, {"Ana", "Bia", " ANA ", "\xC3\x81na"}},
        // Without a singer: at the end, and in no round's way.
        {true, {"Ana", "", "Bia"}, {"Ana", "", "Bia"}},
        {true, {"Ana", "Ana", "", "Bia"}, {"Ana", "Bia", "Ana", ""}},
        // The host put Caio first: the rounds are read as they now stand.
        {true, {"Ana", "Bia", "Caio", "^2>0", "Ana", "Caio"}, {"Caio", "Ana", "Bia", "Ana", "Caio"}},
        {true, {"Ana", "Bia", "Ana", "Bia", "-1", "Caio"}, {"Ana", "Caio", "Ana", "Bia"}},
        // The singer on stage does not count.
        {true, {"Ana", "Bia", "Ana", "*", "Ana", "Caio"}, {"Bia", "Ana", "Caio", "Ana"}},
        // Off: first come, first served.
        {false, {"Ana", "Ana", "Bia", "Caio", "Bia"}, {"Ana", "Ana", "Bia", "Caio", "Bia"}},
    };
    for (const Case& c : cases) {
        TestQueue queue;
        queue.setFairTurns(c.fair);
        QString trace;
        for (const char* step : c.steps) {
            const QString s = QString::fromUtf8(step);
            trace += QLatin1Char('[') + s + QLatin1Char(']');
            if (s.startsWith(QLatin1Char('^'))) {
                const QStringList rows = s.mid(1).split(QLatin1Char('>'));
                ASSERT_TRUE(queue.move(rows[0].toInt(), rows[1].toInt()));
            } else if (s.startsWith(QLatin1Char('-'))) {
                ASSERT_TRUE(queue.removeAt(s.mid(1).toInt()));
            } else if (s == QLatin1String("*")) {
                ASSERT_TRUE(queue.takeFirst());
            } else {
                Request request;
                request.numero = 1;
                request.position = static_cast<std::int32_t>(queue.count());
                request.singer = s;
                const std::uint64_t id = queue.append(request).id;
                EXPECT_EQ(queue.requests()[queue.rowOf(id)].singer, s);
            }
        }
        EXPECT_EQ(queue.singers(), c.order) << trace.toStdString();
        // The catalogue positions follow the records.
        QStringList positions;
        for (const Request& request : queue.requests())
            positions << QString::number(request.position);
        EXPECT_EQ(queue.filaPosicoes, positions) << trace.toStdString();
    }
}
