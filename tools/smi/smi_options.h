// crvmon-smi's command line.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/smi/query_output.h"

namespace crvmon::smi {

struct SmiOptions {
    bool details = false;
    std::string query;  // comma-separated field names; empty: no query
    QueryFormat format = QueryFormat::Table;
    bool noHeader = false;
    bool noUnits = false;
    bool listFields = false;
    std::vector<std::string> ids;  // TYPE:INDEX
    bool processes = false;
    double loopSeconds = 0;  // 0: read once
    int count = 0;           // rounds of a loop; 0: until Ctrl-C
    bool top = false;        // the top subcommand or --watch
    std::string dumpScenario;
    std::vector<std::string> setExtraPmic;  // TYPE:INDEX=ID
    double timeoutSeconds = 30;
    bool timings = false;
};

// Declares every option on `app`; the `top` subcommand sets options.top.
void declareOptions(CLI::App& app, SmiOptions& options);

}  // namespace crvmon::smi
