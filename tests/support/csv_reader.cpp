#include "tests/support/csv_reader.h"

#include <stdexcept>

namespace crvmon::testing {

std::vector<CsvRow> readCsv(std::string_view text) {
    std::vector<CsvRow> rows;
    CsvRow row;
    std::string cell;
    bool quoted = false;     // inside a quoted cell
    bool wasQuoted = false;  // the cell's closing quote has been read
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                cell += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else {
                quoted = false;
                wasQuoted = true;
            }
        } else if (c == ',' || c == '\n') {
            row.push_back(cell);
            cell.clear();
            wasQuoted = false;
            if (c == '\n') {
                rows.push_back(row);
                row.clear();
            }
        } else if (c == '"' && cell.empty() && !wasQuoted) {
            quoted = true;
        } else if (wasQuoted) {
            throw std::runtime_error("text after a closing quote at byte " + std::to_string(i));
        } else {
            cell += c;
        }
    }
    if (quoted) throw std::runtime_error("quote left open");
    if (!cell.empty() || !row.empty()) {
        row.push_back(cell);
        rows.push_back(row);
    }
    return rows;
}

}  // namespace crvmon::testing
