// The start-up check of the catalogue with its status window, as the stage
// runs it, on a full catalogue (99,999 songs, every song file present),
// printed beside the floor of the same run: one stat of every song file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Floors.h"
#include "catalogue/vozaro_colecao.h"
#include "catalogue/vozaro_status.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kEntries = 99999;

struct Catalogue {
    fs::path folder;
    std::vector<std::string> songPaths;

    Catalogue() {
        std::string pattern = (fs::temp_directory_path() / "vozaro-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        vozaro::catalogue::setProgramFolder(folder);
        if (!AbrirAlbum())
            std::abort();
        const fs::path songs = vozaro::catalogue::songsFolder();
        char name[40];
        for (int32_t i = 0; i < kEntries; ++i) {
            std::snprintf(name, sizeof name, "%05d - Cantor - Musica.kar", i + 1);
            RegistroAtual = TRegistroAlbum{"Cantor", "Musica", name, i + 1};
            GravarRegistro(i);
            songPaths.push_back((songs / name).string());
            ::close(::open(songPaths.back().c_str(), O_WRONLY | O_CREAT, 0644));
        }
        FecharAlbum();
    }
    ~Catalogue() { fs::remove_all(folder); }
};

Catalogue& catalogue() {
    static Catalogue c;
    return c;
}

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_startup_window";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

void FloorStatEverySong(benchmark::State& state) {
    const std::vector<std::string>& paths = catalogue().songPaths;
    for (auto _ : state) {
        struct stat st {};
        int found = 0;
        for (const std::string& path : paths)
            found += ::stat(path.c_str(), &st) == 0;
        if (found != kEntries)
            std::abort();
    }
}
BENCHMARK(FloorStatEverySong)->Unit(benchmark::kMillisecond)->Iterations(5);

// What the stage does at start: the check behind the status window.
void StartupCheckWithStatusWindow(benchmark::State& state) {
    catalogue();
    application();
    for (auto _ : state) {
        TformStatus status;
        status.Progress->setValue(0);
        status.lStatus->setText(QStringLiteral("Verificando pasta de músicas..."));
        int32_t last = 0;
        vozaro::catalogue::CheckProgress progress;
        progress.started = [&status](int32_t entries) {
            status.Progress->setMaximum(std::max(entries - 1, 1));
            status.show();
        };
        StatusProgress repaint(status);
        progress.progressed = [&repaint, &last](int32_t position) {
            last = position;
            repaint.step(position);
        };
        if (!vozaro::catalogue::removeMissingSongs(progress) || last != kEntries)
            std::abort();
        status.close();
    }
}
BENCHMARK(StartupCheckWithStatusWindow)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    FloorReporter reporter(std::vector<std::pair<std::string, std::string>>{
        {"StartupCheckWithStatusWindow/iterations:5", "FloorStatEverySong/iterations:5"},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
