#include "phone/SongIndex.h"

#include <algorithm>
#include <string_view>
#include <system_error>

#include "karaoke/SongSearch.h"
#include "stores/vozaro_colecao.h"
#include "platform/TextEncoding.h"

namespace fs = std::filesystem;

namespace vozaro::stage {

namespace {

std::optional<fs::file_time_type> modified(const fs::path& file) {
    std::error_code error;
    const auto time = fs::last_write_time(file, error);
    if (error)
        return std::nullopt;
    return time;
}

}  // namespace

QString IndexedSong::interpreteText() const { return QString::fromStdString(platform::windows1252ToUtf8(interprete)); }
QString IndexedSong::musicaText() const { return QString::fromStdString(platform::windows1252ToUtf8(musica)); }

SongSnapshots::SongSnapshots() : current_(std::make_shared<const SongIndex>()) {}

std::shared_ptr<const SongIndex> SongSnapshots::current() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return current_;
}

bool SongSnapshots::refresh() {
    const std::lock_guard<std::mutex> reading(refreshing_);
    const fs::path album = catalogue::programFolder() / "vozaro.alb";
    std::error_code error;
    Stamp stamp;
    stamp.size = fs::file_size(album, error);
    const auto time = modified(album);
    if (error || !time) {
        stamp = Stamp{};  // no album file: an empty catalogue
    } else {
        stamp.time = *time;
    }
    if (stamp_ && *stamp_ == stamp)
        return false;
    auto index = std::make_shared<SongIndex>();
    if (!index->read(album))
        return false;  // kept, and read again next time
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        current_ = std::move(index);
    }
    stamp_ = stamp;
    return true;
}

bool SongIndex::read(const fs::path& albumFile) {
    // First the entries as they lie (texts into one block of memory), then
    // ordered by number, then the keys in that order.
    struct Raw {
        std::int32_t numero, position;
        std::uint32_t at;
        std::uint8_t interprete, musica;
    };
    std::vector<Raw> raw;
    std::string texts;
    std::error_code sizeError;
    const auto bytes = fs::file_size(albumFile, sizeError);
    if (!sizeError) {
        raw.reserve(static_cast<std::size_t>(bytes / catalogue::kEntrySize));
        texts.reserve(static_cast<std::size_t>(bytes / 4));
    }
    const bool ok = catalogue::forEachEntryOf(albumFile, [&](const catalogue::EntryView& entry) {
        raw.push_back({entry.Numero, static_cast<std::int32_t>(raw.size()), static_cast<std::uint32_t>(texts.size()),
                       static_cast<std::uint8_t>(entry.Interprete.size()), static_cast<std::uint8_t>(entry.Musica.size())});
        texts += entry.Interprete;
        texts += entry.Musica;
        return true;
    });
    if (!ok) {
        raw.clear();
        texts.clear();
    }
    const auto byNumber = [](const Raw& a, const Raw& b) { return a.numero < b.numero; };
    if (!std::is_sorted(raw.begin(), raw.end(), byNumber))  // songs added in turn are in order
        std::stable_sort(raw.begin(), raw.end(), byNumber);

    texts_ = std::move(texts);  // before the views into it are made
    std::vector<IndexedSong> songs;
    songs.reserve(raw.size());
    std::string keys;
    keys.reserve(texts_.size() + texts_.size() / 8 + 12 * raw.size());
    std::vector<std::uint32_t> keyEnds;
    keyEnds.reserve(raw.size());
    for (const Raw& r : raw) {
        const std::string_view interprete(texts_.data() + r.at, r.interprete);
        const std::string_view musica(texts_.data() + r.at + r.interprete, r.musica);
        songs.push_back({r.numero, r.position, interprete, musica});
        catalogue::appendSongKey(keys, r.numero, interprete, musica);
        keyEnds.push_back(static_cast<std::uint32_t>(keys.size()));
    }
    keys_ = std::move(keys);
    songs_ = std::move(songs);
    keyEnds_ = std::move(keyEnds);
    return ok;
}

SongIndex::Page SongIndex::search(const QString& query, int page) const {
    const catalogue::SongSearch search(query);
    Page result;
    const long first = static_cast<long>(std::max(page, 1) - 1) * kPageSize;
    std::uint32_t keyStart = 0;
    for (std::size_t i = 0; i < songs_.size(); ++i) {
        const std::string_view key(keys_.data() + keyStart, keyEnds_[i] - keyStart);
        keyStart = keyEnds_[i];
        if (!search.finds(key))
            continue;
        if (result.total >= first && result.total < first + kPageSize)
            result.songs.push_back(&songs_[i]);
        ++result.total;
    }
    return result;
}

const IndexedSong* SongIndex::byNumber(std::int32_t numero) const {
    const auto it = std::lower_bound(songs_.begin(), songs_.end(), numero,
                                     [](const IndexedSong& song, std::int32_t n) { return song.numero < n; });
    return it != songs_.end() && it->numero == numero ? &*it : nullptr;
}

}  // namespace vozaro::stage
