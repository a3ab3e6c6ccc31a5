#include "stores/vozaro_colecao.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unordered_set>
#include <vector>

#include "stores/FirstStart.h"
#include "platform/BinaryFile.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/TextEncoding.h"

namespace fs = std::filesystem;
using vozaro::platform::BinaryFile;
using vozaro::platform::FileRewrite;
using vozaro::platform::MessageIcon;
using vozaro::platform::showMessage;

TRegistroAlbum RegistroAtual;

namespace vozaro::catalogue {

namespace {

constexpr int kInterpreteOffset = 0;
constexpr int kMusicaOffset = 51;
constexpr int kArquivoOffset = 102;
constexpr int kNumeroOffset = 360;
constexpr int kIndexEntrySize = 4;
// Entries read from the album file at once: about 1 MiB.
constexpr int32_t kChunkEntries = 2880;

[[noreturn]] void fail(int error, const char* what) {
    throw CatalogueError(error, std::generic_category(), what);
}

int32_t readInt32(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
}

void writeInt32(char* bytes, int32_t value) {
    auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The bytes of the album index holding `numbers`.
std::vector<char> encodeIndex(const std::vector<int32_t>& numbers) {
    std::vector<char> bytes(numbers.size() * kIndexEntrySize);
    for (size_t i = 0; i < numbers.size(); ++i)
        writeInt32(bytes.data() + i * kIndexEntrySize, numbers[i]);
    return bytes;
}

std::string_view textView(const char* entry, int offset, int size) {
    int length = std::min<int>(static_cast<unsigned char>(entry[offset]), size);
    return std::string_view(entry + offset + 1, static_cast<size_t>(length));
}

std::string readText(const char* entry, int offset, int size) { return std::string(textView(entry, offset, size)); }

void writeText(char* entry, int offset, int size, const std::string& text) {
    size_t length = std::min(text.size(), static_cast<size_t>(size));
    entry[offset] = static_cast<char>(length);
    std::memcpy(entry + offset + 1, text.data(), length);
}

void decodeEntry(const char* bytes, TRegistroAlbum& entry) {
    entry.Interprete = readText(bytes, kInterpreteOffset, kInterpreteSize);
    entry.Musica = readText(bytes, kMusicaOffset, kMusicaSize);
    entry.Arquivo = readText(bytes, kArquivoOffset, kArquivoSize);
    entry.Numero = readInt32(bytes + kNumeroOffset);
}

std::array<char, kEntrySize> encodeEntry(const TRegistroAlbum& entry) {
    std::array<char, kEntrySize> bytes{};
    writeText(bytes.data(), kInterpreteOffset, kInterpreteSize, entry.Interprete);
    writeText(bytes.data(), kMusicaOffset, kMusicaSize, entry.Musica);
    writeText(bytes.data(), kArquivoOffset, kArquivoSize, entry.Arquivo);
    writeInt32(bytes.data() + kNumeroOffset, entry.Numero);
    return bytes;
}

struct Store {
    std::optional<fs::path> folder;
    fs::path songs;
    BinaryFile album;
    BinaryFile index;
    int32_t position = 0;  // next entry of sequential reading
    std::optional<RewriteFailure> failure;  // of the last removal, check or repair
    // Entries [bufferFirst, bufferFirst + bufferCount) of the album file.
    std::vector<char> buffer;
    int32_t bufferFirst = 0;
    int32_t bufferCount = 0;

    fs::path file(const char* extension) const { return programFolder() / (std::string("vozaro") + extension); }

    void dropBuffer() { bufferCount = 0; }

    // The bytes of entry `i`, read a chunk at a time.
    const char* entryBytes(int32_t i) {
        if (i >= bufferFirst && i < bufferFirst + bufferCount)
            return buffer.data() + static_cast<size_t>(i - bufferFirst) * kEntrySize;
        int32_t count = ContarMusicas();
        if (i < 0 || i >= count)
            fail(EIO, "read beyond the end of the album file");
        int32_t n = std::min(kChunkEntries, count - i);
        buffer.resize(static_cast<size_t>(n) * kEntrySize);
        size_t got = album.readAt(buffer.data(), buffer.size(), static_cast<uint64_t>(i) * kEntrySize);
        bufferFirst = i;
        bufferCount = static_cast<int32_t>(got / kEntrySize);
        if (bufferCount == 0)
            fail(EIO, "read beyond the end of the album file");
        return buffer.data();
    }

    // The whole numbers of the index, in file order; a torn last number is
    // left out.
    std::vector<int32_t> readIndex() {
        std::vector<char> bytes(index.size() / kIndexEntrySize * kIndexEntrySize);
        size_t got = index.readAt(bytes.data(), bytes.size(), 0);
        std::vector<int32_t> numbers(got / kIndexEntrySize);
        for (size_t i = 0; i < numbers.size(); ++i)
            numbers[i] = readInt32(bytes.data() + i * kIndexEntrySize);
        return numbers;
    }

    // Replaces the index with `numbers` through its rewrite file.
    void rewriteIndex(const std::vector<int32_t>& numbers) {
        FileRewrite rewrite(file(".idt"));
        const std::vector<char> bytes = encodeIndex(numbers);
        rewrite.append(bytes.data(), bytes.size());
        rewrite.commit(file(".idx"));
        std::error_code error;
        index = BinaryFile(file(".idx"), BinaryFile::Mode::ReadWrite, error);
        if (error)
            throw CatalogueError(error, "cannot reopen the album index");
    }

    // Frees `numbers` (puts them at the end of the index) in one rewrite, so
    // that a crash leaves either the old or the new index, never a torn one.
    void appendToIndex(const std::vector<int32_t>& numbers) {
        std::vector<int32_t> all = readIndex();
        all.insert(all.end(), numbers.begin(), numbers.end());
        rewriteIndex(all);
    }
};

Store& store() {
    static Store instance;
    return instance;
}

bool validNumber(int32_t numero) { return numero >= 1 && numero <= kMaxSongs; }

// Which numbers from 1 to 99,999 entries of the album use.
std::vector<bool> numbersInUse() {
    Store& s = store();
    std::vector<bool> used(kMaxSongs + 1, false);
    const int32_t count = ContarMusicas();
    for (int32_t i = 0; i < count; ++i)
        if (int32_t numero = readInt32(s.entryBytes(i) + kNumeroOffset); validNumber(numero))
            used[static_cast<size_t>(numero)] = true;
    return used;
}

// A failure that goes by itself: the system ran short of descriptors or
// memory for the moment.
bool passingFailure(std::error_code error) {
    if (error.category() != std::generic_category() && error.category() != std::system_category())
        return false;
    switch (error.value()) {
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case ENOBUFS:
    case EAGAIN:
    case EINTR:
        return true;
    default:
        return false;
    }
}

// Why a catalogue file could not be written, in the host's words.
std::string failureReason(const RewriteFailure& failure) {
    const std::string name = failure.file.filename().string();
    switch (failure.error.value()) {
    case ENOSPC:
    case EDQUOT:
        return "o disco está cheio";
    case EROFS:
    case EACCES:
    case EPERM:
        return "a pasta \"" + failure.file.parent_path().string() + "\" não pode ser gravada";
    case EEXIST:
    case EISDIR:
    case ENOTDIR:
    case ELOOP:
        return "há uma pasta ou outro arquivo no lugar de \"" + name + "\"";
    default:
        return failure.error.message();
    }
}

// A catalogued file name that stays inside the songs folder.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

// The song file of a catalogued name as it is on disk (exact name first, then
// without regard to case), or std::nullopt when there is none.
std::optional<fs::path> existingSongFile(const std::string& arquivo, platform::FolderNames& names) {
    if (!isPlainFileName(arquivo))
        return std::nullopt;
    return names.find(platform::windows1252ToUtf8(arquivo));
}

bool songFileExists(const std::string& arquivo, platform::FolderNames& names) {
    return isPlainFileName(arquivo) && names.isRegularFile(platform::windows1252ToUtf8(arquivo));
}

// Opens an existing catalogue file, or creates it empty; on failure the
// message says which of the two failed.
std::error_code openOrCreate(BinaryFile& file, const fs::path& path, const char* openFailure,
                             const char* createFailure, std::string& message) {
    std::error_code error;
    bool exists = fs::exists(fs::symlink_status(path, error));
    file = BinaryFile(path, exists ? BinaryFile::Mode::ReadWrite : BinaryFile::Mode::CreateReadWrite,
                      error);
    if (error) {
        message = exists ? openFailure : createFailure;
        if (error == std::errc::read_only_file_system || error == std::errc::permission_denied ||
            error == std::errc::operation_not_permitted)
            message += " A pasta \"" + path.parent_path().string() + "\" não pode ser gravada.";
    }
    return error;
}

// The folder `name` of the program folder, made when it does not exist in
// any case of its name.  A program folder that cannot be listed (no
// descriptor left) could hide it under another case: nothing is made then.
std::error_code ensureFolder(fs::path& folder, std::string_view name) {
    std::error_code error;
    folder = platform::subfolderIgnoringCase(programFolder(), name, error);
    if (error && passingFailure(error))
        return error;
    if (fs::is_directory(folder, error) || fs::create_directories(folder, error))
        return {};
    return error ? error : std::make_error_code(std::errc::not_a_directory);
}

// AbrirAlbum; with `passingIsMine` a failure that passes shows kAlbumNotNow
// instead of its own message.
AlbumOpening openAlbum(bool passingIsMine) {
    Store& s = store();
    FecharAlbum();
    auto failed = [passingIsMine](std::error_code error, const std::string& message) {
        if (passingIsMine && passingFailure(error)) {
            showMessage(kAlbumNotNow, MessageIcon::Error);
            return AlbumOpening::NotNow;
        }
        showMessage(message, MessageIcon::Error);
        return AlbumOpening::Failed;
    };
    if (const std::error_code error = ensureFolder(s.songs, "Musicas"))
        return failed(error, "Não foi possível criar pasta de músicas.");
    fs::path pictures;
    if (const std::error_code error = ensureFolder(pictures, "Imagens"))
        return failed(error, "Não foi possível criar pasta de imagens.");
    std::string message;
    std::error_code absent;
    const bool newAlbum = !fs::exists(fs::symlink_status(s.file(".alb"), absent));
    if (const std::error_code error = openOrCreate(s.album, s.file(".alb"), "Não foi possível abrir o álbum de músicas.",
                                                   "Não foi possível criar o álbum de músicas.", message))
        return failed(error, message);
    // A new album may be made before the first start (by an import): the
    // bundled content is then still due.
    if (newAlbum)
        noteNewAlbum();
    if (const std::error_code error =
            openOrCreate(s.index, s.file(".idx"), "Não foi possível abrir o índice do álbum de músicas.",
                         "Não foi possível criar o índice do álbum de músicas.", message)) {
        s.album = BinaryFile();
        return failed(error, message);
    }
    s.position = 0;
    return AlbumOpening::Opened;
}

}  // namespace

void setProgramFolder(const fs::path& folder) { store().folder = folder; }

const fs::path& programFolder() {
    Store& s = store();
    if (!s.folder)
        s.folder = platform::findProgramFolder();
    return *s.folder;
}

fs::path songsFolder() { return platform::subfolderIgnoringCase(programFolder(), "Musicas"); }

fs::path picturesFolder() { return platform::subfolderIgnoringCase(programFolder(), "Imagens"); }

std::optional<fs::path> songFilePath(const std::string& arquivo) {
    if (!isPlainFileName(arquivo))
        return std::nullopt;
    fs::path folder = store().album.isOpen() ? store().songs : songsFolder();
    std::string name = platform::windows1252ToUtf8(arquivo);
    if (std::optional<fs::path> found = platform::findIgnoringCase(folder, name))
        return found;
    return folder / name;
}

std::optional<std::string> catalogueFileName(const fs::path& songFile, std::string* refusal) {
    std::string name = songFile.filename().string();
    // A "\" is a folder separator to the album (as on Windows): such an entry
    // would never find its song file, and the next start would remove it.  A
    // control character (a line break) would reach the performer or title.
    auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    if (std::optional<std::string> cp1252 = platform::utf8ToWindows1252(name);
        cp1252 && isPlainFileName(*cp1252) && std::none_of(cp1252->begin(), cp1252->end(), control))
        return cp1252;
    std::replace_if(name.begin(), name.end(), control, '?');  // shown on one line
    const std::string message = "O nome do arquivo \"" + name +
                                "\" tem caracteres que o álbum de músicas não aceita. "
                                "Renomeie o arquivo para incluí-lo.";
    if (refusal)
        *refusal = message;
    else
        showMessage(message, MessageIcon::Error);
    return std::nullopt;
}

void seekAlbum(int32_t position) {
    if (position < 0)
        fail(EINVAL, "negative album position");
    store().position = position;
}

bool atAlbumEnd() {
    Store& s = store();
    if (s.position >= s.bufferFirst && s.position < s.bufferFirst + s.bufferCount)
        return false;
    return s.position >= ContarMusicas();
}

void readNextEntry(TRegistroAlbum& entry) {
    Store& s = store();
    decodeEntry(s.entryBytes(s.position), entry);
    ++s.position;
}

void forEachEntry(const std::function<bool(const EntryView& entry)>& visit) {
    Store& s = store();
    const int32_t count = ContarMusicas();
    for (int32_t i = 0; i < count; ++i) {
        const char* bytes = s.entryBytes(i);
        s.position = i + 1;
        if (!visit({readInt32(bytes + kNumeroOffset), textView(bytes, kInterpreteOffset, kInterpreteSize),
                    textView(bytes, kMusicaOffset, kMusicaSize), textView(bytes, kArquivoOffset, kArquivoSize)}))
            return;
    }
}

bool forEachEntryOf(const fs::path& albumFile, const std::function<bool(const EntryView& entry)>& visit) {
    std::error_code error;
    if (!fs::exists(albumFile, error))
        return !error;
    BinaryFile file(albumFile, BinaryFile::Mode::ReadOnly, error);
    if (!file.isOpen())
        return false;
    try {
        std::vector<char> chunk(static_cast<size_t>(kChunkEntries) * kEntrySize);
        for (uint64_t offset = 0;;) {
            const size_t got = file.readAt(chunk.data(), chunk.size(), offset);
            const size_t whole = got / kEntrySize;
            for (size_t i = 0; i < whole; ++i) {
                const char* bytes = chunk.data() + i * kEntrySize;
                if (!visit({readInt32(bytes + kNumeroOffset), textView(bytes, kInterpreteOffset, kInterpreteSize),
                            textView(bytes, kMusicaOffset, kMusicaSize),
                            textView(bytes, kArquivoOffset, kArquivoSize)}))
                    return true;
            }
            if (got < chunk.size())
                return true;
            offset += got;
        }
    } catch (const std::system_error&) {
        return false;
    }
}

std::optional<TRegistroAlbum> entryOf(const fs::path& albumFile, int32_t position) {
    if (position < 0)
        return std::nullopt;
    std::error_code error;
    const BinaryFile file(albumFile, BinaryFile::Mode::ReadOnly, error);
    if (!file.isOpen())
        return std::nullopt;
    std::array<char, kEntrySize> bytes;
    try {
        if (file.readAt(bytes.data(), bytes.size(), static_cast<uint64_t>(position) * kEntrySize) != bytes.size())
            return std::nullopt;
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    TRegistroAlbum entry;
    decodeEntry(bytes.data(), entry);
    return entry;
}

CatalogueLock::CatalogueLock(const fs::path& folder) : lock_(folder / "vozaro.lck") {}

std::string lockRefusedMessage(std::error_code error) {
    return "Não foi possível reservar o catálogo para gravação (" + error.message() + ").";
}

std::optional<CatalogueLock> lockForWriting(std::chrono::milliseconds wait, std::error_code* why) {
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        CatalogueLock lock(programFolder());
        if (lock.held())
            return lock;
        if (!lock.busy()) {
            // Writing without the lock could interleave with another writer.
            if (why)
                *why = lock.error();
            showMessage(lockRefusedMessage(lock.error()), MessageIcon::Error);
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= until)
            break;
        std::this_thread::sleep_for(kWriterPoll);
    }
    if (why)
        *why = std::make_error_code(std::errc::resource_unavailable_try_again);
    showMessage(kCatalogueBusy, MessageIcon::Error);
    return std::nullopt;
}

std::optional<platform::FileLock> lockProgramFolder() {
    platform::FileLock lock(programFolder() / "vozaro.run");
    if (lock.held())
        return lock;
    if (lock.error() == std::errc::resource_unavailable_try_again)
        showMessage(kAlreadyOpen, MessageIcon::Error);
    else
        showMessage(lockRefusedMessage(lock.error()), MessageIcon::Error);
    return std::nullopt;
}

std::optional<RewriteFailure> lastRewriteFailure() { return store().failure; }

std::string rewriteFailureMessage(const std::string& what, const RewriteFailure& failure) {
    return what + " Não foi possível gravar \"" + failure.file.filename().string() + "\": " +
           failureReason(failure) + ".";
}

void returnNumber(int32_t numero) {
    if (numero < 1 || numero > kMaxSongs)
        return;
    store().appendToIndex({numero});
}

namespace {

// Rewrites the album without the entries whose number `drop` accepts, deletes
// their song files and frees `freed`.  False when nothing was dropped or an
// input/output error happened; before the album is replaced such an error
// leaves the catalogue unchanged.
bool removeEntries(const std::function<bool(int32_t)>& drop, const std::vector<int32_t>& freed,
                   platform::FolderNames& names) {
    Store& s = store();
    std::vector<std::string> dropped;
    fs::path writing = s.file(".alt");  // the file a failure concerns
    try {
        FileRewrite rewrite(s.file(".alt"));
        const int32_t count = ContarMusicas();
        for (int32_t i = 0; i < count; ++i) {
            const char* bytes = s.entryBytes(i);
            if (drop(readInt32(bytes + kNumeroOffset)))
                dropped.push_back(readText(bytes, kArquivoOffset, kArquivoSize));
            else
                rewrite.append(bytes, kEntrySize);
        }
        // The numbers are freed before the album loses their entries: a crash
        // in between leaves free numbers that entries still use, which the
        // next start-up check takes off the index again (and then removes
        // those entries anew if their songs are still missing).  The other
        // order could lose a freed number for good.
        std::vector<int32_t> previousIndex;
        if (!dropped.empty()) {
            previousIndex = s.readIndex();
            writing = s.file(".idt");
            s.appendToIndex(freed);
            writing = s.file(".alt");
        }
        try {
            rewrite.commit(s.file(".alb"));
        } catch (const CatalogueError&) {
            // On a full disk the failed album rewrite holds the very space
            // that putting the index back needs: it goes first.
            rewrite.discard();
            try {
                if (!dropped.empty())
                    s.rewriteIndex(previousIndex);  // the entries stay: so do their numbers
            } catch (const CatalogueError&) {
                // The index keeps numbers that entries use: ProximoNumero
                // passes over them and the next start-up check takes them off.
            }
            throw;
        }
    } catch (const CatalogueError& error) {
        s.failure = RewriteFailure{writing, error.code()};
        s.dropBuffer();
        return false;
    }
    s.dropBuffer();
    std::error_code error;
    s.album = BinaryFile(s.file(".alb"), BinaryFile::Mode::ReadWrite, error);
    s.position = 0;
    for (const std::string& arquivo : dropped)
        if (std::optional<fs::path> song = existingSongFile(arquivo, names);
            song && !fs::is_directory(*song, error))
            fs::remove(*song, error);  // song files only; a folder of that name stays
    return !dropped.empty() && s.album.isOpen();
}

void repairFreeNumbers() {
    Store& s = store();
    enum : uint8_t { kUnseen, kInAlbum, kFree };
    std::vector<uint8_t> seen(kMaxSongs + 1, kUnseen);
    const int32_t count = ContarMusicas();
    // Entries sharing a number get new ones afterwards: the numbers up to the
    // count of entries are kept free for them.
    int32_t highest = std::min(count, kMaxSongs);
    auto valid = validNumber;
    for (int32_t i = 0; i < count; ++i) {
        int32_t numero = readInt32(s.entryBytes(i) + kNumeroOffset);
        if (valid(numero)) {
            seen[numero] = kInAlbum;
            highest = std::max(highest, numero);
        }
    }
    const std::vector<int32_t> index = s.readIndex();
    std::vector<int32_t> repaired;
    for (int32_t numero : index)
        if (valid(numero) && seen[numero] == kUnseen) {
            seen[numero] = kFree;
            repaired.push_back(numero);
            highest = std::max(highest, numero);
        }
    for (int32_t numero = 1; numero <= highest; ++numero)
        if (seen[numero] == kUnseen)
            repaired.push_back(numero);  // lost: neither used nor free
    if (repaired != index || s.index.size() % kIndexEntrySize != 0)
        s.rewriteIndex(repaired);
}

// One entry that shared its number with an earlier one, and its new number.
struct Renumbered {
    int32_t from;
    int32_t to;
    std::string arquivo;
};

// Gives each entry whose number an earlier entry has a new number from
// ProximoNumero, in one rewrite of the album.  When the rewrite fails the
// numbers taken go back on the index and the error is raised.
std::vector<Renumbered> renumberDuplicates() {
    Store& s = store();
    const int32_t count = ContarMusicas();
    std::vector<bool> seen(kMaxSongs + 1, false);
    std::vector<int32_t> later;  // positions
    for (int32_t i = 0; i < count; ++i) {
        const int32_t numero = readInt32(s.entryBytes(i) + kNumeroOffset);
        if (!validNumber(numero))
            continue;
        if (seen[static_cast<size_t>(numero)])
            later.push_back(i);
        seen[static_cast<size_t>(numero)] = true;
    }
    std::vector<Renumbered> renumbered;
    if (later.empty())
        return renumbered;
    std::vector<int32_t> taken;
    try {
        for (size_t k = 0; k < later.size(); ++k)
            taken.push_back(ProximoNumero());
        FileRewrite rewrite(s.file(".alt"));
        size_t next = 0;
        for (int32_t i = 0; i < count; ++i) {
            std::array<char, kEntrySize> bytes;
            std::memcpy(bytes.data(), s.entryBytes(i), kEntrySize);
            if (next < later.size() && later[next] == i) {
                renumbered.push_back({readInt32(bytes.data() + kNumeroOffset), taken[next],
                                      readText(bytes.data(), kArquivoOffset, kArquivoSize)});
                writeInt32(bytes.data() + kNumeroOffset, taken[next]);
                ++next;
            }
            rewrite.append(bytes.data(), kEntrySize);
        }
        try {
            rewrite.commit(s.file(".alb"));
        } catch (const CatalogueError&) {
            rewrite.discard();
            throw;
        }
    } catch (const CatalogueError& error) {
        s.failure = RewriteFailure{s.file(taken.size() < later.size() ? ".idt" : ".alt"), error.code()};
        s.dropBuffer();
        try {
            if (!taken.empty())
                s.appendToIndex(taken);
        } catch (const CatalogueError&) {
            // Lost numbers are found again by the next start-up check.
        }
        throw;
    }
    s.dropBuffer();
    std::error_code error;
    s.album = BinaryFile(s.file(".alb"), BinaryFile::Mode::ReadWrite, error);
    if (error)
        throw CatalogueError(error, "cannot reopen the album");
    return renumbered;
}

// Tells the host which entries got new numbers.
void reportRenumbered(const std::vector<Renumbered>& renumbered) {
    constexpr size_t kLinesShown = 20;
    std::string text = "Havia músicas com o mesmo número no álbum. Cada uma recebeu um número novo:";
    char line[64];
    for (size_t k = 0; k < renumbered.size() && k < kLinesShown; ++k) {
        std::snprintf(line, sizeof line, "\n%5.5d passou a ser %5.5d: ", renumbered[k].from, renumbered[k].to);
        text += line + platform::windows1252ToUtf8(renumbered[k].arquivo);
    }
    if (renumbered.size() > kLinesShown)
        text += "\ne mais " + std::to_string(renumbered.size() - kLinesShown) + ".";
    showMessage(text, MessageIcon::Warning);
}

}  // namespace

bool removeMissingSongs(const CheckProgress& progress) {
    Store& s = store();
    s.failure.reset();
    if (!AbrirAlbum())
        return false;
    std::vector<Renumbered> renumbered;
    uint64_t tornTail = 0;
    try {
        // An append cut short (a full disk, a crash) leaves part of an entry
        // at the end: it goes, before a later append lands behind it.
        tornTail = s.album.size() % kEntrySize;
        if (tornTail != 0) {
            try {
                s.dropBuffer();
                s.album.truncate(s.album.size() - tornTail);
                s.album.sync();
            } catch (const CatalogueError& error) {
                tornTail = 0;
                s.failure = RewriteFailure{s.file(".alb"), error.code()};
                throw;
            }
        }
        const int32_t count = ContarMusicas();
        if (count > 0) {
            if (progress.started)
                progress.started(count);
            // One pass finds every song whose file is gone, then one rewrite
            // removes them all: the same outcome as removing them one by one
            // (every entry sharing such a number goes, the numbers are freed
            // in the order their first missing entry was met) without
            // rewriting the album once per missing song.
            platform::FolderNames names(s.songs);
            std::unordered_set<int32_t> missing;
            std::vector<int32_t> freed;
            for (int32_t i = 0; i < count; ++i) {
                const char* bytes = s.entryBytes(i);
                int32_t numero = readInt32(bytes + kNumeroOffset);
                if (!songFileExists(readText(bytes, kArquivoOffset, kArquivoSize), names) &&
                    missing.insert(numero).second)
                    freed.push_back(numero);
                if (progress.progressed)
                    progress.progressed(i + 1);
            }
            if (!freed.empty() &&
                !removeEntries([&missing](int32_t n) { return missing.count(n) != 0; }, freed, names) &&
                s.failure)
                throw CatalogueError(s.failure->error);
        }
        repairFreeNumbers();
        renumbered = renumberDuplicates();
    } catch (const CatalogueError& error) {
        // A damaged or unreadable album, or a rewrite that failed, ends the
        // check; the program goes on with the catalogue as it is.
        if (!s.failure)
            s.failure = RewriteFailure{s.file(".idt"), error.code()};
    }
    FecharAlbum();
    if (tornTail != 0)
        showMessage("O álbum de músicas terminava com uma música gravada pela metade (" + std::to_string(tornTail) +
                        " bytes), que foi descartada.",
                    MessageIcon::Warning);
    if (!renumbered.empty())
        reportRenumbered(renumbered);
    if (s.failure)
        showMessage(rewriteFailureMessage("A verificação do álbum de músicas não terminou.", *s.failure),
                    MessageIcon::Error);
    return true;
}

}  // namespace vozaro::catalogue

using namespace vozaro::catalogue;

bool AbrirAlbum() { return openAlbum(false) == AlbumOpening::Opened; }

AlbumOpening vozaro::catalogue::openAlbumDuringEvening() { return openAlbum(true); }

void FecharAlbum() {
    Store& s = store();
    s.album = BinaryFile();
    s.index = BinaryFile();
    s.dropBuffer();
    s.position = 0;
}

int32_t ContarMusicas() {
    return static_cast<int32_t>(std::min<uint64_t>(store().album.size() / kEntrySize, INT32_MAX));
}

void LerRegistro(int32_t posicao) {
    seekAlbum(posicao);
    readNextEntry(RegistroAtual);
}

void GravarRegistro(int32_t posicao) {
    Store& s = store();
    if (posicao < 0 || posicao > ContarMusicas())
        fail(EINVAL, "album position past the end");
    std::array<char, kEntrySize> bytes = encodeEntry(RegistroAtual);
    s.dropBuffer();
    s.album.writeAt(bytes.data(), bytes.size(), static_cast<uint64_t>(posicao) * kEntrySize);
    s.position = posicao + 1;
}

int32_t LocalizarMusica(int32_t numero) {
    Store& s = store();
    int32_t count = ContarMusicas();
    for (int32_t i = 0; i < count; ++i) {
        const char* bytes = s.entryBytes(i);
        if (readInt32(bytes + kNumeroOffset) == numero) {
            decodeEntry(bytes, RegistroAtual);
            s.position = i + 1;
            return i;
        }
    }
    s.position = count;
    return -1;
}

bool ExcluirMusica(int32_t numero) {
    store().failure.reset();
    vozaro::platform::FolderNames names(store().songs);  // listed only if a name is not found as it is
    return removeEntries([numero](int32_t n) { return n == numero; }, {numero}, names);
}

int32_t ProximoNumero() { return vozaro::catalogue::nextNumber(numbersInUse()); }

int32_t vozaro::catalogue::nextNumber(const std::vector<bool>& used) {
    Store& s = store();
    const bool indexEmpty = s.index.size() == 0;
    std::vector<int32_t> numbers = indexEmpty ? std::vector<int32_t>() : s.readIndex();
    int32_t candidate = 0;
    while (candidate == 0 && !numbers.empty()) {
        const int32_t numero = numbers.back();
        numbers.pop_back();
        if (validNumber(numero) && !used[static_cast<size_t>(numero)])
            candidate = numero;
    }
    if (candidate == 0) {
        candidate = ContarMusicas() + 1;
        while (candidate <= kMaxSongs && used[static_cast<size_t>(candidate)])
            ++candidate;
    }
    if (!indexEmpty)
        s.rewriteIndex(numbers);  // an empty index (nothing freed) stays as it is
    return candidate;
}

bool CopiarArquivo(const fs::path& origem, const fs::path& destino) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(destino, error)))
        return false;
    BinaryFile in(origem, BinaryFile::Mode::ReadOnly, error);
    if (error)
        return false;
    BinaryFile out(destino, BinaryFile::Mode::CreateReadWrite, error);
    if (error)
        return false;
    try {
        std::vector<char> chunk(1 << 16);
        uint64_t offset = 0;
        while (size_t n = in.readAt(chunk.data(), chunk.size(), offset)) {
            out.writeAt(chunk.data(), n, offset);
            offset += n;
        }
        out.close();
        return true;
    } catch (const std::system_error&) {
        out = BinaryFile();
        fs::remove(destino, error);
        return false;
    }
}

namespace vozaro::catalogue {

std::string trimmedField(const std::string& text, size_t limit) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    size_t first = 0, last = text.size();
    while (first < last && blank(text[first]))
        ++first;
    while (last > first && blank(text[last - 1]))
        --last;
    return text.substr(first, std::min(last - first, limit));
}

SongNames namesFromFileName(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    const std::string base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    const size_t dash = fileName.find('-');  // in the whole name, extension included
    SongNames names;
    if (dash == std::string::npos) {
        names.musica = base.substr(0, kMusicaSize);
    } else {
        names.interprete = base.substr(0, std::min<size_t>(dash, kInterpreteSize));
        if (dash + 1 < base.size())
            names.musica = base.substr(dash + 1, kMusicaSize);
    }
    for (std::string* text : {&names.interprete, &names.musica}) {
        std::replace(text->begin(), text->end(), '_', ' ');
        *text = trimmedField(*text, kMusicaSize);
    }
    return names;
}

}  // namespace vozaro::catalogue

namespace vozaro::catalogue {

AddOutcome addSongFile(const fs::path& caminho, const AddSongHooks& hooks, AddContext* context) {
    auto refuse = [](AddRefusal reason, const std::string& message) {
        return AddOutcome{false, reason, message};
    };
    const bool dryRun = context && context->dryRun;
    std::error_code error;
    if (!fs::is_regular_file(caminho, error))
        return refuse(AddRefusal::Unreadable, "O arquivo não existe ou não pôde ser aberto.");
    std::string nameMessage;
    const std::optional<std::string> arquivo = catalogueFileName(caminho, &nameMessage);
    if (!arquivo)
        return refuse(AddRefusal::BadName, nameMessage);

    std::optional<fs::path> copy;  // set while this call's copy lies in the songs folder
    auto dropCopy = [&copy] {
        std::error_code ignored;
        if (copy)
            fs::remove(*copy, ignored);
        copy.reset();
    };
    try {
        const int32_t pending = context ? context->pendingEntries : 0;
        if (ContarMusicas() + pending >= kMaxSongs)
            return refuse(AddRefusal::CatalogueFull, "Não é possível adicionar mais de 99.999 músicas.");

        // A batch knows the catalogued names without reading the album: a
        // file already there is told so before it is loaded at all.
        if (context && context->names && context->names->count(*arquivo))
            return refuse(AddRefusal::AlreadyCatalogued, "Esta música já está cadastrada.");

        // The stage is released whatever the check found (or threw), so that
        // a refused file never stays the stage's song.
        bool karaoke = false;
        try {
            karaoke = hooks.isKaraoke && hooks.isKaraoke(caminho);
        } catch (...) {
            if (hooks.releaseStage)
                hooks.releaseStage();
            throw;
        }
        if (hooks.releaseStage)
            hooks.releaseStage();
        if (!karaoke)
            return refuse(AddRefusal::NotKaraoke,
                          caminho.filename().string() + " não é um arquivo de MIDI Karaokê");

        // A batch has told a catalogued name before loading the file.
        if (!(context && context->names)) {
            bool duplicate = false;
            forEachEntry([&](const EntryView& entry) {
                duplicate = entry.Arquivo == *arquivo;  // exact: case counts
                return !duplicate;
            });
            if (duplicate)
                return refuse(AddRefusal::AlreadyCatalogued, "Esta música já está cadastrada.");
        }

        // A file chosen inside the songs folder is catalogued where it lies.
        const fs::path songs = store().songs;
        if (!fs::equivalent(caminho.parent_path().empty() ? "." : caminho.parent_path(), songs, error)) {
            const std::string name = caminho.filename().string();
            const fs::path destination = songs / name;
            // Names are compared without regard to case in the songs folder:
            // Song.kar must not sit beside song.kar.
            std::optional<fs::path> there = context && context->findInSongs
                                                ? context->findInSongs(name)
                                                : vozaro::platform::findIgnoringCase(songs, name);
            using Leftover = AddContext::Leftover;
            const Leftover leftover =
                there && context && context->leftover ? context->leftover(caminho, *there) : Leftover::Keep;
            if (leftover == Leftover::Replace) {
                std::error_code ignored;
                if (dryRun || fs::remove(*there, ignored))  // a dry run would replace it
                    there.reset();
            }
            // An adopted copy, left by an import that was stopped before its
            // entry was written, is catalogued as it lies.
            if (leftover != Leftover::Adopt) {
                if (there || (!dryRun && !CopiarArquivo(caminho, destination)))
                    return refuse(AddRefusal::CopyFailed, "Não foi possível copiar a música para a pasta de músicas.");
                if (!dryRun)
                    copy = destination;
            }
        }

        RegistroAtual.Arquivo = arquivo->substr(0, kArquivoSize);
        SongNames names = namesFromFileName(*arquivo);
        RegistroAtual.Interprete = names.interprete;
        RegistroAtual.Musica = names.musica;
        RegistroAtual.Numero = 0;
        if (hooks.confirmSongData && !hooks.confirmSongData()) {
            dropCopy();
            return refuse(AddRefusal::Cancelled, "Inclusão cancelada.");
        }
        if (dryRun) {
            ++context->pendingEntries;
        } else {
            try {
                RegistroAtual.Numero = context && context->used ? nextNumber(*context->used) : ProximoNumero();
            } catch (const CatalogueError&) {
                dropCopy();
                return refuse(AddRefusal::WriteFailed, "Erro ao acessar o índice.");
            }
            try {
                GravarRegistro(ContarMusicas());
            } catch (const CatalogueError&) {
                dropCopy();
                try {
                    returnNumber(RegistroAtual.Numero);  // the numbering rule keeps holding
                } catch (const CatalogueError&) {
                    // The next start-up check finds the number neither used nor free.
                }
                return refuse(AddRefusal::WriteFailed, "Erro ao incuir a música.");
            }
        }
        if (context && context->names)
            context->names->insert(*arquivo);
        if (context && context->used && validNumber(RegistroAtual.Numero))
            (*context->used)[static_cast<size_t>(RegistroAtual.Numero)] = true;
        return {true, AddRefusal::Cancelled, {}};
    } catch (...) {
        // A song that was not added leaves no copy behind: it would block
        // adding the same file later.
        dropCopy();
        return refuse(AddRefusal::Unreadable, "Erro ao abrir o arquivo. A música não foi adicionada.");
    }
}

}  // namespace vozaro::catalogue

bool IncluirMusica(const fs::path& caminho, const AddSongHooks& hooks) {
    AddSongHooks withDialog = hooks;
    if (!withDialog.confirmSongData)
        withDialog.confirmSongData = [] { return false; };  // no dialog: nothing confirms
    const AddOutcome outcome = addSongFile(caminho, withDialog);
    if (!outcome.added)
        showMessage(outcome.message, MessageIcon::Error);
    return outcome.added;
}
