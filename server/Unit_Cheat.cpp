#include "server/Unit_Cheat.h"

#include "framework/data/DataSource.h"
#include "framework/data/Query.h"
#include "framework/widgets/DbControls.h"
#include "framework/widgets/Dialogs.h"
#include "framework/widgets/Guard.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"

#include <QLabel>
#include <QPushButton>

namespace server {

Tfrm_Cheat* frm_Cheat = nullptr;

Tfrm_Cheat::Tfrm_Cheat(QWidget* parent) : Dialog(parent) {
    shapeDialog("frm_Cheat", "作弊处理", 393, 268, 14);

    const auto label = [this](const char* name, const QString& caption, QRect place,
                              int pixelHeight) {
        auto* l = new QLabel(caption, this);
        l->setObjectName(name);
        l->setFont(fw::formFont(pixelHeight));
        l->setGeometry(place);
        return l;
    };
    const auto dbText = [this](const char* name, QRect place) {
        auto* t = new fw::DBText(this);
        t->setObjectName(name);
        t->setGeometry(place);
        return t;
    };
    Label1 = label("Label1", "准考证号：", {16, 16, 80, 16}, 16);
    DBText1 = dbText("DBText1", {96, 16, 65, 17});
    // The fonts standing in for 宋体 set digits wider than 宋体 does: the box
    // grows, at most up to the name's label, so an 8-character exam number
    // shows whole.
    DBText1->resize(qBound(65, DBText1->fontMetrics().horizontalAdvance("00000000") + 2, 104), 17);
    Label2 = label("Label2", "姓名：", {200, 16, 48, 16}, 16);
    Label4 = label("Label4", QString(), {248, 16, 0, 14}, 14);
    Label3 = label("Label3", "作弊时间：", {16, 40, 70, 14}, 14);
    DBText2 = dbText("DBText2", {96, 40, 193, 17});
    Label5 = label("Label5", "备注", {16, 64, 28, 14}, 14);

    DBMemo1 = new fw::DBMemo(this);
    DBMemo1->setObjectName("DBMemo1");
    DBMemo1->setGeometry(16, 88, 361, 121);

    Button1 = new QPushButton("确定", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(120, 224, 81, 29);
    Button2 = new QPushButton("取消", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(208, 224, 81, 29);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, DBMemo1);
    setActiveControl(Button1);

    ADOQuery1 = new fw::Query(this);
    ADOQuery1->setObjectName("ADOQuery1");
    ADOQuery1->setConnection(frm_Main->ADOConnection1);
    ADOQuery1->setSQL("select 准考证号,作弊时间,备注  from 作弊处理 where 准考证号=:zkzh");
    ADOQuery1->paramByName("zkzh").setDataType(fw::DataType::String);
    ADOQuery1->paramByName("zkzh").setSize(50);
    DataSource1 = new fw::DataSource(this);
    DataSource1->setObjectName("DataSource1");
    DataSource1->setDataSet(ADOQuery1);
    DBText1->setDataSource(DataSource1);
    DBText1->setDataField("准考证号");
    DBText2->setDataSource(DataSource1);
    DBText2->setDataField("作弊时间");
    DBMemo1->setDataSource(DataSource1);
    DBMemo1->setDataField("备注");

    fw::on(Button1, &QPushButton::clicked, this, &Tfrm_Cheat::Button1Click);
    fw::on(Button2, &QPushButton::clicked, this, &Tfrm_Cheat::Button2Click);
}

Tfrm_Cheat::~Tfrm_Cheat() {
    // The controls go before the data source and the query they show.
    delete DBText1;
    delete DBText2;
    delete DBMemo1;
    delete DataSource1;
    delete ADOQuery1;
}

int Tfrm_Cheat::ShowModal() {
    if (!frm_Main->HasCurrentExaminee()) {
        fw::dialogs().showMessage(NoCurrentExaminee);
        return fw::mrCancel;
    }
    return exec();
}

void Tfrm_Cheat::FormShow(QObject*) {
    const QString examNo = frm_Main->ADOTable1->fieldByName("准考证号").asString();
    const QString name = frm_Main->ADOTable1->fieldByName("姓名").asString();
    ADOQuery1->paramByName("zkzh").setValue(examNo);
    ADOQuery1->close();
    ADOQuery1->open();
    if (ADOQuery1->isEmpty()) {
        ADOQuery1->append();
        ADOQuery1->fieldByName("准考证号").setAsString(examNo);
    }
    Label4->setText(name);
    Label4->adjustSize();
}

void Tfrm_Cheat::Button1Click(QObject*) {
    if (ADOQuery1->active())
        ADOQuery1->updateRecord();
    if (ADOQuery1->editing())
        ADOQuery1->post();
    accept();
}

void Tfrm_Cheat::Button2Click(QObject*) {
    if (ADOQuery1->editing())
        ADOQuery1->cancel();
    reject();
}

} // namespace server
