// The catalogue search, one rule for every place that searches songs (the
// catalogue window's "Procurar:", the guests' phones): every word of the
// query must occur in the song's number (five digits), performer or title,
// case and accents aside; an empty query finds every song.
//
// Folding: a text is compared in its compatibility decomposition, without
// its non-spacing marks, case folded, as UTF-8 ("Café" and "CAFE" give
// "cafe", "2ª" gives "2a", "ﬁm" gives "fim").  A song's key is its number
// and its two texts folded, separated by spaces; a word holds no space, so
// none matches across two fields.
//
// thread: any; the folding tables are made once, on first use.
#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vozaro::catalogue {

// A text as the search compares it (see above).
std::string searchKey(QStringView text);

// Appends the key of a song whose texts are Windows-1252, as the album stores them.
void appendSongKey(std::string& out, std::int32_t numero, std::string_view interprete, std::string_view musica);
// The key of a song whose texts are already in Unicode.
std::string songKey(std::int32_t numero, QStringView interprete, QStringView musica);

class SongSearch {
public:
    SongSearch() = default;  // finds every song
    explicit SongSearch(QStringView query);

    bool findsEverySong() const { return words_.empty(); }
    // Whether a song's key (appendSongKey, songKey) holds every word.
    bool finds(std::string_view key) const;

    bool operator==(const SongSearch&) const = default;

private:
    std::vector<std::string> words_;  // folded, none empty
};

}  // namespace vozaro::catalogue
