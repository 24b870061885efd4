#pragma once

#include "framework/data/Dataset.h"

#include <QStringList>

namespace fw {

// A query with ":name" parameters. Setting the text creates a parameter for
// every name it finds (type Unknown, bound as text) and keeps the declared
// type and value of a parameter that stays.
class Query : public Dataset {
    Q_OBJECT
public:
    using Dataset::Dataset;

    void setSQL(const QString& text); // closes the query
    QString sql() const;
    void sqlClear() { setSQL(QString()); }
    void sqlAdd(const QString& line); // appends a line

    Parameters& parameters() { return m_params; }
    Parameter& paramByName(const QString& name) { return m_params.paramByName(name); }

    // Runs the text as a statement that returns no rows.
    void execSQL();

protected:
    QString selectStatement() const override { return m_sql; }
    const Parameters* statementParameters() const override { return &m_params; }

private:
    QString m_sql;
    Parameters m_params;
};

// The whole of one table.
class Table : public Dataset {
    Q_OBJECT
public:
    using Dataset::Dataset;

    void setTableName(const QString& name); // closes the table
    QString tableName() const { return m_table; }

protected:
    QString selectStatement() const override;
    QString defaultUpdateTable() const override { return m_table; }

private:
    QString m_table;
};

// Calls a stored procedure of the exam database by name. "@" before parameter
// names and a group suffix ";1" after the procedure name are dropped.
class StoredProc : public QObject {
    Q_OBJECT
public:
    explicit StoredProc(QObject* parent = nullptr);

    void setConnection(Connection* connection) { m_connection = connection; }
    Connection* connection() const { return m_connection; }
    void setProcedureName(const QString& name);
    QString procedureName() const { return m_name; }

    Parameters& parameters() { return m_params; }
    Parameter& paramByName(const QString& name) { return m_params.paramByName(name); }
    // Replaces the parameter list by the procedure's own declaration; raises
    // when the database has no such procedure.
    void refreshParameters();
    void execProc(); // an error reported by the database raises DbError

private:
    Connection* m_connection = nullptr;
    QString m_name;
    Parameters m_params;
};

// Creates an empty database file for a Jet connection string (ADOX.Catalog's
// Create): here an empty SQLite file at the path of "Data Source".
void createCatalog(const QString& connectionString);

} // namespace fw
