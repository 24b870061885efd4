#include "framework/data/Transaction.h"

#include "framework/core/Error.h"
#include "framework/data/Connection.h"
#include "framework/data/SqlSupport.h"

#include <QSqlError>

namespace fw {

Transaction::Transaction(Connection& connection) : m_db(connection.database()) {
    if (!m_db.transaction())
        throw DbError(sql::errorText(m_db.lastError()));
    m_open = true;
}

Transaction::~Transaction() {
    if (m_open)
        m_db.rollback();
}

void Transaction::commit() {
    if (!m_open)
        return;
    if (!m_db.commit()) {
        const QString failure = sql::errorText(m_db.lastError());
        m_db.rollback();
        m_open = false;
        throw DbError(failure);
    }
    m_open = false;
}

} // namespace fw
