// The guests' search on a full catalogue (99,999 songs), and the web
// server's memory under attack.
//
// FloorReadAlbum: reading the album file once (page cache); BuildSongIndex:
// reading it into the in-memory list with every entry's search key, measured
// against that floor.  Search: one search of the JSON interface (the list
// kept, the answer built), over a round of typical queries; counters p50_ms,
// p99_ms and max_ms over 300 searches.
//
// MemoryUnderAttack: the web server on 127.0.0.1 while 500 connections
// (from 63 addresses) each send half a request and wait, and one more,
// opened first, declares a body of 100 MB and sends it as fast as the server
// takes it;
// rss_growth_mb and peak_growth_mb: the program's resident memory (now, and
// at its peak) after 3 s, less before; accepted: the connections the
// server kept; body_sent_kb: how much of the body it took before it closed.
#include <QCoreApplication>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "BigCatalogue.h"
#include "Floors.h"
#include "support/FakeHttpService.h"
#include "phone/PhoneApi.h"

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
    RequestQueue queue;
    SongSnapshots songs;
    PhoneRequests requests(songs, queue, nullptr, [] { return std::int64_t{0}; });
    std::int64_t now = 0;  // a second between searches: none is refused
    PhoneApi api(requests, [&now] { return now += 1000; });
    songs.refresh();
    const auto handler = [&api](const vozaro::platform::HttpRequest& r, vozaro::platform::HttpResponder respond) {
        api.handle(r, std::move(respond));
    };
    const char* const queries[] = {"cafe", "coracao saudade", "SÃO JOÃO", "00042", "banda", "lua de mar 7",
                                   "", "nada disso", "aguas", "amor amor"};
    std::vector<double> ms;
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (int i = 0; i < 300; ++i) {
            const char* q = queries[i % std::size(queries)];
            const auto start = std::chrono::steady_clock::now();
            const auto response = vozaro::platform::answerOf(handler, {"GET", QStringLiteral("/api/musicas"),
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

// The program's resident memory and its peak, in kB.
std::pair<long, long> residentKb() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    long rss = 0, peak = 0;
    char line[256];
    while (status && std::fgets(line, sizeof line, status)) {
        std::sscanf(line, "VmRSS: %ld", &rss);
        std::sscanf(line, "VmHWM: %ld", &peak);
    }
    if (status)
        std::fclose(status);
    return {rss, peak};
}

// A client socket from `from` to 127.0.0.1:`port`; -1 when it fails.
int connectFrom(const char* from, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

void MemoryUnderAttack(benchmark::State& state) {
    RequestQueue queue;
    SongSnapshots songs;
    PhoneRequests requests(songs, queue, nullptr, PhoneApi::steadyMs);
    PhoneApi api(requests);
    auto server = vozaro::platform::makeHttpService(
        [&api](const vozaro::platform::HttpRequest& r, vozaro::platform::HttpResponder respond) {
            api.handle(r, std::move(respond));
        },
        PhoneApi::refusal);
    int port = 0;
    for (int first = 24000; first < 60000 && port == 0; first += 10)
        port = server->listen(first, first + 9, true);
    if (port == 0) {
        state.SkipWithError("no free port on 127.0.0.1");
        return;
    }
    const auto before = residentKb();
    std::vector<int> idle;
    std::size_t sentBytes = 0;
    for (auto _ : state) {
        const int big = connectFrom("127.0.6.1", port);
        for (int i = 0; i < 500; ++i) {
            const std::string from = "127.0.5." + std::to_string(1 + i / 8);
            const int fd = connectFrom(from.c_str(), port);
            if (fd >= 0) {
                ::send(fd, "GET /api/fila HTTP/1.1\r\nHost: v", 32, MSG_NOSIGNAL);
                idle.push_back(fd);
            }
        }
        const std::string head = "POST /api/pedidos HTTP/1.1\r\nHost: v\r\nContent-Length: 104857600\r\n\r\n";
        ::send(big, head.data(), head.size(), MSG_NOSIGNAL);
        timeval wait{3, 0};
        ::setsockopt(big, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        std::vector<char> chunk(1 << 20, 'a');
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (sentBytes < (std::size_t{100} << 20) && std::chrono::steady_clock::now() < end) {
            const ssize_t n = ::send(big, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sentBytes += static_cast<std::size_t>(n);
        }
        std::this_thread::sleep_until(end);
        ::close(big);
    }
    const auto after = residentKb();
    // The connections the server kept: those it has not closed.
    int accepted = 0;
    for (int fd : idle) {
        char byte;
        const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
        accepted += n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 1 : 0;
        ::close(fd);
    }
    server->close();
    state.counters["rss_growth_mb"] = static_cast<double>(after.first - before.first) / 1024;
    state.counters["peak_growth_mb"] = static_cast<double>(after.second - before.second) / 1024;
    state.counters["accepted"] = accepted;
    state.counters["body_sent_kb"] = static_cast<double>(sentBytes) / 1024;
}
BENCHMARK(MemoryUnderAttack)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

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
