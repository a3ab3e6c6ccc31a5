// The request queue of the stage without its widgets: the request lines
// ("%5.5d - %s - %s - %s": number, singer, performer, title) and, parallel to
// them, the catalogue positions of the requested songs as decimal text.  The
// stage's list box shows lines(); every change goes through here so that the
// two lists never drift apart.
//
// thread: user-interface thread only.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "catalogue/vozaro_colecao.h"

namespace vozaro::stage {

// The request line for a catalogue entry and a singer (already trimmed).
QString requestLine(const TRegistroAlbum& entry, const QString& singer);

// The song number typed or pasted into the number field: the trimmed text as
// a whole number from 1 to 99,999, or nothing ("12a", "00000", "").
std::optional<std::int32_t> requestedNumber(const QString& text);

// The number a request line starts with, or nothing.
std::optional<std::int32_t> lineNumber(const QString& line);

// The centred title at the start of a song: the singer as entered (the text
// between the line's first and second "-", trimmed, so a hyphen in the name
// cuts it) and the song's title: "singer - title", the title alone without a
// singer, the singer alone without a title.
QString titleOf(const QString& line, const QString& title);

// Works on two lists its owner keeps (the stage's lines and FilaPosicoes).
class RequestQueue {
public:
    RequestQueue(QStringList& lines, QStringList& positions) : lines_(lines), positions_(positions) {}

    const QStringList& lines() const { return lines_; }
    // FilaPosicoes: catalogue positions, parallel to lines().
    const QStringList& positions() const { return positions_; }
    int count() const { return static_cast<int>(lines_.size()); }
    bool isEmpty() const { return lines_.isEmpty(); }

    void append(const QString& line, std::int32_t position);
    // False (nothing removed) for a row outside the queue.
    bool removeAt(int row);
    // The request at row `from` moves to row `to`, the ones between shift by
    // one (for neighbouring rows the same as a swap).  False for rows
    // outside the queue.
    bool move(int from, int to);
    void clear();

    // The first request, taken off the queue; nothing when it is empty.
    struct Request {
        QString line;
        std::int32_t position = -1;  // -1 when its text was not a number
    };
    std::optional<Request> takeFirst();

private:
    QStringList& lines_;
    QStringList& positions_;
};

// Dragging a request with the mouse: the row pressed is remembered (the list
// box's tag), and each row the pointer then selects moves the dragged request
// there.
class RequestDrag {
public:
    // PedidosMouseDown: the row the press selected (-1 none).
    void press(int selectedRow) { tag_ = selectedRow; }
    // PedidosEnter, PedidosMouseUp.
    void release() { tag_ = -1; }
    // PedidosMouseMove with the row now selected: true when a request moved
    // (the selection is then on its new row).  A tag beyond a queue that
    // shrank during the drag ends the drag.
    bool moveTo(RequestQueue& queue, int selectedRow);
    int tag() const { return tag_; }

private:
    int tag_ = -1;
};

// A song looked up in the catalogue.  The catalogue opens and closes around
// the look-up; when it cannot be opened, its own message has been shown and,
// as everywhere, the program must end (CatalogueUnavailable), unless the
// failure passes (CatalogueNotNow: no descriptor left for the moment; the
// host has been asked to try again, and the evening goes on).
struct FoundSong {
    enum Result { Found, NotFound, CatalogueUnavailable, CatalogueNotNow };
    Result result = NotFound;
    TRegistroAlbum entry;        // when found
    std::int32_t position = -1;  // its catalogue position, when found
};

// The song numbered `numero` (the first entry carrying it).
FoundSong findSong(std::int32_t numero);

// The catalogue entry a request stands for.  The queue keeps positions, and
// removing a song shifts the later ones: when the entry at the position does
// not carry the number shown in the line, the number is looked up again.
// Not found when the song is no longer in the catalogue or it cannot be read.
FoundSong requestedEntry(const RequestQueue::Request& request);

}  // namespace vozaro::stage
