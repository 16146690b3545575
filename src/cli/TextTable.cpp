#include "cli/TextTable.h"

#include <algorithm>
#include <ostream>

#include "cli/PrintableText.h"

namespace vantel {

void TextTable::AddRow(std::vector<std::string> cells) {
    for (std::string& cell : cells) {
        cell = PrintableText(cell);
    }
    cells.resize(headings_.size());
    rows_.push_back(std::move(cells));
}

void TextTable::Print(std::ostream& out, std::string_view indent) const {
    std::vector<std::size_t> widths(headings_.size());
    for (std::size_t c = 0; c < headings_.size(); ++c) {
        widths[c] = headings_[c].size();
        for (const auto& row : rows_) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    const auto printRow = [&](const std::vector<std::string>& cells) {
        std::string line(indent);
        for (std::size_t c = 0; c < cells.size(); ++c) {
            line += cells[c];
            if (c + 1 < cells.size()) {
                line.append(widths[c] - cells[c].size() + 2, ' ');
            }
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out << line << '\n';
    };
    printRow(headings_);
    for (const auto& row : rows_) {
        printRow(row);
    }
}

}  // namespace vantel
