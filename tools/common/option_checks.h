// Checks of option values that answer in the tool's own words: the option, what it got and what
// it takes ("--format: got 'xml'; takes table, csv or json"), never the option parser's internals.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace crvmon::tools {

// One of the names (any case), each standing for a number the option stores; the numbers
// themselves are not taken, so that "-f 2" is no format.
CLI::Validator oneOf(std::vector<std::pair<std::string, int>> names);

// A number from `low` to `high`, inclusive; `what` names it in the message ("seconds").
CLI::Validator numberFrom(double low, double high, const std::string& what);

// A whole number from `low` to `high`, inclusive.
CLI::Validator wholeNumberFrom(long long low, long long high, const std::string& what);

// Parses the command line. An option error is said as "TOOL: message" (TOOL the app's name)
// with where to look. Returns the exit code when the run ends here: 0 after --help or
// --version, `badArgument` after an error; nullopt when the tool goes on.
std::optional<int> parseOptions(CLI::App& app, int argc, char** argv, int badArgument);

}  // namespace crvmon::tools
