#pragma once

// Mechanics shared by the connection, the datasets and the stored-procedure
// caller; not meant for the programs.

#include "framework/data/Dataset.h"

#include <QSqlError>
#include <QString>
#include <QVariant>

class QSqlQuery;

namespace fw::sql {

// The database's own message of a failed statement or connection attempt.
QString errorText(const QSqlError& error);

// Runs a prepared query; a failure raises DbError with the database's message.
void exec(QSqlQuery& query);
// Prepares text on a query; a failure raises DbError.
void prepare(QSqlQuery& query, const QString& text);

// "name" with embedded quotes doubled.
QString quoteIdentifier(const QString& name);

// The value of one key ("Data Source", ...) of an ADO connection string, keys
// matched without regard to case, double or single quotes taken off; raises
// for a text with a part that is not key=value.
QString connectionValue(const QString& connectionString, const QString& key);

// The data type of a PostgreSQL type (by oid) and the size its modifier gives.
DataType pgDataType(unsigned oid, int typmod, int* size);

// The value converted to what a field or parameter of the type holds; raises
// when it cannot be.
QVariant coerce(const QVariant& value, DataType type, const QString& what);

} // namespace fw::sql
