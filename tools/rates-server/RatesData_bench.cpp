// Figures of the bundled history: the time to load it (read, unpack, parse),
// the time from nothing to the first page, the time of one page answered
// from it (RatesOn + RatesPage), and the resident memory with it loaded.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "tools/rates-server/RatesData.h"
#include "tools/rates-server/RatesPages.h"

namespace {

using rates::Date;
using rates::RatesData;

// A line of /proc/self/status in megabytes ("VmRSS", "VmHWM").
double StatusMegabytes(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    double mb = -1;
    const std::size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, field, n) == 0 && line[n] == ':')
            mb = std::atof(line + n + 1) / 1024.0;  // kB
    std::fclose(f);
    return mb;
}

const RatesData& History() {
    static const RatesData data = RatesData::Load(KURS_RATES_HISTORY);
    return data;
}

// Resident memory of the process before and with the history loaded, first of
// all, so that no earlier load has grown the heap.
void BM_MemoryWithHistory(benchmark::State& state) {
    const double before = StatusMegabytes("VmRSS");
    const auto& data = History();
    for (auto _ : state)
        benchmark::DoNotOptimize(data.Last());
    state.counters["RSS_MB_before"] = before;
    state.counters["RSS_MB_loaded"] = StatusMegabytes("VmRSS");
    state.counters["peak_RSS_MB"] = StatusMegabytes("VmHWM");
}
BENCHMARK(BM_MemoryWithHistory)->Iterations(1);

void BM_Load(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(RatesData::Load(KURS_RATES_HISTORY));
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

// What a server does before its first answer.
void BM_LoadAndFirstPage(benchmark::State& state) {
    for (auto _ : state) {
        const auto data = RatesData::Load(KURS_RATES_HISTORY);
        const auto table = data.RatesOn({2000, 12, 7});
        benchmark::DoNotOptimize(rates::RatesPage(&*table, {2000, 12, 7}));
    }
}
BENCHMARK(BM_LoadAndFirstPage)->Unit(benchmark::kMillisecond);

void BM_Page(benchmark::State& state, Date date) {
    const auto& data = History();
    for (auto _ : state) {
        const auto table = data.RatesOn(date);
        benchmark::DoNotOptimize(rates::RatesPage(table ? &*table : nullptr, date));
    }
}
BENCHMARK_CAPTURE(BM_Page, 07_12_2000, Date{2000, 12, 7})->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Page, 15_06_1995, Date{1995, 6, 15})->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Page, 30_12_2023, Date{2023, 12, 30})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
