// Measures the card-file operations against what the file system needs for the same work and
// against SQLite, and the search into the results grid against a bare scan, then prints one
// RATIO line per comparison and one MEMORY line per card-file operation and size, and per size
// of an import.
//
// Besides Google Benchmark's own flags it takes none. The ratios use the median time of each
// benchmark's repetitions.

#include "benchmarks.h"
#include "import_bench.h"
#include "workspace.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Hands every report on to the reporter chosen by --benchmark_format and keeps, per benchmark,
// the real time per iteration of each repetition.
class CollectingReporter : public benchmark::BenchmarkReporter {
public:
    explicit CollectingReporter(std::unique_ptr<benchmark::BenchmarkReporter> inner)
        : inner_(std::move(inner)) {}

    bool ReportContext(const Context &context) override { return inner_->ReportContext(context); }

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0)
                seconds_[run.run_name.function_name].push_back(run.real_accumulated_time /
                                                               double(run.iterations));
        }
        inner_->ReportRuns(runs);
    }

    void Finalize() override { inner_->Finalize(); }

    // The median time per iteration, in seconds, or a negative value when it did not run.
    double median(const std::string &name) const {
        const auto it = seconds_.find(name);
        if (it == seconds_.end() || it->second.empty())
            return -1;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        const std::size_t m = v.size() / 2;
        return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
    }

    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto &[name, times] : seconds_)
            out.insert(name);
        return out;
    }

private:
    std::unique_ptr<benchmark::BenchmarkReporter> inner_;
    std::map<std::string, std::vector<double>> seconds_;
};

bool hasFlag(int argc, char **argv, const char *flag) {
    const std::size_t length = std::strlen(flag);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], flag, length) == 0 &&
            (argv[i][length] == '=' || argv[i][length] == '\0'))
            return true;
    }
    return false;
}

std::string flagValue(int argc, char **argv, const char *flag, const std::string &fallback) {
    const std::string prefix = std::string(flag) + '=';
    for (int i = argc - 1; i >= 1; --i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0)
            return argv[i] + prefix.size();
    }
    return fallback;
}

std::unique_ptr<benchmark::BenchmarkReporter> displayReporter(int argc, char **argv) {
    const std::string format = flagValue(argc, argv, "--benchmark_format", "console");
    if (format == "json")
        return std::make_unique<benchmark::JSONReporter>();
    if (format == "csv") {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        return std::make_unique<benchmark::CSVReporter>();
#pragma GCC diagnostic pop
    }
    const std::string color = flagValue(argc, argv, "--benchmark_color", "auto");
    const char *term = std::getenv("TERM");
    const bool colored =
        color == "true" || color == "yes" || color == "1" ||
        (color == "auto" && ::isatty(STDOUT_FILENO) && term && std::strcmp(term, "dumb") != 0);
    auto options = benchmark::ConsoleReporter::OO_Tabular;
    if (colored)
        options = benchmark::ConsoleReporter::OO_ColorTabular;
    return std::make_unique<benchmark::ConsoleReporter>(options);
}

} // namespace

int main(int argc, char **argv) {
    // The windows are real but never need a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MERIDOC"));

    // Defaults that keep the whole run within about three minutes on a small, shared machine:
    // several short repetitions of every benchmark, interleaved at random, so that a spell of
    // disk or processor load elsewhere falls on the program and its references alike and the
    // medians compare like with like. Flags given on the command line win.
    std::vector<std::string> defaults = {"--benchmark_min_time=0.05", "--benchmark_repetitions=21",
                                         "--benchmark_enable_random_interleaving=true"};
    std::vector<char *> args(argv, argv + argc);
    for (std::string &flag : defaults) {
        if (!hasFlag(argc, argv, flag.substr(0, flag.find('=')).c_str()))
            args.insert(args.begin() + 1, flag.data());
    }
    int count = int(args.size());
    args.push_back(nullptr);

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    bench::Workspace workspace;
    bench::registerBenchmarks(workspace);
    bench::prepareFixtures(workspace, benchmark::GetBenchmarkFilter());
    CollectingReporter reporter(displayReporter(argc, argv));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::cout.flush();
    bench::printPeakMemory(workspace, reporter.names(), std::cout);
    bench::printImportMemory(workspace, reporter.names(), std::cout);
    for (const bench::Comparison &c : bench::comparisons()) {
        const double top = reporter.median(c.numerator);
        const double bottom = reporter.median(c.denominator);
        if (top < 0 || bottom <= 0)
            continue;
        char line[160];
        std::snprintf(line, sizeof line, "RATIO op=%s n=%d vs=%s value=%.2f", c.op.c_str(), c.n,
                      c.vs.c_str(), top / bottom);
        std::cout << line << '\n';
    }
    return 0;
}
