// The catalogue window with a full catalogue (99,999 songs), each operation
// printed beside what it is measured against, in the same run:
//   opening the window (list read, built and sorted)  vs one read of the album file
//   adding one song (check, copy, number, append)     vs copying the song file and
//                                                        appending one entry
//   preparing and printing the whole list to PDF      pages per second
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QPainter>
#include <QPrinter>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Floors.h"
#include "catalogue/SongListPrint.h"
#include "catalogue/vozaro_album.h"
#include "stores/vozaro_colecao.h"
#include "platform/MessageBox.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kEntries = 99999;

struct Catalogue {
    fs::path folder;
    fs::path song;  // a karaoke file of typical size outside the catalogue

    Catalogue() {
        std::string pattern = (fs::temp_directory_path() / "vozaro-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        vozaro::catalogue::setProgramFolder(folder);
        if (!AbrirAlbum())
            std::abort();
        char name[40];
        for (int32_t i = 0; i < kEntries; ++i) {
            std::snprintf(name, sizeof name, "%05d - Cantor - Musica.kar", i + 1);
            RegistroAtual = TRegistroAlbum{"Cantor " + std::to_string(int64_t{i} * 7919 % 977),
                                           "M\xfasica n\xfamero " + std::to_string(int64_t{i} * 104729 % 99991),
                                           name,
                                           i + 1};
            GravarRegistro(i);
        }
        FecharAlbum();
        song = folder / "Banda_Azul - Nova_Cancao.kar";
        std::FILE* f = std::fopen(song.c_str(), "wb");
        std::vector<char> bytes(50 * 1024, 'k');
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    ~Catalogue() { fs::remove_all(folder); }
};

Catalogue& catalogue() {
    static Catalogue instance;
    return instance;
}

void FloorReadAlbum(benchmark::State& state) {
    const fs::path album = catalogue().folder / "vozaro.alb";
    for (auto _ : state)
        benchmark::DoNotOptimize(readWhole(album));
}
BENCHMARK(FloorReadAlbum)->Unit(benchmark::kMillisecond)->Iterations(10);

void OpenCatalogueWindow(benchmark::State& state) {
    catalogue();
    for (auto _ : state) {
        TformAlbum window;
        if (window.Musicas.rowCount() != kEntries)
            std::abort();
    }
}
BENCHMARK(OpenCatalogueWindow)->Unit(benchmark::kMillisecond)->Iterations(5);

// The entry removed and the copy deleted again after each addition, with the
// clock stopped.
void undoAddition(const Catalogue& c, const fs::path& copy) {
    fs::resize_file(c.folder / "vozaro.alb", static_cast<uintmax_t>(kEntries - 1) * vozaro::catalogue::kEntrySize);
    fs::remove(copy);
}

void FloorCopyAndAppend(benchmark::State& state) {
    Catalogue& c = catalogue();
    undoAddition(c, c.folder / "copy.kar");
    const std::vector<char> entry(vozaro::catalogue::kEntrySize, 'e');
    for (auto _ : state) {
        if (!CopiarArquivo(c.song, c.folder / "copy.kar"))
            std::abort();
        int fd = ::open((c.folder / "vozaro.alb").c_str(), O_WRONLY | O_APPEND);
        if (::write(fd, entry.data(), entry.size()) != static_cast<ssize_t>(entry.size()))
            std::abort();
        ::close(fd);
        state.PauseTiming();
        undoAddition(c, c.folder / "copy.kar");
        state.ResumeTiming();
    }
}
BENCHMARK(FloorCopyAndAppend)->Unit(benchmark::kMillisecond)->Iterations(20);

void AddOneSong(benchmark::State& state) {
    Catalogue& c = catalogue();
    const fs::path copy = vozaro::catalogue::songsFolder() / c.song.filename();
    undoAddition(c, copy);
    vozaro::catalogue::AddSongHooks hooks{[](const fs::path&) { return true; }, [] {}, [] { return true; }};
    for (auto _ : state) {
        if (!AbrirAlbum() || !IncluirMusica(c.song, hooks))
            std::abort();
        FecharAlbum();
        state.PauseTiming();
        undoAddition(c, copy);
        state.ResumeTiming();
    }
}
BENCHMARK(AddOneSong)->Unit(benchmark::kMillisecond)->Iterations(20);

void PrintWholeListToPdf(benchmark::State& state) {
    Catalogue& c = catalogue();
    int pages = 0;
    for (auto _ : state) {
        PrintList list(PrintOrder::ByTitle);
        if (!AbrirAlbum())
            std::abort();
        vozaro::catalogue::forEachEntry([&list](const vozaro::catalogue::EntryView& entry) {
            list.add(entry.Numero, entry.Interprete, entry.Musica);
            return true;
        });
        FecharAlbum();
        list.finish();
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString((c.folder / "lista.pdf").string()));
        const PageGeometry geometry = pageGeometry(printer, list.dataLines());
        QPainter painter(&printer);
        printSongList(painter, geometry, list, nullptr, [&printer] { return printer.newPage(); });
        painter.end();
        pages = geometry.pages;
    }
    state.counters["pages"] = pages;
    state.counters["pages/s"] = benchmark::Counter(pages * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(PrintWholeListToPdf)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vozaro"));
    benchmark::Initialize(&argc, argv);
    FloorReporter reporter({
        {"OpenCatalogueWindow/iterations:5", "FloorReadAlbum/iterations:10"},
        {"AddOneSong/iterations:20", "FloorCopyAndAppend/iterations:20"},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
