// Benchmarks come in pairs named "<case>/<impl>": the subject ("pool",
// "native", "index") and its baseline on the same data. The reporter prints
// the usual lines and, at the end, subject / baseline for every case, so that
// both sides of a ratio come from one run on the same machine.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  struct Side {
    std::string impl;
    double value;  // ns per iteration, or the "bytes/entry" counter
    std::string unit;
  };
  std::vector<std::string> m_order;
  std::map<std::string, std::vector<Side>> m_cases;
};

// Baselines are registered with these implementation names.
bool IsBaseline(const std::string& impl);
