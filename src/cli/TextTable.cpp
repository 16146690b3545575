#include "cli/TextTable.h"

#include <algorithm>
#include <ostream>

namespace vantel {

void TextTable::AddRow(std::vector<std::string> cells) {
    for (std::string& cell : cells) {
        cell = Printable(cell);
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

std::string TextTable::Printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0x0F];
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace vantel
