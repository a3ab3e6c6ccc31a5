// The catalogue's operations on a full catalogue (99,999 entries, every song
// file present), each printed beside the floor it cannot beat, measured in the
// same run:
//   LocalizarMusica of the last number   vs one sequential read of the album file
//   ExcluirMusica of the first entry     vs one flushed copy of the album file
//   ProximoNumero with 1,000 free numbers vs one flushed copy of the index
//   the start-up check (nothing missing, and 1,000 songs missing, and as the
//   stage runs it behind its status window)
//                                         vs stat of every song file
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Floors.h"
#include "stores/vozaro_colecao.h"
#include "controls/vozaro_status.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kEntries = 99999;
constexpr int32_t kFreeNumbers = 1000;

struct Catalogue {
    fs::path folder;
    fs::path pristineAlbum;
    std::vector<std::string> songPaths;

    Catalogue() {
        std::string pattern = (fs::temp_directory_path() / "vozaro-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        vozaro::catalogue::setProgramFolder(folder);
        if (!AbrirAlbum())
            std::abort();
        fs::path songs = vozaro::catalogue::songsFolder();
        char name[32];
        for (int32_t i = 0; i < kEntries; ++i) {
            std::snprintf(name, sizeof name, "%05d - Cantor - Musica.kar", i + 1);
            RegistroAtual = TRegistroAlbum{"Cantor " + std::to_string(i % 977),
                                           "Musica numero " + std::to_string(i + 1), name, i + 1};
            GravarRegistro(i);
            songPaths.push_back((songs / name).string());
            int fd = ::open(songPaths.back().c_str(), O_WRONLY | O_CREAT, 0644);
            ::close(fd);
        }
        FecharAlbum();
        pristineAlbum = folder / "pristine.alb";
        fs::copy_file(folder / "vozaro.alb", pristineAlbum);
    }
    ~Catalogue() { fs::remove_all(folder); }
};

Catalogue& catalogue() {
    static Catalogue instance;
    return instance;
}

// Copies a file and flushes the copy to disk, as a crash-safe rewrite must.
void copyFlushed(const fs::path& from, const fs::path& to) {
    static std::vector<char> buffer(1 << 20);
    int in = ::open(from.c_str(), O_RDONLY);
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (ssize_t n; (n = ::read(in, buffer.data(), buffer.size())) > 0;)
        if (::write(out, buffer.data(), static_cast<size_t>(n)) != n)
            std::abort();
    ::fsync(out);
    ::close(out);
    ::close(in);
}

void writeFreeNumbers() {
    std::vector<char> bytes;
    for (int32_t n = 1; n <= kFreeNumbers; ++n) {
        int32_t numero = kEntries + n;
        for (int b = 0; b < 4; ++b)
            bytes.push_back(static_cast<char>((numero >> (8 * b)) & 0xFF));
    }
    FILE* f = std::fopen((catalogue().folder / "vozaro.idx").c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void FloorSequentialRead(benchmark::State& state) {
    fs::path album = catalogue().folder / "vozaro.alb";
    for (auto _ : state)
        benchmark::DoNotOptimize(readWhole(album));
}
BENCHMARK(FloorSequentialRead)->Unit(benchmark::kMillisecond)->Iterations(10);

void LocalizarMusicaLast(benchmark::State& state) {
    catalogue();
    for (auto _ : state) {
        if (!AbrirAlbum())
            std::abort();
        benchmark::DoNotOptimize(LocalizarMusica(kEntries));
        FecharAlbum();
    }
}
BENCHMARK(LocalizarMusicaLast)->Unit(benchmark::kMillisecond)->Iterations(10);

void FloorCopyAlbum(benchmark::State& state) {
    fs::path folder = catalogue().folder;
    for (auto _ : state)
        copyFlushed(folder / "vozaro.alb", folder / "copy.alb");
    fs::remove(folder / "copy.alb");
}
BENCHMARK(FloorCopyAlbum)->Unit(benchmark::kMillisecond)->Iterations(5);

void ExcluirMusicaFirst(benchmark::State& state) {
    Catalogue& c = catalogue();
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file(c.pristineAlbum, c.folder / "vozaro.alb", fs::copy_options::overwrite_existing);
        ::close(::open(c.songPaths.front().c_str(), O_WRONLY | O_CREAT, 0644));
        fs::remove(c.folder / "vozaro.idx");
        state.ResumeTiming();
        if (!AbrirAlbum() || !ExcluirMusica(1))
            std::abort();
        FecharAlbum();
    }
    fs::copy_file(c.pristineAlbum, c.folder / "vozaro.alb", fs::copy_options::overwrite_existing);
    ::close(::open(c.songPaths.front().c_str(), O_WRONLY | O_CREAT, 0644));
    fs::remove(c.folder / "vozaro.idx");
}
BENCHMARK(ExcluirMusicaFirst)->Unit(benchmark::kMillisecond)->Iterations(5);

void FloorCopyIndex(benchmark::State& state) {
    fs::path folder = catalogue().folder;
    writeFreeNumbers();
    for (auto _ : state)
        copyFlushed(folder / "vozaro.idx", folder / "copy.idx");
    fs::remove(folder / "copy.idx");
    fs::remove(folder / "vozaro.idx");
}
BENCHMARK(FloorCopyIndex)->Unit(benchmark::kMillisecond)->Iterations(50);

void ProximoNumeroWithFreeNumbers(benchmark::State& state) {
    fs::path folder = catalogue().folder;
    for (auto _ : state) {
        state.PauseTiming();
        writeFreeNumbers();
        state.ResumeTiming();
        if (!AbrirAlbum())
            std::abort();
        benchmark::DoNotOptimize(ProximoNumero());
        FecharAlbum();
    }
    fs::remove(folder / "vozaro.idx");
}
BENCHMARK(ProximoNumeroWithFreeNumbers)->Unit(benchmark::kMillisecond)->Iterations(50);

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

void StartupCheck(benchmark::State& state) {
    catalogue();
    for (auto _ : state) {
        int32_t last = 0;
        if (!vozaro::catalogue::removeMissingSongs({{}, [&](int32_t p) { last = p; }}) || last != kEntries)
            std::abort();
    }
}
BENCHMARK(StartupCheck)->Unit(benchmark::kMillisecond)->Iterations(5);

// A thousand songs gone (every hundredth): found and removed in one pass.
void StartupCheckThousandMissing(benchmark::State& state) {
    Catalogue& c = catalogue();
    auto restore = [&c] {
        fs::copy_file(c.pristineAlbum, c.folder / "vozaro.alb", fs::copy_options::overwrite_existing);
        fs::remove(c.folder / "vozaro.idx");
    };
    for (auto _ : state) {
        state.PauseTiming();
        restore();
        for (int32_t i = 0; i < kEntries; i += 100)
            fs::remove(c.songPaths[static_cast<size_t>(i)]);
        state.ResumeTiming();
        if (!vozaro::catalogue::removeMissingSongs())
            std::abort();
    }
    restore();
    for (int32_t i = 0; i < kEntries; i += 100)
        ::close(::open(c.songPaths[static_cast<size_t>(i)].c_str(), O_WRONLY | O_CREAT, 0644));
}
BENCHMARK(StartupCheckThousandMissing)->Unit(benchmark::kMillisecond)->Iterations(3);

// What the stage does at start: the same check behind its status window,
// which repaints as the check goes on.
void StartupCheckWithStatusWindow(benchmark::State& state) {
    catalogue();
    static int argc = 1;
    static char name[] = "bench_catalogue";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
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
    FloorReporter reporter({
        {"LocalizarMusicaLast/iterations:10", "FloorSequentialRead/iterations:10"},
        {"ExcluirMusicaFirst/iterations:5", "FloorCopyAlbum/iterations:5"},
        {"ProximoNumeroWithFreeNumbers/iterations:50", "FloorCopyIndex/iterations:50"},
        {"StartupCheck/iterations:5", "FloorStatEverySong/iterations:5"},
        {"StartupCheckThousandMissing/iterations:3", "FloorStatEverySong/iterations:5"},
        {"StartupCheckWithStatusWindow/iterations:5", "FloorStatEverySong/iterations:5"},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
