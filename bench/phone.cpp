// The guests' search on a full catalogue (99,999 songs).
//
// FloorReadAlbum: reading the album file once (page cache); BuildSongIndex:
// reading it into the in-memory list with every entry's search key, measured
// against that floor.  Search: one search of the JSON interface (the list
// kept, the answer built), over a round of typical queries; counters p50_ms,
// p99_ms and max_ms over 300 searches.
#include <QCoreApplication>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "BigCatalogue.h"
#include "Floors.h"
#include "stage/PhoneApi.h"

using namespace vozaro::stage;

namespace {

BigCatalogue& catalogue() {
    static BigCatalogue instance;
    return instance;
}

void FloorReadAlbum(benchmark::State& state) {
    const auto album = catalogue().album();
    for (auto _ : state)
        benchmark::DoNotOptimize(readWhole(album));
}
BENCHMARK(FloorReadAlbum)->Unit(benchmark::kMillisecond)->Iterations(10);

void BuildSongIndex(benchmark::State& state) {
    const auto album = catalogue().album();
    for (auto _ : state) {
        SongIndex index;
        index.read(album);
        benchmark::DoNotOptimize(index.size());
    }
}
BENCHMARK(BuildSongIndex)->Unit(benchmark::kMillisecond)->Iterations(10);

void Search(benchmark::State& state) {
    catalogue();
    QStringList lines, positions;
    RequestQueue queue(lines, positions);
    SongIndex index;
    PhoneRequests requests(index, queue, nullptr, [] { return std::int64_t{0}; });
    PhoneApi api(requests);
    index.refresh();
    const char* const queries[] = {"cafe", "coracao saudade", "SÃO JOÃO", "00042", "banda", "lua de mar 7",
                                   "", "nada disso", "aguas", "amor amor"};
    std::vector<double> ms;
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (int i = 0; i < 300; ++i) {
            const char* q = queries[i % std::size(queries)];
            const auto start = std::chrono::steady_clock::now();
            const auto response = api.handle({"GET", QStringLiteral("/api/musicas"),
                                              {{QStringLiteral("q"), QString::fromUtf8(q)}},
                                              {},
                                              QStringLiteral("127.0.0.1")});
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            bytes += static_cast<std::size_t>(response.body.size());
        }
    }
    std::sort(ms.begin(), ms.end());
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
    state.counters["max_ms"] = ms.back();
    state.counters["answer_bytes"] = static_cast<double>(bytes) / static_cast<double>(ms.size());
}
BENCHMARK(Search)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    FloorReporter reporter(std::vector<std::pair<std::string, std::string>>{
        {"BuildSongIndex/iterations:10", "FloorReadAlbum/iterations:10"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
