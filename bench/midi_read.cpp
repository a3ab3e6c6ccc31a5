// Song loading speed and memory.
//
//   LoadCorpus/vozaro      every corpus song Vozaro and libsmf both read,
//   LoadCorpus/libsmf      loaded from its file in a loop (bytes/s, events/s)
//   LoadMemory/vozaro      the same songs already in memory
//   LoadMemory/libsmf
//   CommittedMemory16Tracks  a loaded 16-track song: bytes committed and
//                            resident against the bytes reserved
//
// Run: build/…/bench/bench_midi_read  (reads ../shared/corpus at run time)
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "midi/cmpMidiData.h"

#ifdef VOZARO_HAVE_SMF
#include <smf.h>
#endif

using namespace vozaro::midi;
namespace fs = std::filesystem;

namespace {

struct Song {
    std::string path;
    std::vector<std::uint8_t> bytes;
    std::int64_t vozaroEvents = 0;
    std::int64_t smfEvents = 0;
};

#ifdef VOZARO_HAVE_SMF
void quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// libsmf asserts on some malformed songs: try each once in a child process.
bool smfSurvives(const std::string& path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        smf_t* smf = smf_load(path.c_str());
        ::_exit(smf != nullptr ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

std::int64_t countEvents(const TMidiData& song) {
    std::int64_t n = 0;
    for (int t = 0; t < song.TrackCount(); ++t)
        n += song.Tracks(t)->EventCount();
    return n;
}

// The plain songs of the corpus both readers load.
const std::vector<Song>& songs() {
    static const std::vector<Song> list = [] {
        std::vector<Song> out;
        const fs::path files = fs::path(VOZARO_CORPUS_DIR) / "files";
        if (!fs::is_directory(files))
            return out;
#ifdef VOZARO_HAVE_SMF
        g_log_set_default_handler(quiet, nullptr);
#endif
        for (const auto& entry : fs::recursive_directory_iterator(files)) {
            if (!entry.is_regular_file() || entry.path().parent_path().filename() == "rmi")
                continue;
            Song s;
            s.path = entry.path().string();
            TMidiData song;
            song.setFileName(s.path);
            try {
                song.setActive(true);
            } catch (const std::exception&) {
                continue;
            }
            s.vozaroEvents = countEvents(song);
#ifdef VOZARO_HAVE_SMF
            if (!smfSurvives(s.path))
                continue;
            smf_t* smf = smf_load(s.path.c_str());
            s.smfEvents = 0;
            for (int t = 1; t <= smf->number_of_tracks; ++t)
                s.smfEvents += smf_get_track_by_number(smf, t)->number_of_events;
            smf_delete(smf);
#endif
            std::ifstream in(s.path, std::ios::binary);
            s.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            out.push_back(std::move(s));
        }
        return out;
    }();
    return list;
}

template <typename LoadOne>
void runCorpus(benchmark::State& state, bool vozaro, LoadOne loadOne) {
    const auto& list = songs();
    if (list.empty()) {
        state.SkipWithError("corpus folder is absent");
        return;
    }
    std::int64_t bytes = 0, events = 0;
    for (const Song& s : list) {
        bytes += static_cast<std::int64_t>(s.bytes.size());
        events += vozaro ? s.vozaroEvents : s.smfEvents;
    }
    for (auto _ : state) {
        for (const Song& s : list)
            loadOne(s);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["events/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * events), benchmark::Counter::kIsRate);
    state.counters["songs"] = static_cast<double>(list.size());
}

void LoadCorpusVozaro(benchmark::State& state) {
    runCorpus(state, true, [](const Song& s) {
        TMidiData song;
        song.setFileName(s.path);
        song.setActive(true);
        benchmark::DoNotOptimize(song.TrackCount());
    });
}
BENCHMARK(LoadCorpusVozaro)->Name("LoadCorpus/vozaro")->Unit(benchmark::kMillisecond);

void LoadMemoryVozaro(benchmark::State& state) {
    runCorpus(state, true, [](const Song& s) {
        TMidiData song;
        song.loadFromMemory(s.bytes.data(), s.bytes.size());
        benchmark::DoNotOptimize(song.TrackCount());
    });
}
BENCHMARK(LoadMemoryVozaro)->Name("LoadMemory/vozaro")->Unit(benchmark::kMillisecond);

#ifdef VOZARO_HAVE_SMF
void LoadCorpusSmf(benchmark::State& state) {
    runCorpus(state, false, [](const Song& s) {
        smf_t* smf = smf_load(s.path.c_str());
        benchmark::DoNotOptimize(smf);
        smf_delete(smf);
    });
}
BENCHMARK(LoadCorpusSmf)->Name("LoadCorpus/libsmf")->Unit(benchmark::kMillisecond);

void LoadMemorySmf(benchmark::State& state) {
    runCorpus(state, false, [](const Song& s) {
        smf_t* smf = smf_load_from_memory(s.bytes.data(), static_cast<int>(s.bytes.size()));
        benchmark::DoNotOptimize(smf);
        smf_delete(smf);
    });
}
BENCHMARK(LoadMemorySmf)->Name("LoadMemory/libsmf")->Unit(benchmark::kMillisecond);
#endif

// Pages of [base, base + bytes) that are in memory.
std::int64_t residentBytes(const void* base, std::size_t bytes) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> in((bytes + page - 1) / page);
    if (::mincore(const_cast<void*>(base), bytes, in.data()) != 0)
        return -1;
    std::int64_t n = 0;
    for (unsigned char c : in)
        n += c & 1;
    return n * static_cast<std::int64_t>(page);
}

void CommittedMemory16Tracks(benchmark::State& state) {
    std::string path;
    for (const Song& s : songs()) {
        TMidiData song;
        song.loadFromMemory(s.bytes.data(), s.bytes.size());
        if (song.TrackCount() == 16) {
            path = s.path;
            break;
        }
    }
    if (path.empty()) {
        state.SkipWithError("no 16-track song in the corpus");
        return;
    }
    std::int64_t committed = 0, resident = 0, reserved = 0, events = 0;
    for (auto _ : state) {
        TMidiData song;
        song.setFileName(path);
        song.setActive(true);
        committed = resident = reserved = events = 0;
        for (int t = 0; t < song.TrackCount(); ++t) {
            const TMidiTrackStream& track = *song.Tracks(t);
            committed += track.committedSize();
            reserved += track.Capacity();
            resident += residentBytes(track.memory(), static_cast<std::size_t>(track.Capacity()));
            events += track.EventCount();
        }
    }
    state.SetLabel(fs::path(path).filename().string());
    state.counters["reserved_bytes"] = static_cast<double>(reserved);
    state.counters["committed_bytes"] = static_cast<double>(committed);
    state.counters["resident_bytes"] = static_cast<double>(resident);
    state.counters["record_bytes"] = static_cast<double>(events * 15);
}
BENCHMARK(CommittedMemory16Tracks)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
