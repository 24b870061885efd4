#include "server/Unit_SelectClass.h"

#include "framework/core/Error.h"
#include "framework/data/Query.h"
#include "framework/widgets/Dialogs.h"
#include "framework/widgets/Guard.h"
#include "server/Unit_Common.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>

namespace server {

Tfrm_SelectClass* frm_SelectClass = nullptr;

namespace {

// A class name as a quoted text of the grid's row filter.
QString Quoted(QString text) {
    return "'" + text.replace("'", "''") + "'";
}

} // namespace

Tfrm_SelectClass::Tfrm_SelectClass(QWidget* parent) : Dialog(parent) {
    shapeDialog("frm_SelectClass", "选择班级", 292, 338, 14);

    CheckListBox1 = new QListWidget(this);
    CheckListBox1->setObjectName("CheckListBox1");
    CheckListBox1->setGeometry(16, 16, 153, 297);
    CheckListBox1->setSortingEnabled(false);
    CheckListBox1->setUniformItemSizes(true);

    Btn_OK = new QPushButton("确定", this);
    Btn_OK->setObjectName("Btn_OK");
    Btn_OK->setGeometry(184, 16, 89, 33);
    Btn_OK->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));

    Btn_Close = new QPushButton("关闭", this);
    Btn_Close->setObjectName("Btn_Close");
    Btn_Close->setGeometry(184, 56, 89, 33);
    Btn_Close->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));

    CheckBox1 = new QCheckBox("全选", this);
    CheckBox1->setObjectName("CheckBox1");
    CheckBox1->setGeometry(184, 296, 57, 17);

    setTabOrder(CheckListBox1, Btn_OK);
    setTabOrder(Btn_OK, Btn_Close);
    setTabOrder(Btn_Close, CheckBox1);

    ADOQuery1 = new fw::Query(this);
    ADOQuery1->setObjectName("ADOQuery1");
    ADOQuery1->setConnection(frm_Main->ADOConnection1);
    ADOQuery1->setSQL("select * from 考试情况 where 是否已考=0");

    fw::on(Btn_OK, &QPushButton::clicked, this, &Tfrm_SelectClass::Btn_OKClick);
    connect(Btn_OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(Btn_Close, &QPushButton::clicked, this, &QDialog::reject);
    fw::on(CheckBox1, &QCheckBox::clicked, this, &Tfrm_SelectClass::CheckBox1Click);
}

Tfrm_SelectClass::~Tfrm_SelectClass() {
    delete ADOQuery1;
}

int Tfrm_SelectClass::ShowModal() {
    return exec();
}

void Tfrm_SelectClass::FormShow(QObject*) {
    LoadClassList();
}

void Tfrm_SelectClass::FormClose(QObject*, CloseAction&) {
    QStringList ticked;
    for (int k = 0; k < CheckListBox1->count(); ++k)
        if (Ticked(k))
            ticked << CheckListBox1->item(k)->text();
    SelectedClasses = ticked;
}

bool Tfrm_SelectClass::Ticked(int item) const {
    return CheckListBox1->item(item)->checkState() == Qt::Checked;
}

bool Tfrm_SelectClass::AnyClassChecked() const {
    for (int k = 0; k < CheckListBox1->count(); ++k)
        if (Ticked(k))
            return true;
    return false;
}

void Tfrm_SelectClass::LoadClassList() {
    CheckListBox1->clear();
    ADOQuery1->close();
    ADOQuery1->open();
    const int n = ADOQuery1->recordCount();
    for (int k = 0; k < n; ++k) {
        auto* item = new QListWidgetItem(ADOQuery1->fieldByName("班级").asString(), CheckListBox1);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setSizeHint(QSize(item->sizeHint().width(), 14));
        item->setCheckState(FlagIsSet(ADOQuery1->fieldByName("是否选择")) ? Qt::Checked
                                                                          : Qt::Unchecked);
        ADOQuery1->next();
    }
}

bool Tfrm_SelectClass::SelectionChanged() {
    ADOQuery1->first();
    const int rows = ADOQuery1->recordCount();
    for (int k = 0; k < CheckListBox1->count(); ++k) {
        if (k >= rows)
            return true;
        const fw::Field& chosen = ADOQuery1->fieldByName("是否选择");
        if (chosen.isNull() || chosen.asFloat() != (Ticked(k) ? 1.0 : 0.0))
            return true;
        ADOQuery1->next();
    }
    return false;
}

// After a refused change the list shows the running exam's classes again.
void Tfrm_SelectClass::TickStoredChoice() {
    ADOQuery1->first();
    const int n = qMin(ADOQuery1->recordCount(), CheckListBox1->count());
    for (int k = 0; k < n; ++k) {
        CheckListBox1->item(k)->setCheckState(
            FlagIsSet(ADOQuery1->fieldByName("是否选择")) ? Qt::Checked : Qt::Unchecked);
        ADOQuery1->next();
    }
}

void Tfrm_SelectClass::CheckRowsMatchList() {
    const int n = ADOQuery1->active() ? ADOQuery1->recordCount() : 0;
    bool same = n == CheckListBox1->count();
    if (same && n > 0) {
        ADOQuery1->first();
        for (int k = 0; k < n && same; ++k) {
            same = ADOQuery1->fieldByName("班级").asString() == CheckListBox1->item(k)->text();
            ADOQuery1->next();
        }
    }
    if (!same)
        throw fw::Error("考试班级已被修改，与班级列表不再一致，未作任何改动。"
                        "请重新打开“选择班级...”。");
}

void Tfrm_SelectClass::Btn_OKClick(QObject*) {
    if (frm_Main->Btn_Start->Tag == 1 && SelectionChanged()) {
        fw::dialogs().showMessage("已经开始考试，不允许选择班级!");
        TickStoredChoice();
        return;
    }
    // The class rows are read afresh and matched against the list before
    // anything changes.
    ADOQuery1->close();
    ADOQuery1->open();
    CheckRowsMatchList();

    fw::Table* examinees = frm_Main->ADOTable1;
    examinees->close();
    examinees->open();
    examinees->setFiltered(false);

    QString filter;
    ADOQuery1->first();
    const int n = ADOQuery1->recordCount();
    for (int k = 0; k < n; ++k) {
        ADOQuery1->edit();
        if (Ticked(k)) {
            filter += "班级=" + Quoted(CheckListBox1->item(k)->text()) + " or ";
            ADOQuery1->fieldByName("是否选择").setAsInteger(1);
        } else {
            ADOQuery1->fieldByName("是否选择").setAsInteger(0);
        }
        ADOQuery1->post();
        ADOQuery1->next();
    }
    if (filter.isEmpty())
        filter = "班级='*'";
    else
        filter.chop(4);
    examinees->setFilter(filter);
    examinees->setFiltered(true);
}

void Tfrm_SelectClass::CheckBox1Click(QObject*) {
    for (int k = 0; k < CheckListBox1->count(); ++k)
        CheckListBox1->item(k)->setCheckState(Ticked(k) ? Qt::Unchecked : Qt::Checked);
}

} // namespace server
