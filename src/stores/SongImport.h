// Adding a whole collection of song files at once, without the song-data
// dialog: what vozaro-importar does.
//
// Every file goes in as IncluirMusica adds it (same checks, same copy into
// the songs folder, same numbering, same entry), with performer and title
// taken from its name.  An import takes the catalogue's writer lock a batch
// at a time (about a second of work), so that an edit in the catalogue
// window waits no longer than that; each batch reads the album's names and
// numbers once, for the duplicate check of its files.
//
// A copy in the songs folder without an entry (an import stopped between the
// copy and the entry, or in the middle of the copy) is taken up by the next
// import of the same file: a file of that name that no entry claims is
// catalogued as it lies when its bytes equal the file's, and copied afresh
// when they are the start of the file's bytes only.  Any other file of that
// name is left alone and the copy refused, as the catalogue window does.
//
// thread: user-interface thread only (the catalogue store is not synchronised).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "stores/vozaro_colecao.h"
#include "platform/Paths.h"

namespace vozaro::catalogue {

// How long an import holds the writer lock at a time, and how long it lets go
// between batches: longer than a waiting writer's look (kWriterPoll), so that
// the waiting writer gets the lock.
inline constexpr std::chrono::milliseconds kImportBatch{1000};
inline constexpr std::chrono::milliseconds kImportPause{3 * kWriterPoll};

// ".kar", ".mid" and ".rmi", in any case.
bool isSongFileName(const std::filesystem::path& file);

struct ImportRefusal {
    std::filesystem::path file;
    AddRefusal reason;
    std::string message;  // the store's message, as the catalogue window shows it
};

// The song files under `roots`: each root that is a file is taken as it is
// (whatever its name), each folder is searched through, its subfolders too,
// for song files; symbolic links to folders are not followed (no loops), and
// a root or subfolder that cannot be read is a refusal of its own.  Sorted
// by path within each root.
std::vector<std::filesystem::path> findSongFiles(const std::vector<std::filesystem::path>& roots,
                                                 std::vector<ImportRefusal>& unreadable);

// Adds many files to the open catalogue (between AbrirAlbum and
// FecharAlbum, under the writer lock): the album's names are read once, when
// the batch is made or reread() (CatalogueError when they cannot be read),
// and the songs folder is listed once.
class SongBatch {
public:
    explicit SongBatch(bool simulate = false);
    ~SongBatch();
    SongBatch(const SongBatch&) = delete;
    SongBatch& operator=(const SongBatch&) = delete;

    // As addSongFile: on success RegistroAtual holds the new entry.
    AddOutcome add(const std::filesystem::path& file, const AddSongHooks& hooks);
    // Reads the album's names and numbers and lists the songs folder again,
    // after another writer may have changed them; a simulation keeps the
    // songs it would have added.
    void reread();

private:
    std::unordered_set<std::string> names_;    // catalogued, exactly as in the album
    std::unordered_set<std::string> claimed_;  // the same, folded (foldedFileName), UTF-8
    std::vector<bool> used_;                   // numbers in use, index = number
    std::unique_ptr<platform::FolderNames> songs_;
    // What a simulation would have added: the name as catalogued, and on disk.
    std::vector<std::pair<std::string, std::string>> simulated_;
    AddContext context_;
};

struct ImportSummary {
    int32_t added = 0;
    std::vector<ImportRefusal> refused;  // already catalogued included
    // The catalogue could not be opened or written (or stayed busy); the
    // message says why, and files after the failure were not tried.
    bool catalogueFailed = false;
    std::string failure;

    int32_t count(AddRefusal reason) const;
    // 0: everything added or already there; 1: some files refused;
    // 2: the catalogue could not be opened or written.
    int exitStatus() const;
};

struct ImportOptions {
    // Checks everything and changes nothing.
    bool simulate = false;
    // Loads a file as the stage does; true when it holds a lyric syllable.
    // May throw the MIDI engine's errors (the file is then unreadable).
    std::function<bool(const std::filesystem::path& file)> isKaraoke;
    // How long to wait for another writer before giving up.
    std::chrono::milliseconds wait = kWriterWait;
    // How long one batch holds the writer lock, at most (give or take a file).
    std::chrono::milliseconds batch = kImportBatch;
    // After each file: how many are done, of how many.
    std::function<void(std::size_t done, std::size_t total)> progressed;
};

// Adds `files` in order into the catalogue of the program folder.
ImportSummary importSongs(const std::vector<std::filesystem::path>& files, const ImportOptions& options);

// How a file in the songs folder compares with the file being added: the
// same bytes, the start of them only (a copy cut short), or anything else.
enum class Contents { Same, TornCopy, Different };
Contents compareContents(const std::filesystem::path& file, const std::filesystem::path& copy);

}  // namespace vozaro::catalogue
