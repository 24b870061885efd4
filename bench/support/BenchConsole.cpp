#include "bench/support/BenchConsole.h"

#include "server/Unit_Common.h"
#include "server/Unit_SelectClass.h"

#include <QListWidget>
#include <QPushButton>

namespace bench {

void chooseEveryClass() {
    server::ExamineeListImported = true;
    server::frm_SelectClass->show();
    QListWidget* list = server::frm_SelectClass->CheckListBox1;
    for (int k = 0; k < list->count(); ++k)
        list->item(k)->setCheckState(Qt::Checked);
    server::frm_SelectClass->Btn_OK->click();
}

} // namespace bench
