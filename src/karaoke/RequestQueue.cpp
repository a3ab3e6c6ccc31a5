#include "karaoke/RequestQueue.h"

#include <algorithm>
#include <chrono>
#include <vector>
#include <utility>

#include "karaoke/SongSearch.h"
#include "karaoke/Waits.h"
#include "platform/TextEncoding.h"

namespace vozaro::stage {

namespace {

QString fromCatalogue(const std::string& text) {
    return QString::fromStdString(platform::windows1252ToUtf8(text));
}

}  // namespace

Request requestFor(const TRegistroAlbum& entry, std::int32_t position, const QString& singer, RequestSource source,
                   const QString& phone) {
    Request request;
    request.numero = entry.Numero;
    request.position = position;
    request.singer = singer;
    request.interprete = fromCatalogue(entry.Interprete);
    request.musica = fromCatalogue(entry.Musica);
    request.source = source;
    request.phone = phone;
    return request;
}

QString requestLine(const Request& request) {
    return QStringLiteral("%1 - %2 - %3 - %4")
        .arg(request.numero, 5, 10, QLatin1Char('0'))
        .arg(request.singer, request.interprete, request.musica);
}

std::optional<std::int32_t> requestedNumber(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 5)
        return std::nullopt;
    for (QChar c : trimmed)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    const std::int32_t number = trimmed.toInt();
    if (number < 1 || number > catalogue::kMaxSongs)
        return std::nullopt;
    return number;
}

QString titleOf(const QString& singer, const QString& title) {
    const QString name = singer.trimmed();
    if (!name.isEmpty() && !title.isEmpty())
        return name + QStringLiteral(" - ") + title;
    return title.isEmpty() ? name : title;
}

std::string singerKey(const QString& singer) { return catalogue::searchKey(singer.trimmed()); }

int fairTurnRow(const QList<Request>& queue, const QString& singer) {
    const std::string key = singerKey(singer);
    const int end = static_cast<int>(queue.size());
    if (key.empty())
        return end;
    std::vector<std::string> round;  // the singers of the round being read
    bool hasSinger = false;
    for (int row = 0; row < end; ++row) {
        std::string other = singerKey(queue[row].singer);
        if (!other.empty() && std::find(round.begin(), round.end(), other) != round.end()) {
            // A new round starts here: the one just read may take the request.
            if (!hasSinger)
                return row;
            round.clear();
            hasSinger = false;
        }
        hasSinger = hasSinger || other == key;
        if (!other.empty())
            round.push_back(std::move(other));
    }
    return end;
}

RequestQueue::RequestQueue(QStringList* positions, std::function<std::int64_t()> clockMs,
                           std::function<std::int64_t(const Request&)> songLengthMs)
    : positions_(positions ? positions : &ownPositions_),
      clockMs_(std::move(clockMs)),
      songLengthMs_(std::move(songLengthMs)) {
    if (!songLengthMs_)
        songLengthMs_ = requestedSongLengthMs;
    if (!clockMs_)
        clockMs_ = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
}

QStringList RequestQueue::lines() const {
    QStringList lines;
    lines.reserve(requests_.size());
    for (const Request& request : requests_)
        lines.append(requestLine(request));
    return lines;
}

const Request& RequestQueue::append(Request request) {
    request.id = ++lastId_;
    request.joinedMs = clockMs_();
    request.lengthMs = songLengthMs_(request);
    const int row = fairTurns_ ? fairTurnRow(requests_, request.singer) : count();
    positions_->insert(row, QString::number(request.position));
    requests_.insert(row, std::move(request));
    return requests_[row];
}

int RequestQueue::rowOf(std::uint64_t id) const {
    for (int row = 0; row < count(); ++row)
        if (requests_[row].id == id)
            return row;
    return -1;
}

bool RequestQueue::removeAt(int row) {
    if (row < 0 || row >= count())
        return false;
    requests_.removeAt(row);
    positions_->removeAt(row);
    return true;
}

bool RequestQueue::move(int from, int to) {
    if (from < 0 || from >= count() || to < 0 || to >= count())
        return false;
    requests_.move(from, to);
    positions_->move(from, to);
    return true;
}

void RequestQueue::clear() {
    requests_.clear();
    positions_->clear();
}

std::optional<Request> RequestQueue::takeFirst() {
    if (isEmpty())
        return std::nullopt;
    positions_->removeFirst();
    return requests_.takeFirst();
}

void RequestQueue::putBackFirst(Request request) {
    positions_->prepend(QString::number(request.position));
    requests_.prepend(std::move(request));
}

bool RequestDrag::moveTo(RequestQueue& queue, int selectedRow) {
    if (tag_ >= queue.count()) {
        tag_ = -1;  // the queue shrank under the drag
        return false;
    }
    if (selectedRow < 0 || queue.isEmpty() || tag_ < 0 || selectedRow == tag_)
        return false;
    if (!queue.move(tag_, selectedRow))
        return false;
    tag_ = selectedRow;
    return true;
}

namespace {

// Runs a look-up with the catalogue open: `positionOf` returns the position
// of the song, -1 when it is not there; RegistroAtual then holds its entry.
template <typename PositionOf>
FoundSong lookUp(PositionOf&& positionOf) {
    FoundSong song;
    switch (catalogue::openAlbumDuringEvening()) {
    case catalogue::AlbumOpening::Opened: break;
    case catalogue::AlbumOpening::Failed: song.result = FoundSong::CatalogueUnavailable; return song;
    case catalogue::AlbumOpening::NotNow: song.result = FoundSong::CatalogueNotNow; return song;
    }
    try {
        song.position = positionOf();
    } catch (const std::exception&) {
        song.position = -1;
    }
    FecharAlbum();
    if (song.position >= 0) {
        song.result = FoundSong::Found;
        song.entry = RegistroAtual;
    }
    return song;
}

}  // namespace

FoundSong findSong(std::int32_t numero) {
    return lookUp([numero] { return LocalizarMusica(numero); });
}

FoundSong requestedEntry(const Request& request) {
    return lookUp([&]() -> std::int32_t {
        if (request.position >= 0 && request.position < ContarMusicas()) {
            LerRegistro(request.position);
            if (RegistroAtual.Numero == request.numero)
                return request.position;
        }
        return LocalizarMusica(request.numero);
    });
}

}  // namespace vozaro::stage
