#include "client/Program.h"

#include "client/Unit_Instructions.h"
#include "client/Unit_login.h"
#include "client/Unit_main.h"
#include "framework/core/InstanceLock.h"
#include "framework/widgets/Form.h"
#include "framework/widgets/Guard.h"

#include <QApplication>
#include <utility>

namespace client {

void StartProgram() {
    frm_Main = new Tfrm_Main;
    fw::setMainForm(frm_Main);
    frm_Login = new Tfrm_Login;
    frm_Instructions = new Tfrm_Instructions;
    frm_Login->show();
}

void EndProgram() {
    delete std::exchange(frm_Instructions, nullptr);
    delete std::exchange(frm_Login, nullptr);
    delete std::exchange(frm_Main, nullptr);
    fw::setMainForm(nullptr);
    ExamNo.clear();
    ExamineeName.clear();
    ServerIp.clear();
    WorkDir.clear();
    ExamTime.clear();
    LoginAccepted = false;
    EnteredExam = false;
    PaperReady = false;
}

int ProgramMain() {
    const fw::InstanceLock mutex("Client");
    if (mutex.alreadyRunning())
        return 0;
    // The program ends only when told to (fw::terminate()), never because
    // no window is shown for a moment.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!fw::guard(StartProgram)) {
        EndProgram();
        return 1;
    }
    QApplication::exec();
    EndProgram();
    return 0;
}

} // namespace client
