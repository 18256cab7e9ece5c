// Reads a generated 100 MB CSV file with CSVReader and, as a yardstick, with
// Python's csv module, and prints both speeds and their ratio.

#include "BenchApplication.h"
#include "csv/CSVReader.h"
#include "csv/FileInputStream.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

namespace {

// 100 MB; a few in the quick run.
const long long fileBytes = corvane::bench::quick() ? 2'000'000 : 100'000'000;
const std::filesystem::path benchDirectory = CORVANE_BENCH_TOOLS_DIR;
const std::filesystem::path csvPath = benchDirectory / "csv_reader_bench.csv";
const std::filesystem::path scriptPath = benchDirectory / "csv_reader_bench.py";

long long generatedRows = 0;
long long readerRows = 0;
long long pythonRows = 0;

// The command's first line of output.
std::string firstLine(const std::string &command)
{
    std::string output;
    if (std::FILE *pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        if (std::fgets(buffer, sizeof buffer, pipe))
            output = buffer;
        ::pclose(pipe);
    }
    return output;
}

std::string quoted(const std::filesystem::path &path)
{
    return "'" + path.string() + "'";
}

void BM_CSVReaderFile(benchmark::State &state)
{
    const auto size = static_cast<long long>(std::filesystem::file_size(csvPath));
    for (auto _ : state) {
        auto reader =
            corvane::CSVReader::initWithStream(std::make_shared<corvane::FileInputStream>(csvPath));
        long long rows = 0;
        while (reader.readRow())
            ++rows;
        if (reader.error())
            state.SkipWithError(reader.error()->what());
        readerRows = rows;
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["rows"] = static_cast<double>(readerRows);
}
BENCHMARK(BM_CSVReaderFile)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Times csv.reader over the file opened with newline='' as UTF-8, from inside
// Python so that the interpreter's start is not counted.
void BM_PythonCsvFile(benchmark::State &state)
{
    const auto size = static_cast<long long>(std::filesystem::file_size(csvPath));
    for (auto _ : state) {
        const std::string output =
            firstLine("python3 " + quoted(scriptPath) + " " + quoted(csvPath));
        double seconds = 0;
        long long rows = 0;
        if (std::sscanf(output.c_str(), "%lf %lld", &seconds, &rows) != 2) {
            state.SkipWithError("python3 gave no timing");
            break;
        }
        state.SetIterationTime(seconds);
        pythonRows = rows;
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["rows"] = static_cast<double>(pythonRows);
}
BENCHMARK(BM_PythonCsvFile)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// Keeps each benchmark's seconds per pass besides showing the usual table.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    // Coloured only on a terminal, as the library's own reporter is: a saved
    // run holds figures, not escape codes.
    RecordingReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (!run.error_occurred && run.iterations > 0)
                secondsPerPass[run.run_name.function_name] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> secondsPerPass;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    std::ofstream(scriptPath) << "import csv, sys, time\n"
                                 "start = time.perf_counter()\n"
                                 "rows = 0\n"
                                 "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                 "    for row in csv.reader(f):\n"
                                 "        rows += 1\n"
                                 "print(time.perf_counter() - start, rows)\n";
    const std::string generated =
        firstLine(quoted(benchDirectory / "benchtool_csv_generate") + " " + quoted(csvPath) + " " +
                  std::to_string(fileBytes));
    generatedRows = std::atoll(generated.c_str());
    if (generatedRows <= 0) {
        std::fprintf(stderr, "could not generate %s\n", csvPath.c_str());
        return 1;
    }

    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double megabytes = static_cast<double>(std::filesystem::file_size(csvPath)) / 1e6;
    std::filesystem::remove(csvPath);
    std::filesystem::remove(scriptPath);
    const auto ours = reporter.secondsPerPass.find("BM_CSVReaderFile");
    const auto python = reporter.secondsPerPass.find("BM_PythonCsvFile");
    if (ours == reporter.secondsPerPass.end() || python == reporter.secondsPerPass.end())
        return 0; // filtered out, or a run failed: the table says which
    const double oursRate = megabytes / ours->second;
    const double pythonRate = megabytes / python->second;
    std::printf("CSV file of %.1f MB, %lld rows (CSVReader read %lld, Python %lld)\n", megabytes,
                generatedRows, readerRows, pythonRows);
    std::printf("  CSVReader:  %8.1f MB/s\n  Python csv: %8.1f MB/s\n  ratio:      %8.1fx\n",
                oursRate, pythonRate, oursRate / pythonRate);
    return readerRows == pythonRows ? 0 : 1;
}
