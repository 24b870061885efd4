#include "SqliteFile.h"

#include "Workbook.h"

#include <sqlite3.h>

namespace morvel::formats {

namespace {

// An open SQLite file, closed on every way out.
class Database {
public:
    Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database() { sqlite3_close_v2(m_db); }

    int open(const std::string& path, int flags) {
        return sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    }
    sqlite3* get() const { return m_db; }
    std::string error() const { return m_db ? sqlite3_errmsg(m_db) : "内存不足"; }

private:
    sqlite3* m_db = nullptr;
};

class Statement {
public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(m_stmt); }

    int prepare(sqlite3* db, const std::string& sql) {
        return sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    }
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

std::string identifier(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

std::string columnText(sqlite3_stmt* stmt, int i) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, i));
    int size = sqlite3_column_bytes(stmt, i);
    return bytes ? std::string(bytes, static_cast<size_t>(size)) : std::string();
}

Outcome notDatabase(const std::string& path, const Database& db) {
    return Outcome::fail(Failure::BadFormat,
                         "文件" + quoted(path) + "不是可读的数据库：" + db.error());
}

// Opens the file and finds the table and its columns, with the messages that
// say which of them is missing.
Outcome openTable(Database& db, const std::string& path, int flags, const std::string& table,
                  const std::vector<std::string>& columns) {
    if (Outcome readable = checkReadableFile(path); !readable.ok())
        return readable;
    if (db.open(path, flags) != SQLITE_OK)
        return Outcome::fail(Failure::Unreadable,
                             "无法打开数据库文件" + quoted(path) + "：" + db.error());
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    sqlite3_busy_timeout(db.get(), 10000);

    Statement find;
    if (find.prepare(db.get(), "select name from sqlite_master where type in ('table', 'view') "
                               "and name = ?1 collate nocase") != SQLITE_OK)
        return notDatabase(path, db);
    sqlite3_bind_text(find.get(), 1, table.c_str(), static_cast<int>(table.size()),
                      SQLITE_TRANSIENT);
    int rc = sqlite3_step(find.get());
    if (rc == SQLITE_DONE)
        return Outcome::fail(Failure::MissingTable,
                             "数据库文件" + quoted(path) + "中没有表" + quoted(table));
    if (rc != SQLITE_ROW)
        return notDatabase(path, db);

    for (const std::string& column : columns) {
        Statement has;
        if (has.prepare(db.get(), "select 1 from pragma_table_info(?1) where name = ?2 collate "
                                  "nocase") != SQLITE_OK)
            return notDatabase(path, db);
        sqlite3_bind_text(has.get(), 1, table.c_str(), static_cast<int>(table.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_text(has.get(), 2, column.c_str(), static_cast<int>(column.size()),
                          SQLITE_TRANSIENT);
        rc = sqlite3_step(has.get());
        if (rc == SQLITE_DONE)
            return Outcome::fail(Failure::MissingColumn, "数据库文件" + quoted(path) + "的表" +
                                                             quoted(table) + "缺少列" +
                                                             quoted(column));
        if (rc != SQLITE_ROW)
            return notDatabase(path, db);
    }
    return Outcome::success();
}

std::string columnList(const std::vector<std::string>& columns) {
    std::string list;
    for (const std::string& column : columns)
        list += (list.empty() ? "" : ", ") + identifier(column);
    return list;
}

Outcome failed(Failure why, const Database& db, const std::string& path, const std::string& table,
               const std::string& doing) {
    return Outcome::fail(why, "数据库文件" + quoted(path) + "的表" + quoted(table) + doing +
                                  "失败：" + db.error());
}

} // namespace

Outcome readTable(const std::string& path, const std::string& table,
                  const std::vector<std::string>& textColumns,
                  const std::vector<std::string>& blobColumns, std::vector<Cells>& rows) {
    std::vector<std::string> columns = textColumns;
    columns.insert(columns.end(), blobColumns.begin(), blobColumns.end());

    Database db;
    if (Outcome found = openTable(db, path, SQLITE_OPEN_READONLY, table, columns); !found.ok())
        return found;

    Statement select;
    if (select.prepare(db.get(), "select " + columnList(columns) + " from " + identifier(table)) !=
        SQLITE_OK)
        return failed(Failure::BadFormat, db, path, table, "读取");

    rows.clear();
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
        Cells cells(columns.size());
        for (size_t i = 0; i < columns.size(); ++i) {
            int col = static_cast<int>(i);
            int type = sqlite3_column_type(select.get(), col);
            if (type == SQLITE_NULL)
                continue;
            bool text = i < textColumns.size();
            if (text && type == SQLITE_FLOAT)
                cells[i] = numberText(sqlite3_column_double(select.get(), col));
            else
                cells[i] = columnText(select.get(), col);
            if (text && !isCleanUtf8(*cells[i]))
                return Outcome::fail(Failure::BadValue,
                                     "数据库文件" + quoted(path) + "的表" + quoted(table) + "第" +
                                         std::to_string(rows.size() + 1) + "行的列" +
                                         quoted(columns[i]) + "不是可读的文字");
        }
        rows.push_back(std::move(cells));
    }
    if (rc != SQLITE_DONE)
        return failed(Failure::BadFormat, db, path, table, "读取");
    return Outcome::success();
}

Outcome replaceRows(const std::string& path, const std::string& table,
                    const std::vector<std::string>& columns, const std::vector<Cells>& rows) {
    Database db;
    if (Outcome found = openTable(db, path, SQLITE_OPEN_READWRITE, table, columns); !found.ok())
        return found;

    if (sqlite3_exec(db.get(), "begin immediate", nullptr, nullptr, nullptr) != SQLITE_OK)
        return failed(Failure::Busy, db, path, table, "写入");

    // Anything that goes wrong from here leaves the table as it was.
    auto rollBack = [&](const std::string& doing) {
        Outcome out = failed(Failure::BadValue, db, path, table, doing);
        sqlite3_exec(db.get(), "rollback", nullptr, nullptr, nullptr);
        return out;
    };

    if (sqlite3_exec(db.get(), ("delete from " + identifier(table)).c_str(), nullptr, nullptr,
                     nullptr) != SQLITE_OK)
        return rollBack("清空");

    std::string marks;
    for (size_t i = 0; i < columns.size(); ++i)
        marks += i ? ", ?" : "?";
    Statement insert;
    if (insert.prepare(db.get(), "insert into " + identifier(table) + " (" + columnList(columns) +
                                     ") values (" + marks + ")") != SQLITE_OK)
        return rollBack("写入");

    for (const Cells& cells : rows) {
        sqlite3_reset(insert.get());
        sqlite3_clear_bindings(insert.get());
        for (size_t i = 0; i < columns.size() && i < cells.size(); ++i) {
            if (cells[i])
                sqlite3_bind_text(insert.get(), static_cast<int>(i + 1), cells[i]->data(),
                                  static_cast<int>(cells[i]->size()), SQLITE_TRANSIENT);
        }
        if (sqlite3_step(insert.get()) != SQLITE_DONE)
            return rollBack("写入");
    }
    if (sqlite3_exec(db.get(), "commit", nullptr, nullptr, nullptr) != SQLITE_OK)
        return rollBack("写入");
    return Outcome::success();
}

} // namespace morvel::formats
