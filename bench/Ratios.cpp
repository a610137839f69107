#include "Ratios.h"

#include <algorithm>
#include <cstdio>

bool IsBaseline(const std::string& impl) {
  return impl == "std" || impl == "fwrite" || impl == "direct" || impl == "bare" ||
         impl == "peer" || impl == "unjournaled" || impl == "load" || impl == "random";
}

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    // With repetitions, the median of each side: this machine is shared.
    const bool repeated = run.repetitions > 1;
    if (run.error_occurred) continue;
    if (repeated ? run.aggregate_name != "median" : run.run_type != Run::RT_Iteration) continue;
    // "<what>/<size>/<impl>", perhaps followed by the library's own parts.
    const std::string name = run.run_name.str();
    const size_t first = name.find('/');
    const size_t second = name.find('/', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string group = name.substr(0, second);
    Side side{name.substr(second + 1, name.find('/', second + 1) - second - 1), 0, "time"};
    auto bytes = run.counters.find("bytes/entry");
    if (bytes != run.counters.end()) {
      side.value = bytes->second.value;
      side.unit = "bytes/entry";
    } else {
      side.value = run.GetAdjustedRealTime();
    }
    if (!m_cases.count(group)) m_order.push_back(group);
    m_cases[group].push_back(side);
  }
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  std::printf("\n%-28s %-8s %-8s %14s %14s %8s\n", "case", "subject", "baseline", "subject",
              "baseline", "ratio");
  for (const std::string& group : m_order) {
    const auto& sides = m_cases[group];
    auto base =
        std::find_if(sides.begin(), sides.end(), [](const Side& s) { return IsBaseline(s.impl); });
    if (base == sides.end()) continue;
    for (const Side& s : sides) {
      if (IsBaseline(s.impl)) continue;
      std::printf("%-28s %-8s %-8s %14.1f %14.1f %7.2fx  %s\n", group.c_str(), s.impl.c_str(),
                  base->impl.c_str(), s.value, base->value, s.value / base->value,
                  s.unit == "time" ? "(per iteration)" : s.unit.c_str());
    }
  }
}
