#include "table_reporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kBaseline = "_Baseline";

struct Timed {
  int64_t order;  // of registration
  std::string name;
  double seconds = 0;  // per iteration; negative when the case failed
  std::string error;
};

std::string Time(double seconds) {
  char text[32];
  if (seconds >= 1e-3) {
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
  }
  return text;
}

// Without the suffixes of the timer and the statistic.
std::string Name(const benchmark::BenchmarkReporter::Run& run) {
  const std::string& args = run.run_name.args;
  return args.empty() ? run.run_name.function_name : run.run_name.function_name + "/" + args;
}

class TableReporter : public benchmark::BenchmarkReporter {
 public:
  explicit TableReporter(const std::string& heading) : heading_(heading) {}

  bool ReportContext(const Context&) override { return true; }

  // With repetitions only the median counts; a single run stands for itself.
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (!median && !single && !run.error_occurred) continue;
      if (run.error_occurred) {
        failed_ = true;
        if (!timed_.empty() && timed_.back().name == Name(run)) continue;  // one line per case
        timed_.push_back({run.family_index, Name(run), -1, run.error_message});
        continue;
      }
      repetitions_ = run.repetitions;
      timed_.push_back(
          {run.family_index, Name(run), run.real_accumulated_time / static_cast<double>(run.iterations), {}});
    }
  }

  // Repetitions may run interleaved, so cases finish in any order.
  void Finalize() override {
    std::stable_sort(timed_.begin(), timed_.end(), [](const Timed& a, const Timed& b) { return a.order < b.order; });
    std::printf("%s\n", heading_.c_str());
    if (repetitions_ > 1) std::printf("median of %lld runs per case; ", static_cast<long long>(repetitions_));
    std::printf("ratio = time / baseline's time\n\n");
    int caseWidth = 4, howWidth = 8;
    for (const Timed& t : timed_) {
      size_t at = t.name.find(kBaseline);
      if (at == std::string::npos) {
        caseWidth = std::max(caseWidth, static_cast<int>(t.name.size()));
      } else {
        howWidth = std::max(howWidth, static_cast<int>(t.name.size() - at - kBaseline.size()));
      }
    }
    std::printf("%-*s %11s   %-*s %11s %6s\n", caseWidth, "case", "time", howWidth, "baseline", "time", "ratio");
    for (const Timed& t : timed_) {
      if (t.name.find(kBaseline) != std::string::npos) continue;
      if (t.seconds < 0) {
        std::printf("%-*s failed: %s\n", caseWidth, t.name.c_str(), t.error.c_str());
        continue;
      }
      const Timed* base = BaselineOf(t.name);
      if (base == nullptr || base->seconds < 0) {
        std::printf("%-*s %11s\n", caseWidth, t.name.c_str(), Time(t.seconds).c_str());
        continue;
      }
      std::string how = base->name.substr(base->name.find(kBaseline) + kBaseline.size());
      std::printf("%-*s %11s   %-*s %11s %6.2f\n", caseWidth, t.name.c_str(), Time(t.seconds).c_str(), howWidth,
                  how.c_str(), Time(base->seconds).c_str(), t.seconds / base->seconds);
    }
    std::fflush(stdout);
  }

  bool Failed() const { return failed_; }

 private:
  // The baseline of the longest work that names the case: Snapshot_1080's
  // serves Snapshot_1080_Mirrored, but Snapshot_10's would not.
  const Timed* BaselineOf(const std::string& name) const {
    const Timed* best = nullptr;
    size_t bestLength = 0;
    for (const Timed& t : timed_) {
      size_t at = t.name.find(kBaseline);
      if (at == std::string::npos || at < bestLength) continue;
      std::string_view work(t.name.data(), at);
      if (name.compare(0, at, work) == 0 && (name.size() == at || name[at] == '_')) {
        best = &t;
        bestLength = at;
      }
    }
    return best;
  }

  std::string heading_;
  std::vector<Timed> timed_;
  int64_t repetitions_ = 1;
  bool failed_ = false;
};

}  // namespace

int RunAsTable(int argc, char** argv, const std::string& heading) {
  // Defaults first, so that the caller's own flags win.
  std::vector<std::string> words{argv[0],
                                 "--benchmark_repetitions=15",
                                 "--benchmark_min_time=0.05",
                                 "--benchmark_min_warmup_time=0.05",
                                 "--benchmark_report_aggregates_only=true",
                                 "--benchmark_enable_random_interleaving=true"};
  words.insert(words.end(), argv + 1, argv + argc);
  std::vector<char*> args;
  for (std::string& w : words) args.push_back(w.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
  TableReporter table(heading);
  benchmark::RunSpecifiedBenchmarks(&table);
  benchmark::Shutdown();
  return table.Failed() ? 1 : 0;
}
