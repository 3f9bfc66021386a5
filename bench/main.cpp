// Runs the benchmarks, then sets each candidate against the baseline that
// was measured in the same run and says whether it meets its target.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include <unistd.h>

namespace {

struct Comparison {
    const char* candidate;
    const char* baseline; // empty: the target is an absolute time
    double target;        // ratio, or nanoseconds when there is no baseline
    const char* what;
};

const Comparison comparisons[] = {
    {"BM_SealFrame/150000", "BM_RawChaCha20Poly1305/150000", 1.10,
     "seal + frame 150 KB vs raw OpenSSL"},
    {"BM_SealFrame/100", "BM_RawChaCha20Poly1305/100", 0, "seal + frame 100 B vs raw OpenSSL"},
    {"BM_DecodeRun", "", 5000, "decode a run message (ns)"},
    {"BM_DecodeRun", "BM_ParseRunJsonOnly", 0, "decode a run vs bare JSON parse"},
};

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    explicit CollectingReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        // With repetitions, the median stands for the benchmark: a 2-core
        // machine is rarely quiet for a whole run.
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && !m_medians.count(run.run_name.str()))
                m_nanos[run.run_name.str()] = run.GetAdjustedRealTime();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                m_medians.insert(run.run_name.str());
                m_nanos[run.run_name.str()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printComparisons() const
    {
        std::printf("\n%-44s %12s %10s\n", "comparison", "figure", "target");
        for (const auto& c : comparisons) {
            auto candidate = m_nanos.find(c.candidate);
            if (candidate == m_nanos.end())
                continue;
            if (c.baseline[0] == '\0') {
                std::printf("%-44s %10.0fns %8.0fns %s\n", c.what, candidate->second, c.target,
                            candidate->second <= c.target ? "met" : "MISSED");
                continue;
            }
            auto baseline = m_nanos.find(c.baseline);
            if (baseline == m_nanos.end())
                continue;
            double ratio = candidate->second / baseline->second;
            if (c.target > 0)
                std::printf("%-44s %11.3fx %9.2fx %s\n", c.what, ratio, c.target,
                            ratio <= c.target ? "met" : "MISSED");
            else
                std::printf("%-44s %11.3fx %10s\n", c.what, ratio, "-");
        }
    }

private:
    std::map<std::string, double> m_nanos;
    std::set<std::string> m_medians;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // Colours only for a person at a terminal, not in logs.
    CollectingReporter reporter(::isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                        : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printComparisons();
    benchmark::Shutdown();
    return 0;
}
