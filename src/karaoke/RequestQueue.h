// The request queue of the stage without its widgets.  Each request is a
// record (the song's number and catalogue position, the singer, where it
// came from, when it joined); the stage's list box shows lines(), drawn from
// the records, and FilaPosicoes, the catalogue positions as decimal text, is
// kept in step with them.  Every change goes through here so that the two
// never drift apart.
//
// thread: user-interface thread only.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "stores/vozaro_colecao.h"

namespace vozaro::stage {

// Where a request came from.
enum class RequestSource { Typed, Phone };

struct Request {
    std::uint64_t id = 0;        // given by the queue, unique in the run
    std::int32_t numero = 0;     // the song's number
    std::int32_t position = -1;  // its catalogue position when requested
    QString singer;              // trimmed; may be empty
    // The song's performer and title when it was requested, as the panel
    // shows them.
    QString interprete, musica;
    RequestSource source = RequestSource::Typed;
    QString phone;             // the phone's address, for a request by phone
    std::int64_t joinedMs = 0;  // when it joined the queue, on the queue's clock
    // The song's length at 100 %, read from its file when the request
    // joined the queue (kUnknownLengthMs when the file could not be read).
    std::int64_t lengthMs = 0;
};

// What a song whose file cannot be read counts for.
constexpr std::int64_t kUnknownLengthMs = 4 * 60 * 1000;

// A singer's name as fair turns compare it: trimmed, case and accents aside
// ("  ANA " and "Ána" are the same singer).  Empty for a request without one.
std::string singerKey(const QString& singer);

// Fair turns: the queue read from its front as rounds, a round ending just
// before the first request whose singer already appears in it.  A request
// for `singer` goes at the end of the first round without that singer, or at
// the end of the queue when every round has it; a request without a singer
// goes at the end.  The row it goes to.
int fairTurnRow(const QList<Request>& queue, const QString& singer);

// A request for a catalogue entry at `position` and a singer (already
// trimmed); the queue gives it its id and time.
Request requestFor(const TRegistroAlbum& entry, std::int32_t position, const QString& singer,
                   RequestSource source = RequestSource::Typed, const QString& phone = QString());

// The panel's line of a request: "%5.5d - %s - %s - %s" (number, singer,
// performer, title).
QString requestLine(const Request& request);

// The song number typed or pasted into the number field: the trimmed text as
// a whole number from 1 to 99,999, or nothing ("12a", "00000", "").
std::optional<std::int32_t> requestedNumber(const QString& text);

// The centred title at the start of a song: the singer's whole name and the
// song's title: "singer - title", the title alone without a singer, the
// singer alone without a title.
QString titleOf(const QString& singer, const QString& title);

class RequestQueue {
public:
    // `positions`: the list kept in step with the records (FilaPosicoes),
    // empty as the queue; without one the queue keeps its own.  `clockMs`: a monotonic clock in
    // milliseconds, for the time a request joins.  `songLengthMs`: the length
    // of a request's song, read as it joins (requestedSongLengthMs, from the
    // song's file, unless given).
    explicit RequestQueue(QStringList* positions = nullptr, std::function<std::int64_t()> clockMs = {},
                          std::function<std::int64_t(const Request&)> songLengthMs = {});
    RequestQueue(const RequestQueue&) = delete;
    RequestQueue& operator=(const RequestQueue&) = delete;

    const QList<Request>& requests() const { return requests_; }
    // The panel's lines, in queue order.
    QStringList lines() const;
    // FilaPosicoes: catalogue positions, parallel to requests().
    const QStringList& positions() const { return *positions_; }
    int count() const { return static_cast<int>(requests_.size()); }
    bool isEmpty() const { return requests_.isEmpty(); }

    // Fair turns ("Revezamento"): off, a request joins at the end of the
    // queue; on, where fairTurnRow puts it.  The host's own moves are kept
    // as made: later requests are placed around them by the same rule, the
    // rounds read from the queue as it stands.
    void setFairTurns(bool on) { fairTurns_ = on; }
    bool fairTurns() const { return fairTurns_; }

    // Adds `request` with a new id, the time it joined and its song's
    // length, at the end or where fair turns put it; returns it.
    const Request& append(Request request);
    // The row of the request with that id; -1 when it is not waiting.
    int rowOf(std::uint64_t id) const;
    // False (nothing removed) for a row outside the queue.
    bool removeAt(int row);
    // The request at row `from` moves to row `to`, the ones between shift by
    // one (for neighbouring rows the same as a swap).  False for rows
    // outside the queue.
    bool move(int from, int to);
    void clear();

    // The first request, taken off the queue; nothing when it is empty.
    std::optional<Request> takeFirst();
    // A request taken that could not start goes back to the front as it
    // was (its id and time kept).
    void putBackFirst(Request request);

private:
    QList<Request> requests_;
    QStringList ownPositions_;
    QStringList* positions_;
    std::function<std::int64_t()> clockMs_;
    std::function<std::int64_t(const Request&)> songLengthMs_;
    std::uint64_t lastId_ = 0;
    bool fairTurns_ = false;
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
// not carry the request's number, the number is looked up again.  Not found
// when the song is no longer in the catalogue or it cannot be read.
FoundSong requestedEntry(const Request& request);

}  // namespace vozaro::stage
