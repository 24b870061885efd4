#include "server/Program.h"

#include "framework/widgets/Dialogs.h"
#include "framework/widgets/Guard.h"
#include "server/Unit_Cheat.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"
#include "server/Unit_SelectClass.h"

#include <sys/resource.h>

namespace server {

namespace {

// Every PC of the room holds a status connection, and a flood of idle ones
// must not leave the listener without a descriptor for a login: the console
// takes as many descriptors as the system lets it.
void RaiseFileLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

} // namespace

std::optional<int> StartProgram() {
    RaiseFileLimit();
    if (GetSqlServerState() != 4) {
        fw::dialogs().showMessage("请先启动SQL Server!");
        return 0;
    }
    const bool created = fw::guard([] {
        frm_Main = new Tfrm_Main;
        frm_SelectClass = new Tfrm_SelectClass;
        frm_Cheat = new Tfrm_Cheat;
    });
    if (!created) {
        EndProgram();
        return 1;
    }
    frm_Main->show();
    return std::nullopt;
}

void EndProgram() {
    delete std::exchange(frm_Cheat, nullptr);
    delete std::exchange(frm_SelectClass, nullptr);
    delete std::exchange(frm_Main, nullptr);
    AppPath.clear();
    ExamineeListImported = false;
    SelectedClasses.clear();
}

} // namespace server
