// Runs a program as a user would, and keeps what it printed and how it ended: for tests of the
// tools, which are judged by their output and exit code.
#pragma once

#include <string>
#include <vector>

namespace crvmon::testing {

struct ProgramRun {
    int exitCode = -1;  // -1: it did not start, or ended by a signal
    std::string out;    // standard output, "\r\n" turned into "\n"
    std::string err;
};

// Standard input is empty; standard output and error go to files that are read afterwards, so
// the program sees neither a terminal nor a pipe it could block on.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace crvmon::testing
