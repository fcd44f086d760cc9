#include "tools/ctl/TextTable.h"

#include <algorithm>
#include <cstddef>

namespace ondavox {
namespace {

// Characters in UTF-8 |text|: every byte but the continuation bytes.
std::size_t Width(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

void PrintRow(std::ostream& out, const std::vector<std::string>& cells,
              const std::vector<std::size_t>& widths) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    line += cells[i];
    if (i + 1 < cells.size()) line.append(widths[i] - Width(cells[i]) + 2, ' ');
  }
  // Empty cells at the end leave no trailing blanks.
  line.erase(line.find_last_not_of(' ') + 1);
  out << line << '\n';
}

}  // namespace

void PrintTable(std::ostream& out, const std::vector<std::string>& headers,
                const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  const auto measure = [&](const std::vector<std::string>& cells) {
    if (widths.size() < cells.size()) widths.resize(cells.size(), 0);
    for (std::size_t i = 0; i < cells.size(); ++i) widths[i] = std::max(widths[i], Width(cells[i]));
  };
  measure(headers);
  for (const auto& row : rows) measure(row);
  if (!headers.empty()) PrintRow(out, headers, widths);
  for (const auto& row : rows) PrintRow(out, row, widths);
}

}  // namespace ondavox
