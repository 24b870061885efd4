#pragma once

#include "Outcome.h"

#include <optional>
#include <string>
#include <vector>

namespace morvel::formats {

using Cells = std::vector<std::optional<std::string>>;

// Reads the named columns of every row of a table of an SQLite file, in the
// table's order: first the text columns, each as UTF-8 text (a whole number,
// also one stored as a real, as its integer text), then the blob columns as
// raw bytes. Table and column names are matched as SQLite matches them.
Outcome readTable(const std::string& path, const std::string& table,
                  const std::vector<std::string>& textColumns,
                  const std::vector<std::string>& blobColumns, std::vector<Cells>& rows);

// Replaces every row of an existing table of an existing SQLite file by
// `rows`, whose cells go to `columns` in order (as text; the column's affinity
// turns numbers into numbers), in one transaction: on failure the table is as
// it was.
Outcome replaceRows(const std::string& path, const std::string& table,
                    const std::vector<std::string>& columns, const std::vector<Cells>& rows);

} // namespace morvel::formats
