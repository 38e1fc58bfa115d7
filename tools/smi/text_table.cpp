#include "tools/smi/text_table.h"

#include <algorithm>
#include <numeric>

namespace crvmon::smi {

namespace {

// Display width: UTF-8 continuation bytes take no column.
int widthOf(const std::string& text) {
    return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string keepEnd(const std::string& text, int width) {
    if (widthOf(text) <= width) return text;
    if (width <= 3) return text.substr(text.size() - static_cast<std::size_t>(width));
    return "..." + text.substr(text.size() - static_cast<std::size_t>(width - 3));
}

}  // namespace

TextTable::TextTable(std::vector<Column> columns) : columns_(std::move(columns)) {}

void TextTable::addRow(std::vector<std::string> cells) {
    cells.resize(columns_.size());
    rows_.push_back(std::move(cells));
}

std::string TextTable::render(int maxWidth, bool withHeader, std::vector<int>* kept) const {
    const std::size_t n = columns_.size();
    std::vector<int> widths(n, 0);
    for (std::size_t c = 0; c < n; ++c) {
        if (withHeader) widths[c] = widthOf(columns_[c].header);
        for (const auto& row : rows_) widths[c] = std::max(widths[c], widthOf(row[c]));
        if (kept != nullptr && kept->size() == n) widths[c] = std::max(widths[c], (*kept)[c]);
    }
    if (kept != nullptr) *kept = widths;
    int gap = 2;
    const auto total = [&] {
        return std::accumulate(widths.begin(), widths.end(), 0) +
               gap * static_cast<int>(n > 0 ? n - 1 : 0);
    };
    if (maxWidth > 0 && total() > maxWidth) gap = 1;
    if (maxWidth > 0 && total() > maxWidth) {
        for (std::size_t c = 0; c < n; ++c) {
            if (!columns_[c].shrinkable) continue;
            const int floor = std::max(widthOf(columns_[c].header), 4);
            widths[c] = std::max(floor, widths[c] - (total() - maxWidth));
        }
    }

    std::string out;
    const auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (std::size_t c = 0; c < n; ++c) {
            const std::string cell =
                columns_[c].shrinkable ? keepEnd(cells[c], widths[c]) : cells[c];
            const std::string pad(static_cast<std::size_t>(widths[c] - widthOf(cell)), ' ');
            if (c > 0) text.append(static_cast<std::size_t>(gap), ' ');
            text += columns_[c].alignRight ? pad + cell : cell + pad;
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out += text + '\n';
    };
    if (withHeader) {
        std::vector<std::string> headers;
        for (const Column& column : columns_) headers.push_back(column.header);
        line(headers);
    }
    for (const auto& row : rows_) line(row);
    return out;
}

}  // namespace crvmon::smi
