#include "stores/FirstStart.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "stores/vozaro_colecao.h"
#include "platform/BinaryFile.h"
#include "platform/ContentFolder.h"
#include "platform/Paths.h"
#include "platform/TextEncoding.h"

namespace fs = std::filesystem;

namespace vozaro::catalogue {

namespace {

std::optional<fs::path>& folderSetting() {
    static std::optional<fs::path> folder;
    return folder;
}

struct BundledSong {
    std::string file, performer, title;  // UTF-8
};

std::vector<BundledSong> readSongList(const fs::path& list) {
    std::vector<BundledSong> songs;
    std::ifstream in(list, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        BundledSong song;
        if (std::getline(fields, song.file, '\t') && std::getline(fields, song.performer, '\t') &&
            std::getline(fields, song.title) && !song.file.empty() &&
            song.file.find('/') == std::string::npos)
            songs.push_back(std::move(song));
    }
    return songs;
}

bool sameContents(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::file_size(a, ec) != fs::file_size(b, ec) || ec)
        return false;
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    return std::equal(std::istreambuf_iterator<char>(fa), {}, std::istreambuf_iterator<char>(fb), {});
}

// Copies `source` into `folder` under its own name unless the folder already
// has an entry of that name in any case.  Returns the file now in the folder
// when it holds the bundled bytes (copied now or before), else nothing.
std::optional<fs::path> copyInto(const fs::path& source, const fs::path& folder) {
    const std::string name = source.filename().string();
    if (std::optional<fs::path> existing = platform::findIgnoringCase(folder, name)) {
        if (sameContents(source, *existing))
            return existing;
        return std::nullopt;
    }
    if (!CopiarArquivo(source, folder / name))
        return std::nullopt;
    return folder / name;
}

void copyPictures(const fs::path& content) {
    std::error_code ec;
    const fs::path pictures = picturesFolder();
    for (fs::directory_iterator it(content / "Imagens", ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec))
            copyInto(it->path(), pictures);
}

int catalogueSongs(const fs::path& content) {
    if (!AbrirAlbum())
        return 0;
    int added = 0;
    try {
        // An album an import made before the first start has songs already:
        // a bundled song it took is not catalogued twice.
        std::unordered_set<std::string> catalogued;
        forEachEntry([&catalogued](const EntryView& entry) {
            catalogued.insert(platform::foldedFileName(platform::windows1252ToUtf8(std::string(entry.Arquivo))));
            return true;
        });
        const fs::path songs = songsFolder();
        for (const BundledSong& song : readSongList(content / platform::kBundledSongList)) {
            if (catalogued.count(platform::foldedFileName(song.file)))
                continue;
            std::optional<fs::path> file = copyInto(content / "Musicas" / song.file, songs);
            std::optional<std::string> arquivo = file ? catalogueFileName(*file) : std::nullopt;
            std::optional<std::string> performer = platform::utf8ToWindows1252(song.performer);
            std::optional<std::string> title = platform::utf8ToWindows1252(song.title);
            if (!arquivo || !performer || !title)
                continue;
            const int32_t numero = ProximoNumero();
            RegistroAtual = TRegistroAlbum{*performer, *title, *arquivo, numero};
            try {
                GravarRegistro(ContarMusicas());
            } catch (const CatalogueError&) {
                returnNumber(numero);
                throw;
            }
            ++added;
        }
    } catch (const CatalogueError&) {
        // The entries written so far stay; the rest can be added by hand.
    }
    FecharAlbum();
    return added;
}

}  // namespace

void setContentFolder(std::optional<fs::path> folder) { folderSetting() = std::move(folder); }

const std::optional<fs::path>& contentFolder() { return folderSetting(); }

namespace {

enum class Marker { None, Pending, Installed };
constexpr const char* kPending = "pendente";
constexpr const char* kInstalled = "instalado";

Marker readMarker() {
    std::error_code ec;
    const fs::path file = programFolder() / kContentMarker;
    if (!fs::exists(fs::symlink_status(file, ec)))
        return Marker::None;
    std::ifstream in(file, std::ios::binary);
    std::string word;
    in >> word;
    // Anything but "pendente" (a damaged marker, one that cannot be read)
    // counts as installed: what the host removed is never brought back.
    return word == kPending ? Marker::Pending : Marker::Installed;
}

void writeMarker(const char* word) {
    try {
        platform::FileRewrite rewrite(programFolder() / (std::string(kContentMarker) + ".tmp"));
        const std::string text = std::string(word) + "\n";
        rewrite.append(text.data(), text.size());
        rewrite.commit(programFolder() / kContentMarker);
    } catch (const std::system_error&) {
        // A folder that cannot be written: the next start decides again, and
        // installing again never overwrites nor catalogues twice.
    }
}

bool albumExists() {
    std::error_code ec;
    return fs::exists(fs::symlink_status(programFolder() / "vozaro.alb", ec));
}

}  // namespace

void noteNewAlbum() {
    if (readMarker() == Marker::None)
        writeMarker(kPending);
}

bool bundledContentDue() {
    const Marker marker = readMarker();
    return marker == Marker::Pending || (marker == Marker::None && !albumExists());
}

int installBundledContent() {
    const std::optional<fs::path>& content = contentFolder();
    if (!content)
        return 0;
    if (!bundledContentDue()) {
        // A folder from before the marker: installed by its own first start.
        if (readMarker() == Marker::None)
            writeMarker(kInstalled);
        return 0;
    }
    // The catalogue check made the folders; songs first, so that a start cut
    // short keeps the catalogue and its song files together.
    const int added = catalogueSongs(*content);
    copyPictures(*content);
    for (const char* name : {"config.mid", "nota.wav"}) {
        std::error_code ec;
        if (fs::is_regular_file(*content / name, ec))
            copyInto(*content / name, programFolder());
    }
    writeMarker(kInstalled);
    return added;
}

}  // namespace vozaro::catalogue
