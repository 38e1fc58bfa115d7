// crvmon-smi --query: the asked fields of every device as a table, CSV or JSON.
#pragma once

#include <string>
#include <vector>

#include "tools/common/field_catalogue.h"

namespace crvmon::smi {

enum class QueryFormat { Table, Csv, Json };

struct QueryStyle {
    QueryFormat format = QueryFormat::Table;
    bool header = true;        // table and CSV
    bool units = true;         // table and CSV: "[C]" in the header, "47 C" in the cell
    int maxWidth = 0;          // table: 0 for no limit
    bool compactJson = false;  // one line per read, for rounds appended to a pipe
    // Table: the column widths of a loop's earlier reads, kept so that its rounds line up.
    std::vector<int>* tableWidths = nullptr;
};

// One read of the devices. `withHeader` lets a loop print the header once.
std::string queryText(const std::vector<tools::DeviceSample>& devices,
                      const std::vector<const tools::Field*>& fields, const QueryStyle& style,
                      bool withHeader);

// One CSV cell: quoted when it holds a comma, a quote or a line break.
std::string csvCell(const std::string& text);

// --list-fields: every field with its unit, the families that have it and what it is.
std::string fieldListText(QueryFormat format);

}  // namespace crvmon::smi
