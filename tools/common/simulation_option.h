// --simulate [--scenario FILE]: run against a simulated machine served inside this process.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

namespace crvmon::tools {

class SimulationOption {
  public:
    class Running {
      public:
        virtual ~Running() = default;
        // The folder the simulation serves under (empty on Windows), for a process that must
        // end without destroying the simulation to remove.
        virtual const std::string& objectRoot() const = 0;
    };

    explicit SimulationOption(CLI::App& app);
    // Starts the simulation when asked for; null otherwise. Throws when it cannot start.
    std::unique_ptr<Running> start() const;

  private:
    bool simulate_ = false;
    std::string scenario_;
};

}  // namespace crvmon::tools
