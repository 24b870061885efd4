#include "client/Unit_login.h"

#include "client/Unit_main.h"
#include "framework/core/Application.h"
#include "framework/core/ClientSocket.h"
#include "framework/core/Error.h"
#include "framework/core/ProfileFile.h"
#include "framework/data/Query.h"
#include "framework/widgets/Dialogs.h"
#include "framework/widgets/Label.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace client {

Tfrm_Login* frm_Login = nullptr;

namespace {

// A field's value as text; a null value has none.
QString FieldText(const fw::Field& field) {
    if (field.isNull())
        throw fw::Error(
            QString("The field %1 is null and cannot be taken as text.").arg(field.fieldName()));
    return field.asString();
}

} // namespace

Tfrm_Login::Tfrm_Login(QWidget* parent) : Form(parent) {
    shapeDialog("frm_Login", "考生登录", 366, 191, 19);

    Label1 = new QLabel("输入准考证号", this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(56, 24, 114, 19);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    Edit1->setGeometry(56, 56, 257, 41);
    Edit1->setMaxLength(8);
    Edit1->setFont(fw::formFont(32));
    QPalette colours = Edit1->palette();
    colours.setColor(QPalette::Base, fw::desktopColor());
    colours.setColor(QPalette::Text, Qt::white);
    Edit1->setPalette(colours);

    const auto button = [this](const char* name, const QString& caption, int left,
                               QStyle::StandardPixmap picture) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setGeometry(left, 120, 85, 32);
        b->setFont(fw::formFont(16));
        b->setIcon(style()->standardIcon(picture));
        return b;
    };
    BitBtn1 = button("BitBtn1", "确定", 64, QStyle::SP_DialogOkButton);
    BitBtn2 = button("BitBtn2", "取消", 160, QStyle::SP_DialogCancelButton);
    setDefaultButton(BitBtn1);
    setCancelButton(BitBtn2);

    Label2 = new fw::Label("设置", this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(296, 160, 38, 19);
    QFont link = Label2->font();
    link.setUnderline(true);
    Label2->setFont(link);
    QPalette blue = Label2->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    Label2->setPalette(blue);
    Label2->setCursor(Qt::PointingHandCursor);

    setTabOrder(Edit1, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    setActiveControl(Edit1);

    fw::on(BitBtn1, &QPushButton::clicked, this, &Tfrm_Login::BitBtn1Click);
    fw::on(BitBtn2, &QPushButton::clicked, this, &Tfrm_Login::BitBtn2Click);
    fw::on(Label2, &fw::Label::clicked, this, &Tfrm_Login::Label2Click);
}

Tfrm_Login::~Tfrm_Login() {
    if (frm_Login == this)
        frm_Login = nullptr;
}

void Tfrm_Login::FormShow(QObject*) {
    fw::ProfileFile ini(IniFileName());
    ServerIp = ini.readString(IniSection, "ServerIp", "");
    ExamTime = ini.readString(IniSection, "ExamTime", "90");
}

void Tfrm_Login::FormClose(QObject*, fw::CloseAction& Action) {
    if (LoginAccepted)
        Action = fw::CloseAction::caFree;
    else
        fw::terminate();
}

void Tfrm_Login::BitBtn1Click(QObject*) {
    fw::Query* query = frm_Main->ADOQuery1;
    query->paramByName("zkzh").setValue(Edit1->text());
    query->close();
    try {
        query->open();
    } catch (const std::exception&) {
        return; // a lookup that fails is dropped without a word
    }
    if (query->isEmpty()) {
        fw::dialogs().showMessage("准考证号错误！");
        return;
    }
    ExamNo = FieldText(query->fieldByName("准考证号"));
    ExamineeName = FieldText(query->fieldByName("姓名"));
    frm_Main->ClientSocket1->setAddress(ServerIp);
    frm_Main->ClientSocket1->open();
}

void Tfrm_Login::BitBtn2Click(QObject*) {
    fw::terminate();
}

void Tfrm_Login::Label2Click(QObject*) {
    // The server's "00" may come while the box is open: the window then
    // closes after the box, with what the box wrote.
    const auto hold = holdClose();
    fw::ProfileFile ini(IniFileName());
    ServerIp = ini.readString(IniSection, "ServerIp", "");
    QString value = ServerIp;
    if (!fw::dialogs().inputQuery("设置", "请指定考试服务器IP　　　", value, 255))
        return;
    ServerIp = value;
    ini.writeString(IniSection, "ServerIp", ServerIp);
}

} // namespace client
