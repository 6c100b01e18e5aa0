// `plimo-server --export-usage` over a year of a busy company: 100,000
// sessions, each with its helper's report, written as CSV and as JSON.

#include <benchmark/benchmark.h>

#include <sstream>

#include "server/ServerStore.h"
#include "server/UsageExport.h"

using namespace plimo;

namespace {

constexpr int kSessions = 100000;
constexpr int64_t kStart = 1796774400;

ServerStore& store() {
  static std::unique_ptr<ServerStore> s = [] {
    std::unique_ptr<ServerStore> made = std::move(*ServerStore::open(":memory:"));
    for (int i = 0; i < kSessions; ++i) {
      std::string viewer = std::to_string(100000000 + i % 50);
      int64_t row = made->startUsage(viewer, std::to_string(200000000 + i), "V", kStart + i * 300).valueOr(0);
      (void)made->endUsage(row, 600);
      ServerStore::Report r;
      r.reporterID = viewer;
      r.msgID = std::to_string(row);
      r.ref = std::to_string(row);
      r.pcName = "Front desk, floor 2";
      r.helperName = "Anna";
      r.customer = "=ACME";
      r.contact = "bea@acme.test";
      r.minutes = 15;
      r.description = "Printer fixed \"v2\"\ndriver updated";
      (void)made->addReport(r, kStart + i * 300 + 700);
    }
    return made;
  }();
  return *s;
}

void exportAll(benchmark::State& state, UsageExport::Format format) {
  ServerStore& s = store();
  size_t bytes = 0;
  for (auto _ : state) {
    std::ostringstream out;
    (void)UsageExport::write(s, kStart, kStart + int64_t(kSessions) * 300, format, out);
    bytes += out.str().size();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSessions);
  state.SetBytesProcessed(int64_t(bytes));
}

void BM_ExportCsv(benchmark::State& state) { exportAll(state, UsageExport::Format::csv); }
void BM_ExportJson(benchmark::State& state) { exportAll(state, UsageExport::Format::json); }
BENCHMARK(BM_ExportCsv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportJson)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
