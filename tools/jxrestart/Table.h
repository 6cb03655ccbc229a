// Prints rows of cells as aligned columns: numbers to the right.
#ifndef TOOLS_JXRESTART_TABLE_H_
#define TOOLS_JXRESTART_TABLE_H_

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace jxrestart {
namespace tool {

class Table {
 public:
  // The first `leftColumns` columns hold words and are aligned to the left.
  explicit Table(std::vector<std::string> header, size_t leftColumns = 0)
      : rows_{std::move(header)}, left_(leftColumns) {}

  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }

  void Print(std::ostream& out) const {
    std::vector<size_t> width(rows_[0].size(), 0);
    for (const auto& row : rows_) {
      for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
    }
    for (const auto& row : rows_) {
      std::string line;
      for (size_t i = 0; i < row.size(); ++i) {
        if (i > 0) line += "  ";
        const std::string pad(width[i] - row[i].size(), ' ');
        line += i < left_ ? row[i] + pad : pad + row[i];
      }
      line.erase(line.find_last_not_of(' ') + 1);
      out << line << '\n';
    }
  }

 private:
  std::vector<std::vector<std::string>> rows_;
  size_t left_;
};

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_TABLE_H_
