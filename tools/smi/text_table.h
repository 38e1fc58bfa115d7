// Columns of text, aligned, fitted to a width: the layout of every table crvmon-smi prints.
#pragma once

#include <string>
#include <vector>

namespace crvmon::smi {

struct Column {
    std::string header;
    bool alignRight = false;
    // The column that gives way when the table is too wide; its texts lose their start, which
    // for node paths is the part they all share.
    bool shrinkable = false;
};

class TextTable {
  public:
    explicit TextTable(std::vector<Column> columns);

    // Missing cells are empty; extra cells are an error of the caller and are dropped.
    void addRow(std::vector<std::string> cells);
    bool empty() const { return rows_.empty(); }

    // Lines ending in '\n'. A maxWidth of 0 means no limit; otherwise the gaps narrow and the
    // shrinkable column is cut (never below its header) before a line grows past it.
    // `kept`, when given: the column widths of earlier renders, which this one keeps (a column
    // only grows) and updates, so that the rounds of a loop line up.
    std::string render(int maxWidth, bool withHeader = true,
                       std::vector<int>* kept = nullptr) const;

  private:
    std::vector<Column> columns_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace crvmon::smi
