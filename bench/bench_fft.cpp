// The spectrum's transform of the longest block (8192 points) against a direct Fourier
// transform of the same points, in the same run; the ratio of their median times is printed
// at the end.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "display/fourier.h"

namespace {

constexpr int kPoints = 8192;

std::vector<double> signal() {
    std::vector<double> values(kPoints);
    uint32_t x = 12345;
    for (auto& v : values) {
        x = x * 1664525 + 1013904223;
        v = static_cast<double>(static_cast<int32_t>(x >> 20) - 2048);
    }
    return values;
}

void BM_Fourier8192(benchmark::State& state) {
    const auto in = signal();
    const std::vector<double> zeros(kPoints, 0.0);
    std::vector<double> re(kPoints), im(kPoints);
    for (auto _ : state) {
        auto error = velkantor::display::Fourier(kPoints, in.data(), zeros.data(), re.data(),
                                                 im.data(), false);
        benchmark::DoNotOptimize(error);
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_Fourier8192)->Unit(benchmark::kMicrosecond)->Repetitions(5);

// The reference: every output summed from every input, with the twiddles tabled once so that
// the sums, not the sines, are timed.
void BM_DirectTransform8192(benchmark::State& state) {
    const auto in = signal();
    std::vector<double> cosines(kPoints), sines(kPoints);
    for (int k = 0; k < kPoints; ++k) {
        cosines[k] = std::cos(2 * std::numbers::pi * k / kPoints);
        sines[k] = std::sin(2 * std::numbers::pi * k / kPoints);
    }
    std::vector<double> re(kPoints), im(kPoints);
    for (auto _ : state) {
        for (int k = 0; k < kPoints; ++k) {
            double sum_re = 0;
            double sum_im = 0;
            for (int n = 0; n < kPoints; ++n) {
                const int t = (n * k) & (kPoints - 1);
                sum_re += in[n] * cosines[t];
                sum_im += in[n] * sines[t];
            }
            re[k] = sum_re;
            im[k] = sum_im;
        }
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_DirectTransform8192)->Unit(benchmark::kMillisecond)->Repetitions(5);

// Shows the runs as usual and keeps the medians for the ratio.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        for (const auto& run : reports) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                // Seconds, whatever unit the benchmark reports in.
                medians[run.run_name.function_name] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
            }
        }
        ConsoleReporter::ReportRuns(reports);
    }
    std::map<std::string, double> medians;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    auto fast = reporter.medians.find("BM_Fourier8192");
    auto direct = reporter.medians.find("BM_DirectTransform8192");
    if (fast != reporter.medians.end() && direct != reporter.medians.end() && fast->second > 0) {
        std::printf("direct transform / Fourier, 8192 points, median of repetitions: %.0f\n",
                    direct->second / fast->second);
    }
    return 0;
}
