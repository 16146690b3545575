// Rows of text in aligned columns, as the command prints its lists.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vantel {

class TextTable {
  public:
    explicit TextTable(std::vector<std::string> headings) : headings_(std::move(headings)) {}

    void AddRow(std::vector<std::string> cells);
    bool empty() const { return rows_.empty(); }
    /// The headings and rows, two blanks between columns, indented by `indent`; the last
    /// column is not padded.
    void Print(std::ostream& out, std::string_view indent = "  ") const;

  private:
    std::vector<std::string> headings_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace vantel
