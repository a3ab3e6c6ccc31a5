// The song catalogue: album file, album index, song numbers and song files.
//
// There is no catalogue in memory: AbrirAlbum opens the files, the operations
// read and write them directly, FecharAlbum closes them again.  Files, all in
// the program folder:
//   "vozaro.alb"  headerless sequence of 364-byte entries (layout below), in
//                 the order the songs were added; position = index of an entry
//   "vozaro.idx"  headerless sequence of signed 32-bit little-endian song
//                 numbers freed by removals, used as a stack (last = newest)
//   "vozaro.alt", "vozaro.idt"  rewrite files of the album and the index;
//                 written completely and flushed, then renamed over the old
//                 file in one step, so a crash leaves either the old or the new
//                 file, never neither
//   "Musicas/"    a copy of every song file ("musicas" or any other case of
//                 the name reaches the same folder), "Imagens/" the pictures
//
// Entry layout (texts are Windows-1252, a length byte then a fixed area):
//   0 Interprete length, 1..50 characters; 51 Musica length, 52..101;
//   102 Arquivo length, 103..357; 358..359 padding; 360 Numero (int32 LE).
// A length byte larger than its field reads as the field's size; bytes past
// the last whole entry of a damaged file (an append cut short) are ignored,
// and the start-up check cuts them off.
//
// Numbering rule: the numbers in the album file together with those in the
// index are exactly 1 .. (entries + free numbers).  A new song takes the most
// recently freed number, otherwise entries + 1 (ProximoNumero).
//
// thread: user-interface thread only; nothing here is synchronised.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "platform/FileLock.h"

// One catalogue entry.  The texts hold Windows-1252 bytes exactly as in the
// file (see platform/TextEncoding.h to show or build them); writing cuts them
// to their field's size.
struct TRegistroAlbum {
    std::string Interprete;  // performer or category, at most 50 characters
    std::string Musica;      // title, at most 50 characters
    std::string Arquivo;     // song file name without folder, at most 255 characters
    int32_t Numero = 0;      // song number, 1 .. 99,999
};

// The shared current entry: filled by LerRegistro and a successful
// LocalizarMusica, written by GravarRegistro.
extern TRegistroAlbum RegistroAtual;

namespace vozaro::catalogue {

constexpr int kEntrySize = 364;
constexpr int kInterpreteSize = 50;
constexpr int kMusicaSize = 50;
constexpr int kArquivoSize = 255;
constexpr int32_t kMaxSongs = 99999;

// A read, write or seek of the catalogue files failed; code() and what()
// carry the system's error.
using CatalogueError = std::system_error;

// The program folder every catalogue path is built from.  Set once at start
// (the stage's FormCreate, from platform::findProgramFolder()) and by tests.
void setProgramFolder(const std::filesystem::path& folder);
const std::filesystem::path& programFolder();

// The songs and pictures folders as they are on disk now ("Musicas"/"Imagens"
// in whatever case exists, else those names).
std::filesystem::path songsFolder();
std::filesystem::path picturesFolder();

// Where the song file of an entry lies: the name (Windows-1252) in the songs
// folder, matched without regard to case.  std::nullopt for a name that
// cannot be a file name inside the songs folder (empty, ".", "..", or holding
// '/', '\' or NUL), so that a damaged entry never reaches another file.
std::optional<std::filesystem::path> songFilePath(const std::string& arquivo);

// The name under which a song file is catalogued: its file name (UTF-8 on
// disk) in Windows-1252.  A name holding a character Windows-1252 cannot
// write, a control character (a line break), or a "\" (a folder separator
// to the album), cannot be catalogued:
// the user is told so (error message naming the file) and std::nullopt comes
// back.  With `refusal`, the message goes there instead of to the user.
std::optional<std::string> catalogueFileName(const std::filesystem::path& songFile,
                                             std::string* refusal = nullptr);

// One writer at a time per program folder.  Every operation that writes the
// catalogue (adding, removing, editing, the start-up check, an import) holds
// the lock file "vozaro.lck" in the folder for its duration; readers do not
// take it.  The system lets it go when its holder ends, however it ends.
class CatalogueLock {
public:
    explicit CatalogueLock(const std::filesystem::path& folder);
    // false: another program holds it (busy()), or it could not be taken at
    // all (error() says why: no descriptor left, a lock file that cannot be
    // made or read).
    bool held() const { return lock_.held(); }
    bool busy() const { return !held() && lock_.error() == std::errc::resource_unavailable_try_again; }
    std::error_code error() const { return lock_.error(); }

private:
    platform::FileLock lock_;
};

// How long a writer waits for another to finish before it gives up, and how
// often it looks meanwhile.
inline constexpr std::chrono::milliseconds kWriterWait{3000};
inline constexpr std::chrono::milliseconds kWriterPoll{20};

// What a writer says when another program keeps the catalogue past kWriterWait.
inline constexpr const char* kCatalogueBusy =
    "O álbum de músicas está sendo alterado por outro programa. Tente novamente em instantes.";

// What a writer says when the lock cannot be taken at all: the system's
// reason in brackets.
std::string lockRefusedMessage(std::error_code error);

// Takes the writer lock of the program folder, waiting up to `wait` for
// another writer to finish.  Still busy then: shows kCatalogueBusy and
// returns std::nullopt.  A lock that cannot be taken at all (no descriptor
// left, a lock file that cannot be made): shows lockRefusedMessage and
// returns std::nullopt.  Either way the caller writes nothing; `why`, when
// given, gets the reason (EWOULDBLOCK when busy).  A lock that comes back is
// always held.
std::optional<CatalogueLock> lockForWriting(std::chrono::milliseconds wait = kWriterWait,
                                            std::error_code* why = nullptr);

// One Vozaro per program folder: the program holds "vozaro.run" in the folder
// for its whole run (the writer lock is taken only while it writes, so an
// importer can work beside it).
inline constexpr const char* kAlreadyOpen = "O Vozaro já está aberto. Use a janela que já está aberta.";

// Takes the program's lock of the program folder.  When another Vozaro holds
// it, shows kAlreadyOpen; when it cannot be taken at all, shows
// lockRefusedMessage; either way returns std::nullopt and the program ends
// without touching the catalogue.  A lock that comes back is always held.
std::optional<platform::FileLock> lockProgramFolder();

// Opening the catalogue while an evening goes on.  A failure that passes (no
// descriptor or memory left for the moment) must not end the program: the
// host is told kAlbumNotNow and whatever wanted the catalogue waits for
// another try.  Any other failure shows AbrirAlbum's message, and the
// program ends as at start-up.
enum class AlbumOpening { Opened, Failed, NotNow };
inline constexpr const char* kAlbumNotNow = "Não foi possível abrir o álbum de músicas agora. Tente de novo.";
// AbrirAlbum with that difference; the message has been shown unless Opened.
AlbumOpening openAlbumDuringEvening();

// Sequential reading from the current entry position, in file order
// (LerRegistro and LocalizarMusica move that position too).
void seekAlbum(int32_t position);
bool atAlbumEnd();
void readNextEntry(TRegistroAlbum& entry);  // CatalogueError at the end

// One entry as it lies in the album file, for walks that must not copy every
// entry (the views are valid only during the call that receives them).
struct EntryView {
    int32_t Numero;
    std::string_view Interprete;
    std::string_view Musica;
    std::string_view Arquivo;
};
// Calls `visit` for the entries in file order from the first until it returns
// false.  Throws CatalogueError when the album cannot be read.
void forEachEntry(const std::function<bool(const EntryView& entry)>& visit);
// The same walk over an album file read on its own, apart from the open
// catalogue (which it neither opens, moves nor closes): for a reader that may
// run while an operation holds the catalogue open.  A missing file has no
// entries; false when the file cannot be read.
bool forEachEntryOf(const std::filesystem::path& albumFile,
                    const std::function<bool(const EntryView& entry)>& visit);
// The entry at `position` of an album file read on its own, as above;
// std::nullopt when there is none or the file cannot be read.
std::optional<TRegistroAlbum> entryOf(const std::filesystem::path& albumFile, int32_t position);

// Why the last removal, start-up check or repair could not rewrite a
// catalogue file (a full disk, a folder that cannot be written, a folder
// lying where a rewrite file must go), or std::nullopt when it could.  Each
// of them forgets an earlier failure when it starts.
struct RewriteFailure {
    std::filesystem::path file;  // the file that could not be rewritten
    std::error_code error;
};
std::optional<RewriteFailure> lastRewriteFailure();
// What the host is told about a failed rewrite: `what` (what was not done),
// then which file could not be rewritten and why, in Portuguese.
std::string rewriteFailureMessage(const std::string& what, const RewriteFailure& failure);

// Puts a number taken by ProximoNumero back on the index when its entry could
// not be written, so the numbering rule keeps holding.  Numbers outside
// 1 .. 99,999 are ignored.  Throws CatalogueError when the index cannot be
// written.
void returnNumber(int32_t numero);

// The start-up check: opens the catalogue, walks it in file order and
// removes the songs whose files are gone, with the outcome of ExcluirMusica on
// each of their numbers in turn (every entry with such a number goes, its
// song file is deleted, its number freed) but in a single rewrite of the
// album, so that a catalogue whose songs folder vanished is repaired in one
// pass.  Part of an entry at the album's end (an append cut short by a full
// disk or a crash) is cut off first, and the host is told so.  `started` is
// called once with the number of entries before the walk when there are any; `progressed` after each entry with the number of
// entries checked so far.  An input/output error ends the check, leaves the
// catalogue as it was and is reported to the host (lastRewriteFailure() then
// says why).  A completed check then restores the
// numbering rule should a crash or a damaged index have broken it: the index
// loses numbers that entries use (or that repeat or lie outside 1 .. 99,999)
// and gets back numbers that are neither used nor free, so no new song can
// take a number already in use.  Entries that share a number, whatever made
// them, are then told apart: the first keeps it, each later one gets a new
// number through ProximoNumero, and the host is told which.  Returns false only when the catalogue could not be opened (the message has
// been shown; the program ends).
struct CheckProgress {
    std::function<void(int32_t entries)> started;
    std::function<void(int32_t position)> progressed;
};
[[nodiscard]] bool removeMissingSongs(const CheckProgress& progress = {});

// Text from a user (an edit field, a file name) made fit for a text field:
// leading and trailing spaces and control characters (bytes up to 0x20)
// trimmed, then cut to `limit` characters.  Windows-1252 bytes.
std::string trimmedField(const std::string& text, size_t limit);

// Performer and title as a song's file name suggests them: the name is
// "performer-title.ext"; the first "-" splits it (no "-": no performer, the
// whole base is the title), "_" stands for a space, each part is cut to 50
// characters and then trimmed.  Windows-1252 bytes.
struct SongNames {
    std::string interprete;
    std::string musica;
};
SongNames namesFromFileName(const std::string& fileName);

// What adding a song needs from outside the catalogue: the stage, which
// checks the file, and the song-data dialog.
struct AddSongHooks {
    // Loads the file as the stage loads a song; true when it holds at least
    // one lyric syllable.  May throw the MIDI engine's errors.
    std::function<bool(const std::filesystem::path& file)> isKaraoke;
    // Called after every check, whatever its outcome: the stage stops as after
    // a song and forgets the file just loaded.
    std::function<void()> releaseStage;
    // Shows the song-data dialog for RegistroAtual; true when the user
    // confirmed it (Interprete and Musica then hold the trimmed texts).
    std::function<bool()> confirmSongData;
};

// Why a song file was not added.
enum class AddRefusal {
    Unreadable,         // missing, not a regular file, or the MIDI engine could not read it
    BadName,            // a name the album cannot hold
    CatalogueFull,      // 99,999 songs
    NotKaraoke,         // read, but no lyric syllable
    AlreadyCatalogued,  // an entry has the same file name
    CopyFailed,         // the songs folder holds the name already, or the copy failed
    Cancelled,          // the song-data dialog was not confirmed
    WriteFailed,        // the index or the album could not be written
};
struct AddOutcome {
    bool added = false;
    AddRefusal reason = AddRefusal::Cancelled;  // when not added
    std::string message;                        // the host's message, when not added
};

// What adding many files at once keeps between files.
struct AddContext {
    // The file names catalogued so far, read once for the whole run, so that
    // the duplicate check does not walk the album for every file; each added
    // name joins it.  With it, a file already catalogued is refused before
    // it is loaded (a batch of thousands of copies of one song loads one).
    std::unordered_set<std::string>* names = nullptr;
    // Checks everything and changes nothing (no copy, no number, no entry);
    // the files that would have been added count towards the limit.
    bool dryRun = false;
    int32_t pendingEntries = 0;
    // The numbers the album's entries use (index = number), read once with
    // the names and kept up to date, so that numbering a song does not walk
    // the album either.
    std::vector<bool>* used = nullptr;
    // Finds a name in the songs folder without regard to case (UTF-8 name),
    // for runs that list the folder once; unset: the folder is looked at.
    std::function<std::optional<std::filesystem::path>(const std::string& name)> findInSongs;
    // What to do with a file of the same name found in the songs folder:
    // refuse the copy (Keep), catalogue it as it lies (Adopt), or remove it
    // and copy afresh (Replace); see SongImport.h.  Unset: Keep.
    enum class Leftover { Keep, Adopt, Replace };
    std::function<Leftover(const std::filesystem::path& file, const std::filesystem::path& inSongs)> leftover;
};

// ProximoNumero with the numbers in use already known (index = number).
// Throws CatalogueError.
int32_t nextNumber(const std::vector<bool>& used);

// The whole of adding one song file to the open catalogue, without talking to
// the user: the checks, the copy, the song-data hook (when set), the number
// and the entry, in the order IncluirMusica gives them; a refusal carries its
// message.  A copy made by the call is deleted again when the song is not added.
AddOutcome addSongFile(const std::filesystem::path& caminho, const AddSongHooks& hooks,
                       AddContext* context = nullptr);

}  // namespace vozaro::catalogue

// Adds one song file to the open catalogue: checks it, refuses duplicates
// (same file name), copies it into the songs folder unless it lies there
// already, lets the user confirm performer and title, numbers it and appends
// its entry.  Every refusal shows its message and returns false; a copy made
// by the call is deleted again when the song is not added.  On success
// RegistroAtual holds the new entry.
bool IncluirMusica(const std::filesystem::path& caminho, const vozaro::catalogue::AddSongHooks& hooks);

// Opens (and where missing creates) the songs and pictures folders, the album
// file and the album index.  On failure shows the error message and returns
// false: the caller ends the program.
[[nodiscard]] bool AbrirAlbum();
// Closes the album file, then the album index.
void FecharAlbum();

// Whole entries in the album file.
int32_t ContarMusicas();
// Reads the entry at `posicao` into RegistroAtual.
void LerRegistro(int32_t posicao);
// Writes RegistroAtual as the entry at `posicao`; at ContarMusicas() this
// appends a new entry.  Positions past that are refused (CatalogueError).
void GravarRegistro(int32_t posicao);
// Position of the first entry numbered `numero` (left in RegistroAtual), or -1.
int32_t LocalizarMusica(int32_t numero);
// Removes every entry numbered `numero`, deletes their song files and frees
// the number.  False when no entry had the number or an input/output error
// happened (the catalogue is then unchanged and lastRewriteFailure() says
// why).
bool ExcluirMusica(int32_t numero);
// The number for a new song: the most recently freed one (taken off the
// index), else ContarMusicas() + 1.  A free number that an entry uses after
// all (a catalogue damaged by a failed write) is passed over and leaves the
// index, so a new song never shares a number.  Throws CatalogueError.
int32_t ProximoNumero();
// Copies a whole file to a destination that must not exist yet.  False when
// the destination exists, the source does not, or the copy fails; a failed
// copy leaves no destination behind.
bool CopiarArquivo(const std::filesystem::path& origem, const std::filesystem::path& destino);
