// The console report, followed by one benchmark's time over another's, measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    RatioReporter(std::string measured, std::string baseline, std::string label) {
        addRatio(std::move(measured), std::move(baseline), std::move(label));
    }
    void addRatio(std::string measured, std::string baseline, std::string label) {
        ratios_.push_back({std::move(measured), std::move(baseline), std::move(label)});
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n");
        for (const Ratio& ratio : ratios_) {
            auto measured = times_.find(ratio.measured);
            auto baseline = times_.find(ratio.baseline);
            if (measured != times_.end() && baseline != times_.end() && baseline->second > 0) {
                std::printf("%s = %.3f\n", ratio.label.c_str(),
                            measured->second / baseline->second);
            }
        }
    }

  private:
    struct Ratio {
        std::string measured, baseline, label;
    };
    std::vector<Ratio> ratios_;
    std::map<std::string, double> times_;
};
