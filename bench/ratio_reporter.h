// The console report, followed by one benchmark's time over another's, measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter(std::string measured, std::string baseline, std::string label)
        : measured_(std::move(measured)), baseline_(std::move(baseline)), label_(std::move(label)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        auto measured = times_.find(measured_);
        auto baseline = times_.find(baseline_);
        if (measured != times_.end() && baseline != times_.end() && baseline->second > 0) {
            std::printf("\n%s = %.3f\n", label_.c_str(), measured->second / baseline->second);
        }
    }

private:
    std::string measured_, baseline_, label_;
    std::map<std::string, double> times_;
};
