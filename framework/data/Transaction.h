#pragma once

#include <QSqlDatabase>

namespace fw {

class Connection;

// A transaction on a connection, as a scope: begun when made, rolled back
// when the scope is left without commit() (an error on the way included).
// Failing to begin or to commit raises DbError with the database's message.
class Transaction {
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    QSqlDatabase m_db;
    bool m_open = false;
};

} // namespace fw
