// vozaro-importar [--simular] PASTA_OU_ARQUIVO...
//
// Adds a whole collection of karaoke files to the catalogue of the program
// folder (the same one Vozaro uses: vozaro.alb beside this program, else the
// data folder).  Folders are searched through, subfolders too, for ".kar",
// ".mid" and ".rmi" files in any case; each file goes in as the catalogue
// window adds it, with performer and title taken from its name and without
// the song-data dialog.  On a terminal a progress line shows how far it is;
// at the end a summary goes to standard output and every refused file, with
// its reason, to standard error, one a line.  --simular checks everything
// and changes nothing.
//
// Exit status: 0 when every file was added or was already there, 1 when some
// files were refused, 2 when the catalogue could not be opened or written
// (another program kept it busy past the wait included), 3 on a wrong call.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "stores/SongImport.h"
#include "stores/vozaro_colecao.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "karaoke/LyricTrack.h"

namespace fs = std::filesystem;
using namespace vozaro::catalogue;

namespace {

const char* reasonText(AddRefusal reason) {
    switch (reason) {
    case AddRefusal::NotKaraoke: return "não é karaokê";
    case AddRefusal::AlreadyCatalogued: return "já cadastrada";
    case AddRefusal::Unreadable: return "ilegível";
    case AddRefusal::CopyFailed: return "cópia falhou";
    case AddRefusal::CatalogueFull: return "álbum cheio";
    case AddRefusal::BadName: return "nome não aceito";
    case AddRefusal::WriteFailed: return "álbum não gravado";
    case AddRefusal::Cancelled: return "cancelada";
    }
    return "";
}

// "done/total, files per second, time left" rewritten in place.
class ProgressLine {
public:
    void show(std::size_t done, std::size_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (done < total && now - shown_ < std::chrono::milliseconds(200))
            return;
        shown_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
        const long left = rate > 0 ? static_cast<long>(static_cast<double>(total - done) / rate + 0.5) : 0;
        std::fprintf(stderr, "\r%zu/%zu  %.0f arquivos/s  faltam %ld:%02ld   ", done, total, rate, left / 60,
                     left % 60);
        if (done == total)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point shown_{};
};

}  // namespace

int main(int argc, char** argv) {
    bool simulate = false;
    std::vector<fs::path> roots;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--simular") == 0)
            simulate = true;
        else
            roots.emplace_back(argv[i]);
    }
    if (roots.empty()) {
        std::fprintf(stderr, "uso: vozaro-importar [--simular] PASTA_OU_ARQUIVO...\n");
        return 3;
    }
    vozaro::platform::setMessageResponder([](const vozaro::platform::MessageRequest& request) {
        std::fprintf(stderr, "%s\n", request.text.c_str());
        return vozaro::platform::MessageResult::Ok;
    });
    setProgramFolder(vozaro::platform::findProgramFolder());

    std::vector<ImportRefusal> unreadable;
    const std::vector<fs::path> files = findSongFiles(roots, unreadable);
    ProgressLine line;
    ImportOptions options;
    options.simulate = simulate;
    options.isKaraoke = [](const fs::path& file) { return vozaro::stage::songFileHasLyrics(file.string()); };
    if (::isatty(STDERR_FILENO))
        options.progressed = [&line](std::size_t done, std::size_t total) { line.show(done, total); };
    ImportSummary summary = importSongs(files, options);
    summary.refused.insert(summary.refused.begin(), unreadable.begin(), unreadable.end());

    for (const ImportRefusal& refusal : summary.refused)
        std::fprintf(stderr, "%s: %s\n", refusal.file.string().c_str(), refusal.message.c_str());
    if (summary.catalogueFailed)
        std::fprintf(stderr, "%s\n", summary.failure.c_str());

    std::printf("%s%zu arquivos encontrados\n", simulate ? "Simulação: nada foi alterado. " : "",
                files.size());
    std::printf("adicionadas: %d\n", summary.added);
    std::printf("recusadas: %zu\n", summary.refused.size());
    for (AddRefusal reason : {AddRefusal::NotKaraoke, AddRefusal::AlreadyCatalogued, AddRefusal::Unreadable,
                              AddRefusal::CopyFailed, AddRefusal::CatalogueFull, AddRefusal::BadName,
                              AddRefusal::WriteFailed}) {
        const int32_t n = summary.count(reason);
        const bool always = reason == AddRefusal::NotKaraoke || reason == AddRefusal::AlreadyCatalogued ||
                            reason == AddRefusal::Unreadable || reason == AddRefusal::CopyFailed;
        if (n > 0 || always)
            std::printf("  %s: %d\n", reasonText(reason), n);
    }
    if (summary.catalogueFailed)
        std::printf("o álbum de músicas não pôde ser aberto ou gravado\n");
    return summary.exitStatus();
}
