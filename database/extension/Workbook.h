#pragma once

#include "Outcome.h"

#include <optional>
#include <string>
#include <vector>

namespace morvel::formats {

// One row of a worksheet as text: a cell is empty (nullopt) or its text.
struct SheetRow {
    unsigned number = 0; // 1-based, as the spreadsheet program shows it
    std::vector<std::optional<std::string>> cells;
};

struct Sheet {
    std::string name;
    unsigned columns = 0;
    std::vector<SheetRow> rows; // every row of the sheet's used range
};

// Reads the first worksheet of a BIFF workbook (.xls). A number cell becomes
// its integer text when it holds a whole number, else its shortest decimal
// text; dates and times come as "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS", "HH:MM:SS".
Outcome readFirstSheet(const std::string& path, Sheet& sheet);

// The text that a number cell shows in the sheet's cells.
std::string numberText(double value);

} // namespace morvel::formats
