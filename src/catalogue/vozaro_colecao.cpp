#include "catalogue/vozaro_colecao.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/TextEncoding.h"

namespace fs = std::filesystem;
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

std::string readText(const char* entry, int offset, int size) {
    int length = std::min<int>(static_cast<unsigned char>(entry[offset]), size);
    return std::string(entry + offset + 1, static_cast<size_t>(length));
}

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

// Reads up to `size` bytes at `offset`; fewer only at the end of the file.
size_t readAt(int fd, char* data, size_t size, off_t offset, const char* what) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(errno, what);
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void writeAt(int fd, const char* data, size_t size, off_t offset, const char* what) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(errno, what);
        done += static_cast<size_t>(n);
    }
}

off_t fileSize(int fd, const char* what) {
    struct stat st {};
    if (fd < 0)
        fail(EBADF, what);
    if (::fstat(fd, &st) != 0)
        fail(errno, what);
    return st.st_size;
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void syncFolder(const fs::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A file written completely beside its target and then renamed over it in
// one step.  Until commit() succeeds the target is untouched; an uncommitted
// rewrite file is removed.
class Rewrite {
public:
    explicit Rewrite(fs::path path) : path_(std::move(path)) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0)
            fail(errno, "cannot create the rewrite file");
    }
    ~Rewrite() {
        if (fd_ >= 0) {
            ::close(fd_);
            ::unlink(path_.c_str());
        }
    }
    Rewrite(const Rewrite&) = delete;
    Rewrite& operator=(const Rewrite&) = delete;

    void append(const char* data, size_t size) {
        pending_.insert(pending_.end(), data, data + size);
        if (pending_.size() >= kFlushSize)
            flush();
    }

    void commit(const fs::path& target) {
        flush();
        if (::fsync(fd_) != 0)
            fail(errno, "cannot flush the rewrite file");
        if (::close(fd_) != 0) {
            fd_ = -1;
            ::unlink(path_.c_str());
            fail(errno, "cannot close the rewrite file");
        }
        fd_ = -1;
        if (::rename(path_.c_str(), target.c_str()) != 0) {
            int error = errno;
            ::unlink(path_.c_str());
            fail(error, "cannot replace the catalogue file");
        }
        syncFolder(target.parent_path());
    }

private:
    static constexpr size_t kFlushSize = 1 << 20;

    void flush() {
        writeAt(fd_, pending_.data(), pending_.size(), written_, "cannot write the rewrite file");
        written_ += static_cast<off_t>(pending_.size());
        pending_.clear();
    }

    fs::path path_;
    int fd_ = -1;
    off_t written_ = 0;
    std::vector<char> pending_;
};

struct Store {
    std::optional<fs::path> folder;
    fs::path songs;
    int album = -1;
    int index = -1;
    int32_t position = 0;  // next entry of sequential reading
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
        size_t got = readAt(album, buffer.data(), buffer.size(), static_cast<off_t>(i) * kEntrySize,
                            "cannot read the album file");
        bufferFirst = i;
        bufferCount = static_cast<int32_t>(got / kEntrySize);
        if (bufferCount == 0)
            fail(EIO, "read beyond the end of the album file");
        return buffer.data();
    }

    // The whole numbers of the index, in file order; a torn last number is
    // left out.
    std::vector<int32_t> readIndex() {
        off_t size = fileSize(index, "cannot read the album index");
        std::vector<char> bytes(static_cast<size_t>(size / kIndexEntrySize * kIndexEntrySize));
        size_t got = readAt(index, bytes.data(), bytes.size(), 0, "cannot read the album index");
        std::vector<int32_t> numbers(got / kIndexEntrySize);
        for (size_t i = 0; i < numbers.size(); ++i)
            numbers[i] = readInt32(bytes.data() + i * kIndexEntrySize);
        return numbers;
    }

    // Replaces the index with `numbers` through its rewrite file.
    void rewriteIndex(const std::vector<int32_t>& numbers) {
        Rewrite rewrite(file(".idt"));
        for (int32_t numero : numbers) {
            char bytes[kIndexEntrySize];
            writeInt32(bytes, numero);
            rewrite.append(bytes, sizeof bytes);
        }
        rewrite.commit(file(".idx"));
        closeFd(index);
        index = ::open(file(".idx").c_str(), O_RDWR | O_CLOEXEC);
        if (index < 0)
            fail(errno, "cannot reopen the album index");
    }

    void appendToIndex(int32_t numero) {
        off_t end = fileSize(index, "cannot read the album index") / kIndexEntrySize * kIndexEntrySize;
        char bytes[kIndexEntrySize];
        writeInt32(bytes, numero);
        writeAt(index, bytes, sizeof bytes, end, "cannot write the album index");
        if (::fdatasync(index) != 0)
            fail(errno, "cannot flush the album index");
    }
};

Store& store() {
    static Store instance;
    return instance;
}

// A catalogued file name that stays inside the songs folder.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool songFileExists(const std::string& arquivo, platform::FolderNames& names) {
    if (!isPlainFileName(arquivo))
        return false;
    std::string name = platform::windows1252ToUtf8(arquivo);
    std::error_code ec;
    if (fs::is_regular_file(store().songs / name, ec))
        return true;
    std::optional<fs::path> found = names.find(name);
    return found && fs::is_regular_file(*found, ec);
}

// Opens an existing catalogue file, or creates it empty; shows the matching
// message on failure.
int openOrCreate(const fs::path& path, const char* openFailure, const char* createFailure) {
    std::error_code ec;
    bool exists = fs::exists(fs::symlink_status(path, ec));
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (exists ? 0 : O_CREAT | O_EXCL), 0644);
    if (fd < 0)
        showMessage(exists ? openFailure : createFailure, MessageIcon::Error);
    return fd;
}

bool ensureFolder(const fs::path& folder, const char* failure) {
    std::error_code ec;
    if (fs::is_directory(folder, ec) || fs::create_directories(folder, ec))
        return true;
    showMessage(failure, MessageIcon::Error);
    return false;
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
    fs::path folder = store().album >= 0 ? store().songs : songsFolder();
    std::string name = platform::windows1252ToUtf8(arquivo);
    if (std::optional<fs::path> found = platform::findIgnoringCase(folder, name))
        return found;
    return folder / name;
}

std::optional<std::string> catalogueFileName(const fs::path& songFile) {
    std::string name = songFile.filename().string();
    if (std::optional<std::string> cp1252 = platform::utf8ToWindows1252(name))
        return cp1252;
    showMessage("O nome do arquivo \"" + name +
                    "\" tem caracteres que o álbum de músicas não aceita. "
                    "Renomeie o arquivo para incluí-lo.",
                MessageIcon::Error);
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

void returnNumber(int32_t numero) {
    if (numero < 1 || numero > kMaxSongs)
        return;
    store().appendToIndex(numero);
}

namespace {

void repairFreeNumbers() {
    Store& s = store();
    enum : uint8_t { kUnseen, kInAlbum, kFree };
    std::vector<uint8_t> seen(kMaxSongs + 1, kUnseen);
    int32_t highest = 0;
    auto valid = [](int32_t numero) { return numero >= 1 && numero <= kMaxSongs; };
    const int32_t count = ContarMusicas();
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
    if (repaired != index ||
        fileSize(s.index, "cannot read the album index") % kIndexEntrySize != 0)
        s.rewriteIndex(repaired);
}

}  // namespace

bool removeMissingSongs(const CheckProgress& progress) {
    if (!AbrirAlbum())
        return false;
    try {
        int32_t count = ContarMusicas();
        if (count > 0) {
            if (progress.started)
                progress.started(count);
            platform::FolderNames names(store().songs);
            int32_t p = 0;
            while (p < count) {
                LerRegistro(p);
                if (songFileExists(RegistroAtual.Arquivo, names))
                    ++p;
                else if (ExcluirMusica(RegistroAtual.Numero))
                    count = ContarMusicas();
                else
                    ++p;  // cannot be removed now: leave it for the next start
                if (progress.progressed)
                    progress.progressed(p);
            }
        }
        repairFreeNumbers();
    } catch (const CatalogueError&) {
        // A damaged or unreadable album ends the check; the program goes on
        // with the catalogue as it is.
    }
    FecharAlbum();
    return true;
}

}  // namespace vozaro::catalogue

using namespace vozaro::catalogue;

bool AbrirAlbum() {
    Store& s = store();
    FecharAlbum();
    s.songs = songsFolder();
    if (!ensureFolder(s.songs, "Não foi possível criar pasta de músicas."))
        return false;
    if (!ensureFolder(picturesFolder(), "Não foi possível criar pasta de imagens."))
        return false;
    s.album = openOrCreate(s.file(".alb"), "Não foi possível abrir o álbum de músicas.",
                           "Não foi possível criar o álbum de músicas.");
    if (s.album < 0)
        return false;
    s.index = openOrCreate(s.file(".idx"), "Não foi possível abrir o índice do álbum de músicas.",
                           "Não foi possível criar o índice do álbum de músicas.");
    if (s.index < 0) {
        closeFd(s.album);
        return false;
    }
    s.position = 0;
    return true;
}

void FecharAlbum() {
    Store& s = store();
    closeFd(s.album);
    closeFd(s.index);
    s.dropBuffer();
    s.position = 0;
}

int32_t ContarMusicas() {
    off_t size = fileSize(store().album, "cannot read the album file");
    return static_cast<int32_t>(std::min<off_t>(size / kEntrySize, INT32_MAX));
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
    writeAt(s.album, bytes.data(), bytes.size(), static_cast<off_t>(posicao) * kEntrySize,
            "cannot write the album file");
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
    Store& s = store();
    std::vector<std::string> dropped;
    try {
        Rewrite rewrite(s.file(".alt"));
        int32_t count = ContarMusicas();
        for (int32_t i = 0; i < count; ++i) {
            const char* bytes = s.entryBytes(i);
            if (readInt32(bytes + kNumeroOffset) == numero)
                dropped.push_back(readText(bytes, kArquivoOffset, kArquivoSize));
            else
                rewrite.append(bytes, kEntrySize);
        }
        rewrite.commit(s.file(".alb"));
    } catch (const CatalogueError&) {
        s.dropBuffer();
        return false;
    }
    s.dropBuffer();
    closeFd(s.album);
    s.album = ::open(s.file(".alb").c_str(), O_RDWR | O_CLOEXEC);
    s.position = 0;
    for (const std::string& arquivo : dropped)
        if (std::optional<fs::path> song = songFilePath(arquivo))
            ::unlink(song->c_str());
    if (dropped.empty())
        return false;
    // The entries are gone for good now: free the number even if the album
    // could not be opened again.
    try {
        s.appendToIndex(numero);
    } catch (const CatalogueError&) {
        return false;
    }
    return s.album >= 0;
}

int32_t ProximoNumero() {
    Store& s = store();
    int32_t candidate = ContarMusicas() + 1;
    if (fileSize(s.index, "cannot read the album index") == 0)
        return candidate;  // nothing freed: the index stays as it is
    std::vector<int32_t> numbers = s.readIndex();
    if (!numbers.empty()) {
        candidate = numbers.back();
        numbers.pop_back();
    }
    s.rewriteIndex(numbers);
    return candidate;
}

bool CopiarArquivo(const fs::path& origem, const fs::path& destino) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(destino, ec)))
        return false;
    int in = ::open(origem.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    int out = ::open(destino.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    try {
        std::vector<char> chunk(1 << 16);
        off_t offset = 0;
        for (;;) {
            size_t n = readAt(in, chunk.data(), chunk.size(), offset, "cannot read the song file");
            if (n == 0)
                break;
            writeAt(out, chunk.data(), n, offset, "cannot write the song file");
            offset += static_cast<off_t>(n);
        }
    } catch (const CatalogueError&) {
        ok = false;
    }
    ok = ::close(out) == 0 && ok;
    ::close(in);
    if (!ok)
        ::unlink(destino.c_str());
    return ok;
}
