// Reads CSV as RFC 4180 writes it (quoted cells, doubled quotes, commas and line breaks inside
// quotes): the tools' CSV is checked by a reader, not by comparing text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace crvmon::testing {

using CsvRow = std::vector<std::string>;

// Throws std::runtime_error on a quote left open or text after a closing quote.
std::vector<CsvRow> readCsv(std::string_view text);

}  // namespace crvmon::testing
