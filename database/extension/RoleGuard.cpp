// What the module does in every session once the server preloads it: the
// clients' login cannot change a role (its own password or settings, another
// role by SET ROLE), and the room size that the service was set up for is a
// setting the procedures read.
//
// Nothing here holds a C++ object: ereport may leave any of these frames.

extern "C" {
#include "postgres.h"

#include "fmgr.h"
#include "miscadmin.h"
#include "nodes/parsenodes.h"
#include "tcop/utility.h"
#include "utils/guc.h"
}

#include <cstring>

extern "C" {

void _PG_init(void);

static ProcessUtility_hook_type previousUtilityHook = nullptr;
static int maxClients = 600;

// Statements that change a role or act as another one: ALTER ROLE (and
// ALTER USER) with its password, flags or settings, SET/RESET ROLE and SET
// SESSION AUTHORIZATION.
static bool changesARole(const Node* statement) {
    if (IsA(statement, AlterRoleStmt) || IsA(statement, AlterRoleSetStmt))
        return true;
    if (IsA(statement, VariableSetStmt)) {
        const char* name = reinterpret_cast<const VariableSetStmt*>(statement)->name;
        return name &&
               (std::strcmp(name, "role") == 0 || std::strcmp(name, "session_authorization") == 0);
    }
    return false;
}

static void refuseRoleChanges(PlannedStmt* pstmt, const char* queryString, bool readOnlyTree,
                              ProcessUtilityContext context, ParamListInfo params,
                              QueryEnvironment* queryEnv, DestReceiver* dest, QueryCompletion* qc) {
    if (!superuser() && changesARole(pstmt->utilityStmt))
        ereport(ERROR, (errcode(ERRCODE_INSUFFICIENT_PRIVILEGE),
                        errmsg("权限不足：只有数据库的管理者可以修改或切换登录角色")));
    if (previousUtilityHook)
        previousUtilityHook(pstmt, queryString, readOnlyTree, context, params, queryEnv, dest, qc);
    else
        standard_ProcessUtility(pstmt, queryString, readOnlyTree, context, params, queryEnv, dest,
                                qc);
}

void _PG_init(void) {
    DefineCustomIntVariable(
        "morvel.max_clients", "Client PCs of the computer room that may be connected at once.",
        nullptr, &maxClients, 600, 1, 100000, PGC_SIGHUP, 0, nullptr, nullptr, nullptr);
    MarkGUCPrefixReserved("morvel");
    previousUtilityHook = ProcessUtility_hook;
    ProcessUtility_hook = refuseRoleChanges;
}

} // extern "C"
