#include "stage/RequestQueue.h"

#include "platform/TextEncoding.h"

namespace vozaro::stage {

namespace {

QString fromCatalogue(const std::string& text) {
    return QString::fromStdString(platform::windows1252ToUtf8(text));
}

}  // namespace

QString requestLine(const TRegistroAlbum& entry, const QString& singer) {
    return QStringLiteral("%1 - %2 - %3 - %4")
        .arg(entry.Numero, 5, 10, QLatin1Char('0'))
        .arg(singer, fromCatalogue(entry.Interprete), fromCatalogue(entry.Musica));
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

std::optional<std::int32_t> lineNumber(const QString& line) {
    return requestedNumber(line.left(5));
}

QString titleOf(const QString& line, const QString& title) {
    const qsizetype firstHyphen = line.indexOf(QLatin1Char('-'));
    const QString afterFirst = firstHyphen < 0 ? QString() : line.mid(firstHyphen + 1);
    const QString singer = afterFirst.section(QLatin1Char('-'), 0, 0).trimmed();
    if (!singer.isEmpty() && !title.isEmpty())
        return singer + QStringLiteral(" - ") + title;
    return title.isEmpty() ? singer : title;
}

void RequestQueue::append(const QString& line, std::int32_t position) {
    lines_.append(line);
    positions_.append(QString::number(position));
}

bool RequestQueue::removeAt(int row) {
    if (row < 0 || row >= count())
        return false;
    lines_.removeAt(row);
    positions_.removeAt(row);
    return true;
}

bool RequestQueue::move(int from, int to) {
    if (from < 0 || from >= count() || to < 0 || to >= count())
        return false;
    lines_.move(from, to);
    positions_.move(from, to);
    return true;
}

void RequestQueue::clear() {
    lines_.clear();
    positions_.clear();
}

std::optional<RequestQueue::Request> RequestQueue::takeFirst() {
    if (isEmpty())
        return std::nullopt;
    bool ok = false;
    const int position = positions_.first().toInt(&ok);
    Request request{lines_.takeFirst(), ok ? position : -1};
    positions_.removeFirst();
    return request;
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

FoundSong requestedEntry(const RequestQueue::Request& request) {
    const std::optional<std::int32_t> number = lineNumber(request.line);
    return lookUp([&]() -> std::int32_t {
        if (request.position >= 0 && request.position < ContarMusicas()) {
            LerRegistro(request.position);
            if (!number || RegistroAtual.Numero == *number)
                return request.position;
        }
        return number ? LocalizarMusica(*number) : -1;
    });
}

}  // namespace vozaro::stage
