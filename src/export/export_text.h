#pragma once
// The text of an export file, built from the rows as the list displays them.
// Portable: no platform headers.

#include <array>
#include <span>
#include <string>

namespace qv {

// The four cell texts of one displayed row, in column order: address, host
// name, MAC text, reply time. GBK bytes, each possibly empty.
using ExportRow = std::array<std::string, 4>;

// The header line, then one line per row in the given order: the four cells
// joined by runs of ten spaces. Every line ends with CR LF, the last one
// included; no byte-order mark, no terminator. Cells are copied whole and
// byte for byte, so columns line up only where texts have equal lengths.
std::string ExportText(std::span<const ExportRow> rows);

}  // namespace qv
