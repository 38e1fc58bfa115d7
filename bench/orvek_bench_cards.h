// The two Orvek cards the Orvek benchmarks run against, served for the whole run together with
// an empty host service. How they are served is the platform's part: device objects of the
// benchmark's own on Linux, which also count identity requests; the simulation's kernel-mode
// driver on Windows, whose device objects are the machine's (one simulation at a time).
#pragma once

#include <memory>
#include <optional>

namespace crvmon::bench {

class OrvekBenchCards {
  public:
    // Throws when the cards cannot be served.
    OrvekBenchCards();
    ~OrvekBenchCards();
    OrvekBenchCards(const OrvekBenchCards&) = delete;
    OrvekBenchCards& operator=(const OrvekBenchCards&) = delete;

    // Identity requests both cards have answered so far; none where the driver does not count.
    std::optional<long> identityRequests() const;

  private:
    struct Served;
    std::unique_ptr<Served> served_;
};

}  // namespace crvmon::bench
