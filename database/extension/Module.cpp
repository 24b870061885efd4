// The PostgreSQL side of the file formats: SQL-callable functions that read
// a worksheet or an SQLite table as rows and write rows into an SQLite table.
//
// PostgreSQL reports errors by longjmp, which must not cross a frame that
// holds C++ objects. So each function works in two halves: a noexcept C++
// half that does the file work and copies its result into plain structures
// (allocated without ever raising), and a C half without C++ objects that
// reads its arguments, raises the failure or hands out the rows.

extern "C" {
#include "postgres.h"

#include "catalog/pg_type.h"
#include "fmgr.h"
#include "funcapi.h"
#include "utils/array.h"
#include "utils/builtins.h"
#include "utils/tuplestore.h"
}

#include "SqliteFile.h"
#include "Workbook.h"

#include <cstring>
#include <new>

using namespace morvel::formats;

extern "C" {
PG_MODULE_MAGIC;
PG_FUNCTION_INFO_V1(morvel_xls_sheet);
PG_FUNCTION_INFO_V1(morvel_sqlite_read);
PG_FUNCTION_INFO_V1(morvel_sqlite_replace);
}

namespace {

struct PlainValue {
    const char* data; // null: an empty cell
    size_t length;
};

struct PlainRow {
    int64 number;
    PlainValue* values;
};

struct PlainTable {
    const char* label;
    int columns;
    size_t count;
    PlainRow* rows;
};

struct PlainFailure {
    int sqlstate;
    const char* message; // null: no failure
};

// Memory of the current (per-call) context; nullptr instead of an error.
void* allocate(size_t size) {
    return MemoryContextAllocExtended(CurrentMemoryContext, size ? size : 1,
                                      MCXT_ALLOC_HUGE | MCXT_ALLOC_NO_OOM);
}

const char* copyText(const std::string& text) {
    auto* out = static_cast<char*>(allocate(text.size() + 1));
    if (out) {
        std::memcpy(out, text.data(), text.size());
        out[text.size()] = '\0';
    }
    return out;
}

int sqlstateOf(Failure why) {
    switch (why) {
    case Failure::MissingFile:
        return ERRCODE_UNDEFINED_FILE;
    case Failure::Unreadable:
        return ERRCODE_IO_ERROR;
    case Failure::BadFormat:
        return ERRCODE_BAD_COPY_FILE_FORMAT;
    case Failure::MissingTable:
        return ERRCODE_UNDEFINED_TABLE;
    case Failure::MissingColumn:
        return ERRCODE_UNDEFINED_COLUMN;
    case Failure::BadValue:
        return ERRCODE_INVALID_TEXT_REPRESENTATION;
    case Failure::Busy:
        return ERRCODE_OBJECT_IN_USE;
    case Failure::OutOfMemory:
        return ERRCODE_OUT_OF_MEMORY;
    default:
        return ERRCODE_INTERNAL_ERROR;
    }
}

void setFailure(PlainFailure* failure, const Outcome& outcome) {
    failure->sqlstate = sqlstateOf(outcome.failure);
    failure->message = copyText(outcome.message);
    if (!failure->message) {
        failure->sqlstate = ERRCODE_OUT_OF_MEMORY;
        failure->message = "out of memory";
    }
}

void setOutOfMemory(PlainFailure* failure) {
    failure->sqlstate = ERRCODE_OUT_OF_MEMORY;
    failure->message = "out of memory";
}

PlainTable* toPlain(const std::string& label, size_t columns, const std::vector<Cells>& rows,
                    const std::vector<int64>& numbers) {
    auto* table = static_cast<PlainTable*>(allocate(sizeof(PlainTable)));
    if (!table)
        return nullptr;
    table->label = copyText(label);
    table->columns = static_cast<int>(columns);
    table->count = rows.size();
    table->rows = static_cast<PlainRow*>(allocate(sizeof(PlainRow) * rows.size()));
    if (!table->label || !table->rows)
        return nullptr;
    for (size_t r = 0; r < rows.size(); ++r) {
        PlainRow& row = table->rows[r];
        row.number = numbers[r];
        row.values = static_cast<PlainValue*>(allocate(sizeof(PlainValue) * columns));
        if (!row.values)
            return nullptr;
        for (size_t c = 0; c < columns; ++c) {
            const auto& cell = c < rows[r].size() ? rows[r][c] : std::nullopt;
            row.values[c] = {nullptr, 0};
            if (cell) {
                row.values[c] = {copyText(*cell), cell->size()};
                if (!row.values[c].data)
                    return nullptr;
            }
        }
    }
    return table;
}

void loadSheet(const char* path, PlainTable** out, PlainFailure* failure) noexcept {
    try {
        Sheet sheet;
        if (Outcome read = readFirstSheet(path, sheet); !read.ok())
            return setFailure(failure, read);
        std::vector<Cells> rows;
        std::vector<int64> numbers;
        rows.reserve(sheet.rows.size());
        for (SheetRow& row : sheet.rows) {
            numbers.push_back(row.number);
            rows.push_back(std::move(row.cells));
        }
        *out = toPlain(sheet.name, sheet.columns, rows, numbers);
        if (!*out)
            setOutOfMemory(failure);
    } catch (const std::bad_alloc&) {
        setOutOfMemory(failure);
    } catch (...) {
        setFailure(failure, Outcome::fail(Failure::Internal, "读取工作簿时出现内部错误"));
    }
}

std::vector<std::string> toStrings(const char* const* items, int count) {
    return std::vector<std::string>(items, items + count);
}

void loadTable(const char* path, const char* table, const char* const* texts, int textCount,
               const char* const* blobs, int blobCount, PlainTable** out,
               PlainFailure* failure) noexcept {
    try {
        std::vector<Cells> rows;
        Outcome read =
            readTable(path, table, toStrings(texts, textCount), toStrings(blobs, blobCount), rows);
        if (!read.ok())
            return setFailure(failure, read);
        std::vector<int64> numbers(rows.size());
        for (size_t i = 0; i < numbers.size(); ++i)
            numbers[i] = static_cast<int64>(i + 1);
        *out = toPlain(table, static_cast<size_t>(textCount + blobCount), rows, numbers);
        if (!*out)
            setOutOfMemory(failure);
    } catch (const std::bad_alloc&) {
        setOutOfMemory(failure);
    } catch (...) {
        setFailure(failure, Outcome::fail(Failure::Internal, "读取数据库文件时出现内部错误"));
    }
}

void storeRows(const char* path, const char* table, const char* const* columns, int columnCount,
               const char* const* cells, const bool* nulls, int rowCount,
               PlainFailure* failure) noexcept {
    try {
        std::vector<Cells> rows(static_cast<size_t>(rowCount));
        for (int r = 0; r < rowCount; ++r) {
            rows[r].resize(columnCount);
            for (int c = 0; c < columnCount; ++c) {
                int i = r * columnCount + c;
                if (!nulls[i])
                    rows[r][c] = std::string(cells[i]);
            }
        }
        Outcome written = replaceRows(path, table, toStrings(columns, columnCount), rows);
        if (!written.ok())
            setFailure(failure, written);
    } catch (const std::bad_alloc&) {
        setOutOfMemory(failure);
    } catch (...) {
        setFailure(failure, Outcome::fail(Failure::Internal, "写入数据库文件时出现内部错误"));
    }
}

} // namespace

// Everything below runs without C++ objects in its frames, so ereport may
// leave it at any point.
extern "C" {

static void raiseFailure(const PlainFailure* failure) {
    ereport(ERROR, (errcode(failure->sqlstate), errmsg("%s", failure->message)));
}

// The elements of a one-dimensional text array as C strings; nulls refused.
static const char** textElements(ArrayType* array, int* count, const char* what) {
    Datum* items;
    bool* nulls;
    if (ARR_NDIM(array) > 1)
        ereport(ERROR, (errcode(ERRCODE_ARRAY_SUBSCRIPT_ERROR),
                        errmsg("%s must be a one-dimensional array", what)));
    deconstruct_array(array, TEXTOID, -1, false, TYPALIGN_INT, &items, &nulls, count);
    const char** out = static_cast<const char**>(palloc(sizeof(char*) * (*count + 1)));
    for (int i = 0; i < *count; ++i) {
        if (nulls[i])
            ereport(ERROR, (errcode(ERRCODE_NULL_VALUE_NOT_ALLOWED),
                            errmsg("%s must not hold an empty name", what)));
        out[i] = TextDatumGetCString(items[i]);
    }
    return out;
}

static ArrayType* valueArray(const PlainRow* row, int first, int count, Oid type) {
    Datum* items = static_cast<Datum*>(palloc(sizeof(Datum) * (count ? count : 1)));
    bool* nulls = static_cast<bool*>(palloc(sizeof(bool) * (count ? count : 1)));
    for (int i = 0; i < count; ++i) {
        const PlainValue& value = row->values[first + i];
        nulls[i] = value.data == nullptr;
        items[i] = nulls[i] ? (Datum)0
                            : PointerGetDatum(cstring_to_text_with_len(
                                  value.data, static_cast<int>(value.length)));
    }
    int dims[1] = {count};
    int lower[1] = {1};
    return construct_md_array(items, nulls, 1, dims, lower, type, -1, false, TYPALIGN_INT);
}

// morvel_xls_sheet(path text) returns table(sheet text, row_no integer, cells text[])
Datum morvel_xls_sheet(PG_FUNCTION_ARGS) {
    const char* path = text_to_cstring(PG_GETARG_TEXT_PP(0));
    PlainTable* table = nullptr;
    PlainFailure failure = {0, nullptr};
    loadSheet(path, &table, &failure);
    if (failure.message)
        raiseFailure(&failure);

    InitMaterializedSRF(fcinfo, 0);
    ReturnSetInfo* rsinfo = reinterpret_cast<ReturnSetInfo*>(fcinfo->resultinfo);
    Datum sheet = PointerGetDatum(cstring_to_text(table->label));
    for (size_t r = 0; r < table->count; ++r) {
        const PlainRow* row = &table->rows[r];
        Datum values[3] = {sheet, Int32GetDatum(static_cast<int32>(row->number)),
                           PointerGetDatum(valueArray(row, 0, table->columns, TEXTOID))};
        bool nulls[3] = {false, false, false};
        tuplestore_putvalues(rsinfo->setResult, rsinfo->setDesc, values, nulls);
    }
    return (Datum)0;
}

// morvel_sqlite_read(path text, table_name text, text_columns text[], blob_columns text[])
//   returns table(row_no bigint, texts text[], blobs bytea[])
Datum morvel_sqlite_read(PG_FUNCTION_ARGS) {
    const char* path = text_to_cstring(PG_GETARG_TEXT_PP(0));
    const char* tableName = text_to_cstring(PG_GETARG_TEXT_PP(1));
    int textCount = 0;
    int blobCount = 0;
    const char** texts = textElements(PG_GETARG_ARRAYTYPE_P(2), &textCount, "text_columns");
    const char** blobs = textElements(PG_GETARG_ARRAYTYPE_P(3), &blobCount, "blob_columns");

    PlainTable* table = nullptr;
    PlainFailure failure = {0, nullptr};
    loadTable(path, tableName, texts, textCount, blobs, blobCount, &table, &failure);
    if (failure.message)
        raiseFailure(&failure);

    InitMaterializedSRF(fcinfo, 0);
    ReturnSetInfo* rsinfo = reinterpret_cast<ReturnSetInfo*>(fcinfo->resultinfo);
    for (size_t r = 0; r < table->count; ++r) {
        const PlainRow* row = &table->rows[r];
        Datum values[3] = {Int64GetDatum(row->number),
                           PointerGetDatum(valueArray(row, 0, textCount, TEXTOID)),
                           PointerGetDatum(valueArray(row, textCount, blobCount, BYTEAOID))};
        bool nulls[3] = {false, false, false};
        tuplestore_putvalues(rsinfo->setResult, rsinfo->setDesc, values, nulls);
    }
    return (Datum)0;
}

// morvel_sqlite_replace(path text, table_name text, columns text[], cells text[][])
//   returns integer: the rows now in the table
Datum morvel_sqlite_replace(PG_FUNCTION_ARGS) {
    const char* path = text_to_cstring(PG_GETARG_TEXT_PP(0));
    const char* tableName = text_to_cstring(PG_GETARG_TEXT_PP(1));
    int columnCount = 0;
    const char** columns = textElements(PG_GETARG_ARRAYTYPE_P(2), &columnCount, "columns");
    ArrayType* grid = PG_GETARG_ARRAYTYPE_P(3);

    int rowCount = 0;
    const char** cells = nullptr;
    bool* nulls = nullptr;
    if (ARR_NDIM(grid) != 0) {
        if (ARR_NDIM(grid) != 2 || ARR_DIMS(grid)[1] != columnCount)
            ereport(ERROR, (errcode(ERRCODE_ARRAY_SUBSCRIPT_ERROR),
                            errmsg("cells must be a two-dimensional array with one column per "
                                   "name in columns")));
        Datum* items;
        int count;
        deconstruct_array(grid, TEXTOID, -1, false, TYPALIGN_INT, &items, &nulls, &count);
        rowCount = ARR_DIMS(grid)[0];
        cells = static_cast<const char**>(palloc(sizeof(char*) * (count ? count : 1)));
        for (int i = 0; i < count; ++i)
            cells[i] = nulls[i] ? nullptr : TextDatumGetCString(items[i]);
    }

    PlainFailure failure = {0, nullptr};
    storeRows(path, tableName, columns, columnCount, cells, nulls, rowCount, &failure);
    if (failure.message)
        raiseFailure(&failure);
    PG_RETURN_INT32(rowCount);
}

} // extern "C"
