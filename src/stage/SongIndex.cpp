#include "stage/SongIndex.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cstdio>
#include <numeric>
#include <string_view>
#include <system_error>

#include "catalogue/vozaro_colecao.h"
#include "platform/TextEncoding.h"

namespace fs = std::filesystem;

namespace vozaro::stage {

std::string searchKey(const QString& text) {
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString bare;
    bare.reserve(decomposed.size());
    for (QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing)
            bare.append(c);
    return bare.toCaseFolded().toStdString();
}

namespace {

// The search key of every Windows-1252 byte, made by searchKey itself so that
// catalogue texts and queries fold alike.
const std::array<std::string, 256>& byteKeys() {
    static const std::array<std::string, 256> keys = [] {
        std::array<std::string, 256> table;
        for (int b = 0; b < 256; ++b)
            table[static_cast<std::size_t>(b)] =
                searchKey(QString(QChar(platform::windows1252Char(static_cast<unsigned char>(b)))));
        return table;
    }();
    return keys;
}

void appendKey(std::string& key, std::string_view windows1252) {
    const auto& table = byteKeys();
    for (char c : windows1252)
        key += table[static_cast<unsigned char>(c)];
}

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

bool SongIndex::refresh() {
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
    read(album);
    stamp_ = stamp;
    return true;
}

bool SongIndex::read(const fs::path& albumFile) {
    std::vector<IndexedSong> songs;
    std::int32_t position = 0;
    const bool ok = catalogue::forEachEntryOf(albumFile, [&](const catalogue::EntryView& entry) {
        songs.push_back({entry.Numero, position++, std::string(entry.Interprete), std::string(entry.Musica)});
        return true;
    });
    if (!ok)
        songs.clear();
    std::stable_sort(songs.begin(), songs.end(),
                     [](const IndexedSong& a, const IndexedSong& b) { return a.numero < b.numero; });
    std::vector<std::string> keys(songs.size());
    char number[16];
    for (std::size_t i = 0; i < songs.size(); ++i) {
        std::string& key = keys[i];
        key.reserve(8 + songs[i].interprete.size() + songs[i].musica.size());
        std::snprintf(number, sizeof number, "%05d ", static_cast<int>(songs[i].numero));
        key += number;
        appendKey(key, songs[i].interprete);
        key += ' ';
        appendKey(key, songs[i].musica);
    }
    songs_ = std::move(songs);
    keys_ = std::move(keys);
    return ok;
}

SongIndex::Page SongIndex::search(const QString& query, int page) const {
    std::vector<std::string> words;
    for (const QString& word : query.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        if (std::string key = searchKey(word); !key.empty())
            words.push_back(std::move(key));
    Page result;
    const long first = static_cast<long>(std::max(page, 1) - 1) * kPageSize;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        const std::string_view key = keys_[i];
        const bool found = std::all_of(words.begin(), words.end(),
                                       [&](const std::string& word) { return key.find(word) != std::string_view::npos; });
        if (!found)
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
