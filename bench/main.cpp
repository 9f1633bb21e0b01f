// SPDX-License-Identifier: MIT
// Runs the benchmarks, then prints each one's time against its baseline.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

class ratio_reporter : public benchmark::ConsoleReporter {
 public:
  ratio_reporter() : ConsoleReporter(isatty(STDOUT_FILENO) != 0 ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With repetitions the median stands for the benchmark, else the one run.
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (median || (run.run_type == Run::RT_Iteration && run.repetitions <= 1)) {
        times_[key_of(run.run_name.str())] = run.GetAdjustedRealTime();
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-40s %10s\n", "benchmark", "ours/baseline");
    for (const auto& [name, time] : times_) {
      const std::size_t slash = name.find('/');
      const std::string baseline = name.substr(0, slash) + "_baseline" + name.substr(slash);
      const auto it = times_.find(baseline);
      if (it != times_.end()) {
        std::printf("%-40s %10.2f\n", name.c_str(), time / it->second);
      }
    }
  }

 private:
  // "name/size" without the "/manual_time" mark.
  static std::string key_of(std::string name) {
    const std::size_t mark = name.find("/manual_time");
    if (mark != std::string::npos) {
      name.erase(mark);
    }
    return name;
  }

  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  ratio_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
