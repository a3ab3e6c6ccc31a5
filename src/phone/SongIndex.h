// The catalogue in memory for the guests' search: every entry's number,
// position, performer and title, ordered by number, with a search key per
// entry.  It is read from the album file on its own (never through the open
// catalogue, so a search may arrive while an operation holds it); a search
// touches nothing but memory.
//
// Search: as SongSearch finds songs (every word in the number, performer or
// title, case and accents aside); an empty query lists every song.
//
// SongSnapshots keeps the list as the album file was last read, as an
// immutable snapshot that any thread may search, and reads the file again
// when its size or modification time changes.
//
// thread: a SongIndex is built on one thread and then only read, by any
// thread; SongSnapshots may be used from any thread.
#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vozaro::stage {

struct IndexedSong {
    std::int32_t numero = 0;
    std::int32_t position = 0;    // in the album file
    std::string_view interprete;  // Windows-1252, as stored (in the list's memory)
    std::string_view musica;
    QString interpreteText() const;  // for showing
    QString musicaText() const;
};

class SongIndex {
public:
    static constexpr int kPageSize = 50;

    // Reads the given album file whatever it holds; false (the list then
    // empty) when it cannot be read.
    bool read(const std::filesystem::path& albumFile);

    struct Page {
        int total = 0;                          // songs found
        std::vector<const IndexedSong*> songs;  // those of the page asked for
    };
    // Page 1 is the first; a page past the end is empty.
    Page search(const QString& query, int page) const;

    // The first entry (by position) carrying the number; null when none.
    const IndexedSong* byNumber(std::int32_t numero) const;
    int size() const { return static_cast<int>(songs_.size()); }

private:
    std::string texts_;               // every performer and title, one after the other
    std::string keys_;                // every song's search key (appendSongKey), one after the other
    std::vector<IndexedSong> songs_;  // by number, then position; views into texts_
    std::vector<std::uint32_t> keyEnds_;  // parallel: where each key ends in keys_
};

class SongSnapshots {
public:
    SongSnapshots();
    // The list as last read (empty before the first read); it never changes.
    std::shared_ptr<const SongIndex> current() const;
    // Reads the album file of the program folder when it is not read yet or
    // has changed since, and makes that the current list; true when it was
    // read now.  When the read fails the list stays as it was, and the next
    // refresh tries again.  Reading 99,999 songs takes some tens of
    // milliseconds: not on the user-interface thread.
    bool refresh();

private:
    struct Stamp {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type time;
        bool operator==(const Stamp&) const = default;
    };
    mutable std::mutex mutex_;                // guards current_
    std::shared_ptr<const SongIndex> current_;
    std::mutex refreshing_;                   // one read at a time; guards stamp_
    std::optional<Stamp> stamp_;
};

}  // namespace vozaro::stage
