// Parses a 100,000-point GPX track into locations, the file read and every
// allocation included; and a file whose one tag holds many distinct
// attributes, whose cost should grow at most eightfold with its size: short
// ones, millions of them (8 and 64 MiB), read or refused as too large, and
// long ones of 200 bytes (1 and 8 MiB), read. scripts/bench-gpx hands it a
// generated file in CORVANE_BENCH_GPX and times Python's gpxpy on the same
// file; run alone, it generates the file itself. With "--once" it parses the file a single time
// in this fresh process and prints the milliseconds: every page of memory
// is then new, as for the first route a program opens.

#include "location/GPXParser.h"

#include <benchmark/benchmark.h>

#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>

namespace {

constexpr long trackPoints = 100'000;
const std::filesystem::path benchDirectory = CORVANE_BENCH_TOOLS_DIR;
std::filesystem::path gpxPath;

void BM_GPXParserFile(benchmark::State &state)
{
    std::size_t points = 0;
    for (auto _ : state) {
        corvane::GPXParser parser(gpxPath);
        const corvane::GPXParser::Result result = parser.parse();
        points = result.locations.size();
        benchmark::DoNotOptimize(result.locations.data());
    }
    if (points != std::size_t(trackPoints))
        state.SkipWithError("the track did not give every point");
    state.SetBytesProcessed(state.iterations() *
                            static_cast<long long>(std::filesystem::file_size(gpxPath)));
    state.counters["points"] = static_cast<double>(points);
}
BENCHMARK(BM_GPXParserFile)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_GPXAttributes(benchmark::State &state)
{
    const std::filesystem::path path =
        benchDirectory / ("gpx_attributes_" + std::to_string(state.range(0)) + "_" +
                          std::to_string(state.range(1)) + ".gpx");
    const std::size_t bytes = std::size_t(state.range(0)) << 20;
    const std::string padding(std::size_t(state.range(1)), 'x');
    if (!std::filesystem::exists(path)) {
        std::string text = "<gpx><trk";
        text.reserve(bytes + 64);
        for (long i = 0; text.size() < bytes; ++i)
            text += " a" + std::to_string(i) + padding + "=\"1" + padding + "\"";
        text += "/></gpx>";
        std::FILE *file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
            std::fclose(file) != 0) {
            state.SkipWithError("could not write the file");
            return;
        }
    }
    bool refused = false;
    for (auto _ : state) {
        corvane::GPXParser parser(path);
        try {
            benchmark::DoNotOptimize(parser.parse().locations.size());
        } catch (const std::bad_alloc &) {
            refused = true;
        }
    }
    state.SetLabel(refused ? "refused" : "read");
    state.SetBytesProcessed(state.iterations() *
                            static_cast<long long>(std::filesystem::file_size(path)));
    std::filesystem::remove(path);
}
BENCHMARK(BM_GPXAttributes)
    ->Args({8, 0})
    ->Args({64, 0})
    ->Args({1, 100})
    ->Args({8, 100})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

int parseOnce(const char *path)
{
    const auto start = std::chrono::steady_clock::now();
    corvane::GPXParser parser{std::filesystem::path(path)};
    const std::size_t points = parser.parse().locations.size();
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    std::printf("%.2f %zu\n", elapsed.count(), points);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::string_view(argv[1]) == "--once")
        return parseOnce(argv[2]);
    benchmark::Initialize(&argc, argv);
    bool generated = false;
    if (const char *given = std::getenv("CORVANE_BENCH_GPX"); given && *given) {
        gpxPath = given;
    } else {
        gpxPath = benchDirectory / "gpx_parser_bench.gpx";
        const std::string command = "'" + (benchDirectory / "benchtool_gpx_generate").string() +
                                    "' '" + gpxPath.string() + "' " + std::to_string(trackPoints) +
                                    " > /dev/null";
        generated = std::system(command.c_str()) == 0;
        if (!generated) {
            std::fprintf(stderr, "could not generate %s\n", gpxPath.c_str());
            return 1;
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (generated)
        std::filesystem::remove(gpxPath);
    return 0;
}
