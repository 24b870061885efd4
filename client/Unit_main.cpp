#include "client/Unit_main.h"

#include "client/Unit_Instructions.h"
#include "client/Unit_login.h"
#include "framework/core/ClientSocket.h"
#include "framework/core/Drives.h"
#include "framework/core/Gbk.h"
#include "framework/core/ProfileFile.h"
#include "framework/data/Connection.h"
#include "framework/data/Query.h"
#include "framework/widgets/Dialogs.h"

namespace client {

QString ExamNo;
QString ExamineeName;
QString ServerIp;
QString WorkDir;
QString ExamTime;
bool LoginAccepted = false;
bool PaperReady = false;

Tfrm_Main* frm_Main = nullptr;

QString IniFileName() {
    return fw::executableFolder() + "Morvel.ini";
}

namespace {

constexpr quint16 StatusPort = 5000;

// The client's login to the exam database; the data source follows it.
const QString ExamDatabase = "Password=\"5093718\";Persist Security Info=True;User ID=Morvel;"
                             "Initial Catalog=Morvel;Data Source=";

} // namespace

Tfrm_Main::Tfrm_Main(QWidget* parent) : Form(parent) {
    shapeDialog("frm_Main", QString(), 876, 569, 16);
    move(122, y());
    CreateLoginComponents();
    ConnectHandlers();
    FormCreate(this);
}

Tfrm_Main::~Tfrm_Main() {
    // The query and the socket go before the connection.
    delete ClientSocket1;
    delete ADOQuery1;
    delete ADOConnection1;
}

// ---- the login components ----

void Tfrm_Main::CreateLoginComponents() {
    ADOConnection1 = new fw::Connection(this);
    ADOConnection1->setObjectName("ADOConnection1");
    ADOConnection1->setProvider("SQLOLEDB.1");
    ADOConnection1->setLoginPrompt(false);

    ADOQuery1 = new fw::Query(this);
    ADOQuery1->setObjectName("ADOQuery1");
    ADOQuery1->setConnection(ADOConnection1);
    ADOQuery1->setSQL("select a.* from 考生信息 a inner join 考试情况 b on a.班级=b.班级 where "
                      "b.是否选择=1 and b.是否已考=0 and a.准考证号= :zkzh");
    ADOQuery1->paramByName("zkzh").setDataType(fw::DataType::FixedChar);
    ADOQuery1->paramByName("zkzh").setSize(255);

    ClientSocket1 = new fw::ClientSocket(this);
    ClientSocket1->setObjectName("ClientSocket1");
    ClientSocket1->setPort(StatusPort);
}

void Tfrm_Main::ConnectHandlers() {
    ADOConnection1->setBeforeConnect([this] { ADOConnection1BeforeConnect(ADOConnection1); });
    fw::on(ClientSocket1, &fw::ClientSocket::connectedToServer, this,
           &Tfrm_Main::ClientSocket1Connect);
    fw::on(ClientSocket1, &fw::ClientSocket::dataArrived, this, &Tfrm_Main::ClientSocket1Read);
    fw::on(ClientSocket1, &fw::ClientSocket::error, this, &Tfrm_Main::ClientSocket1Error);
}

void Tfrm_Main::FormCreate(QObject*) {
    fw::ProfileFile ini(IniFileName());
    WorkDir = ini.readString(IniSection, "WorkDir", "e:\\考生文件夹");
    setWindowTitle(ini.readString(IniSection, "Title", ""));
}

void Tfrm_Main::ADOConnection1BeforeConnect(QObject*) {
    ADOConnection1->setConnectionString(ExamDatabase + ServerIp);
}

void Tfrm_Main::ClientSocket1Connect(QObject*) {
    ClientSocket1->send(fw::toGbk("1" + ExamNo));
}

void Tfrm_Main::ClientSocket1Read(QObject*) {
    const QByteArray answer = ClientSocket1->read().left(2);
    // The server answers the login and nothing else: once it is accepted, a
    // further answer must neither show the instructions again nor drop the
    // connection that the exam reports on.
    if (LoginAccepted)
        return;
    if (answer == "00") {
        LoginAccepted = true;
        frm_Instructions->show();
        frm_Login->close();
    }
    if (answer == "11") {
        fw::dialogs().showMessage("准考证号重复！");
        ClientSocket1->close();
    }
}

void Tfrm_Main::ClientSocket1Error(QObject*, int& ErrorCode) {
    ErrorCode = 0;
}

// ---- the hand-in ----

// Closing the exam window, the main window, ends the program.
void Tfrm_Main::FormClose(QObject*, fw::CloseAction&) {}

} // namespace client
