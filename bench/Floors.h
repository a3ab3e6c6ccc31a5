// What the benchmarks measure their operations against: the floors, and the
// report that puts each operation beside its floor.
#pragma once

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Reads a whole file once (from the page cache after the first time);
// returns the bytes read.
inline size_t readWhole(const std::filesystem::path& path) {
    static std::vector<char> buffer(1 << 20);
    int fd = ::open(path.c_str(), O_RDONLY);
    size_t total = 0;
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
        total += static_cast<size_t>(n);
    ::close(fd);
    return total;
}

// The console report of a benchmark program, followed by a table that puts
// each operation beside what it is measured against (a floor it cannot beat,
// or the reference its target names), with the ratio of the two.
class FloorReporter : public benchmark::ConsoleReporter {
public:
    // Pairs of full benchmark names: {operation, floor}.
    explicit FloorReporter(std::vector<std::pair<std::string, std::string>> pairs) : pairs_(std::move(pairs)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            millis_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-44s %10s  %-36s %10s  %6s\n", "operation", "ms", "floor", "ms", "ratio");
        for (const auto& [operation, floor] : pairs_) {
            if (!millis_.count(operation) || !millis_.count(floor))
                continue;
            double op = millis_[operation], fl = millis_[floor];
            std::printf("%-44s %10.2f  %-36s %10.3f  %6.2f\n", operation.c_str(), op, floor.c_str(), fl, op / fl);
        }
    }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
    std::map<std::string, double> millis_;
};
