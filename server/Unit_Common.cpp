#include "server/Unit_Common.h"

#include "framework/data/Dataset.h"
#include "framework/data/Query.h"

#include <libpq-fe.h>

namespace server {

QString AppPath;
bool ExamineeListImported = false;
QStringList SelectedClasses;

int GetSqlServerState() {
    // The ping honours PGHOST and PGPORT, as the console's connection does.
    return PQping("dbname=postgres connect_timeout=5") == PQPING_OK ? 4 : 1;
}

bool HasUnfinishedSitting(fw::Connection& connection) {
    fw::Query query;
    query.setConnection(&connection);
    query.setSQL("select * from pg_class where oid = to_regclass('考试情况') and relkind = 'r'");
    query.open();
    if (query.isEmpty())
        return false;
    query.close();
    query.setSQL("select * from 考试情况 where 是否选择=1 and 是否已考=0");
    query.open();
    return !query.isEmpty();
}

bool FlagIsSet(const fw::Field& flag) {
    return !flag.isNull() && flag.asFloat() == 1.0;
}

} // namespace server
