// A host's whole collection, each measurement beside what it is held to:
//   importing 5,000 small karaoke files into a catalogue of 90,000 songs
//     vs copying the same files and reading each once as a song (within 3x)
//   filtering the catalogue window's list of 99,999 songs, per keystroke
//     (under 50 ms)
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "stores/SongImport.h"
#include "catalogue/SongList.h"
#include "stores/vozaro_colecao.h"
#include "platform/MessageBox.h"
#include "karaoke/LyricTrack.h"

namespace fs = std::filesystem;
using namespace vozaro::catalogue;

namespace {

constexpr int32_t kCatalogued = 90000;
constexpr int kFiles = 5000;

// A small karaoke song: a tempo track, then a lyric track of 40 tagged
// syllables and notes, about 1 KB.
std::string smallKaraoke(int n) {
    std::string track;
    auto vlq = [&track](uint32_t v) {
        char bytes[5];
        int k = 0;
        bytes[k++] = static_cast<char>(v & 0x7F);
        while (v >>= 7)
            bytes[k++] = static_cast<char>(0x80 | (v & 0x7F));
        while (k)
            track += bytes[--k];
    };
    auto meta = [&](uint32_t delta, char type, const std::string& text) {
        vlq(delta);
        track += '\xFF';
        track += type;
        vlq(static_cast<uint32_t>(text.size()));
        track += text;
    };
    meta(0, 0x03, "Words");
    meta(0, 0x01, "@LPORT");
    for (int s = 0; s < 40; ++s) {
        meta(120, 0x01, (s % 8 == 0 ? "/la" : "la") + std::to_string(n));
        vlq(0);
        track += std::string{'\x90', 60, 100};
        vlq(100);
        track += std::string{'\x80', 60, 0};
    }
    meta(0, 0x2F, "");
    auto chunk = [](const char* id, const std::string& body) {
        std::string c(id);
        for (int shift = 24; shift >= 0; shift -= 8)
            c += static_cast<char>((body.size() >> shift) & 0xFF);
        return c + body;
    };
    const std::string tempo = std::string("\x00\xFF\x51\x03\x07\xA1\x20\x00\xFF\x2F\x00", 11);
    return chunk("MThd", std::string("\x00\x01\x00\x02\x01\xE0", 6)) + chunk("MTrk", tempo) + chunk("MTrk", track);
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

struct Collection {
    fs::path folder;
    fs::path program;
    std::vector<fs::path> files;
    uintmax_t albumSize = 0;

    Collection() {
        std::string pattern = (fs::temp_directory_path() / "vozaro-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        program = folder / "programa";
        fs::create_directories(program);
        setProgramFolder(program);
        if (!AbrirAlbum())
            std::abort();
        char name[40];
        for (int32_t i = 0; i < kCatalogued; ++i) {
            std::snprintf(name, sizeof name, "%05d - Cantor - Musica.kar", i + 1);
            RegistroAtual = TRegistroAlbum{"Cantor", "Musica", name, i + 1};
            GravarRegistro(i);
        }
        FecharAlbum();
        albumSize = fs::file_size(program / "vozaro.alb");
        for (int i = 0; i < kFiles; ++i) {
            const fs::path dir = folder / "colecao" / ("pasta" + std::to_string(i / 250));
            fs::create_directories(dir);
            files.push_back(dir / ("Banda_" + std::to_string(i) + " - Cancao.kar"));
            writeFile(files.back(), smallKaraoke(i));
        }
    }
    ~Collection() { fs::remove_all(folder); }

    // Back to 90,000 songs and an empty songs folder.
    void undoImport() {
        fs::resize_file(program / "vozaro.alb", albumSize);
        for (const fs::path& f : files)
            fs::remove(songsFolder() / f.filename());
    }
};

Collection& collection() {
    static Collection instance;
    return instance;
}

void FloorCopyAndReadEachSong(benchmark::State& state) {
    Collection& c = collection();
    const fs::path scratch = c.folder / "copias";
    for (auto _ : state) {
        fs::create_directories(scratch);
        for (const fs::path& f : c.files) {
            if (!CopiarArquivo(f, scratch / f.filename()) || !vozaro::stage::songFileHasLyrics(f.string()))
                std::abort();
        }
        state.PauseTiming();
        fs::remove_all(scratch);
        state.ResumeTiming();
    }
    state.counters["files_per_s"] = benchmark::Counter(kFiles * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(FloorCopyAndReadEachSong)->Unit(benchmark::kMillisecond)->Iterations(3);

void ImportFiveThousandIntoNinetyThousand(benchmark::State& state) {
    Collection& c = collection();
    ImportOptions options;
    options.isKaraoke = [](const fs::path& f) { return vozaro::stage::songFileHasLyrics(f.string()); };
    for (auto _ : state) {
        const ImportSummary summary = importSongs(c.files, options);
        if (summary.added != kFiles)
            std::abort();
        state.PauseTiming();
        c.undoImport();
        state.ResumeTiming();
    }
    state.counters["files_per_s"] = benchmark::Counter(kFiles * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(ImportFiveThousandIntoNinetyThousand)->Unit(benchmark::kMillisecond)->Iterations(3);

// One keystroke in "Procurar:" over 99,999 lines: the typing of a search and
// its erasing, each step measured.
void FilterKeystroke(benchmark::State& state) {
    std::vector<QString> lines;
    lines.reserve(99999);
    for (int32_t i = 0; i < 99999; ++i)
        lines.push_back(songLine(i + 1, "Cantor \xc9" + std::to_string(int64_t{i} * 7919 % 977),
                                 "M\xfasica n\xfamero " + std::to_string(int64_t{i} * 104729 % 99991)));
    SongListModel songs;
    songs.reset(std::move(lines));
    SongFilterModel filter(songs);
    const QStringList steps = {"c", "ca", "can", "cant", "canto", "cantor", "cantor e", "cantor e9",
                               "cantor e", "cantor", "m", "mu", "mus", "musica", "musica 4", ""};
    qsizetype k = 0;
    for (auto _ : state) {
        filter.setFilter(steps[k++ % steps.size()]);
        benchmark::DoNotOptimize(filter.rowCount());
    }
}
BENCHMARK(FilterKeystroke)->Unit(benchmark::kMillisecond)->Iterations(64);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    vozaro::platform::setMessageResponder([](const vozaro::platform::MessageRequest& request) {
        std::fprintf(stderr, "%s\n", request.text.c_str());
        return vozaro::platform::MessageResult::Ok;
    });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
