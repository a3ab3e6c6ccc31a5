#include "karaoke/Waits.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "midi/cmpMidiData.h"
#include "midi/cmpMidiIterator.h"
#include "stores/vozaro_colecao.h"

namespace vozaro::stage {

std::vector<std::int64_t> waitsMs(const QList<Request>& queue, const StageTimes& stage) {
    std::vector<std::int64_t> waits;
    waits.reserve(static_cast<std::size_t>(queue.size()));
    std::int64_t wait = std::max<std::int64_t>(stage.untilFreeMs, 0);
    for (const Request& request : queue) {
        waits.push_back(wait);
        wait += std::max<std::int64_t>(request.lengthMs, 0) + stage.pauseMs;
    }
    return waits;
}

int waitMinutes(std::int64_t ms) {
    constexpr std::int64_t kMinute = 60000;
    return ms <= 0 ? 0 : static_cast<int>((ms + kMinute - 1) / kMinute);
}

std::int64_t songLengthMs(midi::TMidiData& song) {
    std::int32_t last = 0;
    for (std::int32_t t = 0; t < song.TrackCount(); ++t) {
        const auto& track = *song.Tracks(t);
        if (track.EventCount() > 0)
            last = std::max(last, track.Event(track.EventCount() - 1)->Time);
    }
    midi::TMidiPosition position;
    position.setMidiData(&song);
    position.SetPosition(last);
    return position.Time();
}

std::int64_t requestedSongLengthMs(const Request& request) {
    const auto album = catalogue::programFolder() / "vozaro.alb";
    // The entry at the request's position, unless songs were removed since:
    // then the first carrying its number.
    std::optional<std::string> file;
    if (const auto entry = catalogue::entryOf(album, request.position); entry && entry->Numero == request.numero) {
        file = entry->Arquivo;
    } else {
        catalogue::forEachEntryOf(album, [&](const catalogue::EntryView& entry) {
            if (entry.Numero == request.numero)
                file = std::string(entry.Arquivo);
            return !file;
        });
    }
    const auto path = file ? catalogue::songFilePath(*file) : std::nullopt;
    if (!path)
        return kUnknownLengthMs;
    try {
        midi::TMidiData song;
        song.setFileName(path->string());
        song.setActive(true);
        return songLengthMs(song);
    } catch (const std::exception&) {
        return kUnknownLengthMs;
    }
}

}  // namespace vozaro::stage
