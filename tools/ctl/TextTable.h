#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ondavox {

// Prints |rows| as columns aligned on the widest cell of each, two spaces apart, under
// |headers| (no header line when |headers| is empty). Widths count characters, not bytes, so
// names in UTF-8 line up. The last column is not padded.
void PrintTable(std::ostream& out, const std::vector<std::string>& headers,
                const std::vector<std::vector<std::string>>& rows);

}  // namespace ondavox
