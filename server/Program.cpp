#include "server/Program.h"

#include "framework/widgets/Dialogs.h"
#include "framework/widgets/Guard.h"
#include "server/Unit_Cheat.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"
#include "server/Unit_SelectClass.h"

namespace server {

std::optional<int> StartProgram() {
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
