// Reads a catalogue made of arbitrary bytes: the first byte says how many of
// the following bytes form the album index, the rest is the album file.  Every
// entry must read within its fields, lookups and removals must keep to whole
// entries, and nothing may be touched outside the songs folder.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "stores/vozaro_colecao.h"

namespace fs = std::filesystem;
using namespace vozaro::catalogue;

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

const fs::path& folder() {
    static const fs::path path = [] {
        // tmpfs when there is one: the rewrites flush every time.  libFuzzer
        // may end the process without running exit handlers, so the folders
        // of runs that have ended are swept away here instead.
        fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        const std::string prefix = "vozaro-fuzz-catalogue-";
        std::error_code ec;
        for (const auto& old : fs::directory_iterator(base, ec)) {
            std::string name = old.path().filename().string();
            if (name.rfind(prefix, 0) == 0 && ::kill(std::atoi(name.c_str() + prefix.size()), 0) != 0 &&
                errno == ESRCH)
                fs::remove_all(old.path(), ec);
        }
        fs::path made = base / (prefix + std::to_string(::getpid()));
        fs::remove_all(made, ec);
        fs::create_directories(made / "program");
        setProgramFolder(made / "program");
        std::ofstream(made / "outside.kar") << "keep";
        return made;
    }();
    return path;
}

void write(const fs::path& path, const uint8_t* data, size_t size) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const fs::path program = folder() / "program";
    size_t indexSize = std::min<size_t>(data[0], size - 1);
    write(program / "vozaro.idx", data + 1, indexSize);
    // A few entries and a torn one show every way an entry can be damaged;
    // more would only slow the search down.
    const size_t albumSize = std::min<size_t>(size - 1 - indexSize, 16 * kEntrySize + kEntrySize - 1);
    write(program / "vozaro.alb", data + 1 + indexSize, albumSize);

    check(AbrirAlbum());
    try {
        const int32_t count = ContarMusicas();
        check(static_cast<size_t>(count) == albumSize / kEntrySize);
        TRegistroAlbum entry;
        int32_t read = 0;
        int32_t first = 0;
        seekAlbum(0);
        while (!atAlbumEnd()) {
            readNextEntry(entry);
            check(entry.Interprete.size() <= kInterpreteSize && entry.Musica.size() <= kMusicaSize &&
                  entry.Arquivo.size() <= kArquivoSize);
            if (read++ == 0)
                first = entry.Numero;
        }
        check(read == count);
        if (count > 0) {
            check(LocalizarMusica(first) == 0);
            // Give the first entry a song file only when its name is a plain one.
            if (std::optional<fs::path> song = songFilePath(RegistroAtual.Arquivo)) {
                check(song->parent_path() == songsFolder());
                std::ofstream(*song) << "x";
            }
            check(ExcluirMusica(first));
            check(LocalizarMusica(first) == -1);
            check(ContarMusicas() < count);
        }
        int32_t numero = ProximoNumero();
        returnNumber(numero);
    } catch (const CatalogueError&) {
    }
    FecharAlbum();
    check(removeMissingSongs());
    check(fs::exists(folder() / "outside.kar"));
    check(!fs::exists(program / "vozaro.alt") && !fs::exists(program / "vozaro.idt"));
    return 0;
}
