#include "server/Unit_Main.h"

#include "framework/core/Drives.h"
#include "framework/core/Error.h"
#include "framework/core/Gbk.h"
#include "framework/core/Sockets.h"
#include "framework/data/Connection.h"
#include "framework/data/DataSource.h"
#include "framework/data/Query.h"
#include "framework/widgets/DbControls.h"
#include "framework/widgets/Dialogs.h"
#include "framework/widgets/Guard.h"
#include "server/Unit_Cheat.h"
#include "server/Unit_Common.h"
#include "server/Unit_SelectClass.h"

#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <sys/socket.h>

namespace server {

Tfrm_Main* frm_Main = nullptr;

namespace {

const QString ExamDatabase = "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security "
                             "Info=False;Initial Catalog=Morvel;Data Source=(local)";
const QString ExcelFilter = "Microsoft Excel 工作簿(*.XLS)|*.xls";
const QString AccessFilter = "Microsoft Access 数据库(*.MDB)|*.mdb";
constexpr quint16 StatusPort = 5000;
// A client sends its login the moment it connects; a connection silent this
// long only holds a descriptor that a whole room needs.
constexpr int SilenceLimit = 10000;
// The console's statements wait no longer than this for a lock that
// someone else holds, so no client can hang collection or readmission.
const QString SessionLockTimeout = "set lock_timeout = '5s'";

// The longest queue of pending connections the system grants a listener: a
// whole computer room logs in at the same moment.
int SystemListenQueue() {
    QFile limit("/proc/sys/net/core/somaxconn");
    bool ok = false;
    const int size = limit.open(QIODevice::ReadOnly) ? limit.readAll().trimmed().toInt(&ok) : 0;
    return ok && size > 0 ? size : SOMAXCONN;
}

// A guard of the workflow: when the condition holds, says so and tells the
// handler to stop.
bool Refused(bool condition, const QString& text) {
    if (condition)
        fw::dialogs().showMessage(text);
    return condition;
}

// Posts the examinee's row; a row the database refuses is not left in
// editing, since the next report's lookup would retry it and fail for every
// examinee.
void PostOrCancel(fw::Table& examinees) {
    try {
        examinees.post();
    } catch (...) {
        examinees.cancel();
        throw;
    }
}

} // namespace

TagButton::TagButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}

bool OpenDialog::Execute() {
    return fw::dialogs().openFile(Filter, FileName);
}

Tfrm_Main::Tfrm_Main(QWidget* parent) : Form(parent) {
    setObjectName("frm_Main");
    CreateControls();
    CreateMenu();
    placeCentred(908, 553 + MainMenu1->sizeHint().height());
    CreateComponents();
    ConnectHandlers();
    FormCreate(this);
}

Tfrm_Main::~Tfrm_Main() {
    // The listener and the datasets go before the connections they run on.
    delete DBGrid1;
    delete ServerSocket1;
    delete ADOQuery1;
    delete ADOConnection2;
    delete ADOQuery3;
    delete ADOQuery2;
    delete ADOStoredProc2;
    delete ADOStoredProc1;
    delete DataSource1;
    delete ADOTable1;
    delete ADOConnection1;
}

void Tfrm_Main::CreateControls() {
    setWindowTitle("《Tavenic》考试服务器");
    setFont(fw::formFont(14));

    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    setCentralWidget(client);

    DBGrid1 = new fw::DBGrid(client);
    DBGrid1->setObjectName("DBGrid1");
    column->addWidget(DBGrid1, 1);

    Panel1 = new QFrame(client);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Panel1->setLineWidth(1);
    Panel1->setFixedHeight(64);
    column->addWidget(Panel1);

    const auto button = [this](const char* name, const QString& caption, int left,
                               QStyle::StandardPixmap picture) {
        auto* b = new TagButton(caption, Panel1);
        b->setObjectName(name);
        b->setGeometry(left, 12, 94, 34);
        b->setIcon(style()->standardIcon(picture));
        return b;
    };
    Btn_LoadQuestion = button("Btn_LoadQuestion", "装载试题", 52, QStyle::SP_DialogOpenButton);
    Btn_GenerateQuestion =
        button("Btn_GenerateQuestion", "生成试卷", 156, QStyle::SP_FileDialogDetailedView);
    Btn_Start = button("Btn_Start", "开始考试", 260, QStyle::SP_MediaPlay);
    Btn_Resume = button("Btn_Resume", "死机重考", 388, QStyle::SP_BrowserReload);
    Btn_Fraud = button("Btn_Fraud", "作弊处理", 492, QStyle::SP_MessageBoxWarning);
    Btn_End = button("Btn_End", "收卷", 596, QStyle::SP_DialogSaveButton);
    Btn_Exit = button("Btn_Exit", "退出", 732, QStyle::SP_DialogCloseButton);
    Btn_Resume->setEnabled(false);
    Btn_Fraud->setEnabled(false);
    Btn_End->setEnabled(false);
    setTabOrder(Btn_LoadQuestion, Btn_Fraud);
    setTabOrder(Btn_Fraud, Btn_Exit);
    setTabOrder(Btn_Exit, Btn_Resume);
    setTabOrder(Btn_Resume, Btn_GenerateQuestion);
    setTabOrder(Btn_GenerateQuestion, Btn_Start);
    setTabOrder(Btn_Start, Btn_End);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFixedHeight(21);
    StatusBar1->setSizeGripEnabled(false);
    StatusPanel1 = new QLabel("考试服务器：考生状态端口 5000", StatusBar1);
    StatusPanel1->setObjectName("StatusPanel1");
    StatusBar1->addPermanentWidget(StatusPanel1);
    setStatusBar(StatusBar1);
}

void Tfrm_Main::CreateMenu() {
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName("MainMenu1");
    setMenuBar(MainMenu1);
    const auto item = [](QMenu* menu, const char* name, const QString& caption) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        return action;
    };
    F1 = MainMenu1->addMenu("文件(&F)");
    F1->setObjectName("F1");
    N1 = item(F1, "N1", "导入考生名单...");
    N2 = item(F1, "N2", "选择班级...");
    N3 = F1->addSeparator();
    N3->setObjectName("N3");
    N4 = item(F1, "N4", "退出");
    H1 = MainMenu1->addMenu("帮助(&H)");
    H1->setObjectName("H1");
    N5 = item(H1, "N5", "帮助内容");
    N6 = item(H1, "N6", "关于...");
}

void Tfrm_Main::CreateComponents() {
    const auto named = [](auto* component, const char* name) {
        component->setObjectName(name);
        return component;
    };
    ADOConnection1 = named(new fw::Connection(this), "ADOConnection1");
    ADOConnection1->setLoginPrompt(false);
    ADOConnection1->setConnectionString(ExamDatabase);
    ADOConnection1->open();
    ADOConnection1->execute(SessionLockTimeout);

    ADOTable1 = named(new fw::Table(this), "ADOTable1");
    ADOTable1->setConnection(ADOConnection1);
    ADOTable1->setTableName("考生信息");
    DataSource1 = named(new fw::DataSource(this), "DataSource1");
    DataSource1->setDataSet(ADOTable1);
    DBGrid1->setDataSource(DataSource1);
    DBGrid1->addColumn("考生ID", "序号", 42);
    DBGrid1->addColumn("准考证号", "准考证号", 101);
    DBGrid1->addColumn("姓名", "姓名", 94);
    DBGrid1->addColumn("班级", "班级", 200);
    DBGrid1->addColumn("IP", "IP", 145);
    DBGrid1->addColumn("考试状态", "考试状态", 164);

    ADOStoredProc1 = named(new fw::StoredProc(this), "ADOStoredProc1");
    ADOStoredProc1->setConnection(ADOConnection1);
    ADOStoredProc2 = named(new fw::StoredProc(this), "ADOStoredProc2");
    ADOStoredProc2->setConnection(ADOConnection1);
    ADOStoredProc2->setProcedureName("mark;1");
    ADOStoredProc2->parameters().add("@ScoreDB", fw::DataType::String, 255);
    ADOStoredProc2->parameters().add("@ClassName", fw::DataType::String, 255);

    ADOQuery2 = named(new fw::Query(this), "ADOQuery2");
    ADOQuery2->setConnection(ADOConnection1);
    ADOQuery2->setSQL("select a.班级,a.准考证号,a.姓名 from  考生信息 a inner join 操作题答卷 b "
                      "on a.准考证号=b.准考证号 where a.班级=:bj");
    ADOQuery2->paramByName("bj").setDataType(fw::DataType::FixedChar);
    ADOQuery2->paramByName("bj").setSize(255);
    // The archives themselves, read one at a time as they are written out.
    ADOQuery3 = named(new fw::Query(this), "ADOQuery3");
    ADOQuery3->setConnection(ADOConnection1);
    ADOQuery3->setSQL("select a.班级,a.准考证号,a.姓名,b.操作题答卷 from  考生信息 a inner join "
                      "操作题答卷 b on a.准考证号=b.准考证号 where a.班级=:bj");
    ADOQuery3->paramByName("bj").setDataType(fw::DataType::FixedChar);
    ADOQuery3->paramByName("bj").setSize(255);
    ADOQuery3->setCursorType(fw::Dataset::CursorType::ForwardOnly);

    ADOConnection2 = named(new fw::Connection(this), "ADOConnection2");
    ADOConnection2->setLoginPrompt(false);
    ADOQuery1 = named(new fw::Query(this), "ADOQuery1");
    ADOQuery1->setConnection(ADOConnection2);

    OpenDialog1.Filter = ExcelFilter;

    ServerSocket1 = named(new fw::ServerSocket(this), "ServerSocket1");
    ServerSocket1->setPort(StatusPort);
    ServerSocket1->setListenBacklog(SystemListenQueue());
    ServerSocket1->setSilenceLimit(SilenceLimit);

    RefusalLine = new QTimer(this);
    RefusalLine->setSingleShot(true);
    RefusalLine->setTimerType(Qt::PreciseTimer);
    connect(RefusalLine, &QTimer::timeout, this, &Tfrm_Main::ShowRefusals);
}

void Tfrm_Main::ConnectHandlers() {
    fw::on(Btn_LoadQuestion, &QPushButton::clicked, this, &Tfrm_Main::Btn_LoadQuestionClick);
    fw::on(Btn_GenerateQuestion, &QPushButton::clicked, this,
           &Tfrm_Main::Btn_GenerateQuestionClick);
    fw::on(Btn_Start, &QPushButton::clicked, this, &Tfrm_Main::Btn_StartClick);
    fw::on(Btn_Resume, &QPushButton::clicked, this, &Tfrm_Main::Btn_ResumeClick);
    fw::on(Btn_Fraud, &QPushButton::clicked, this, &Tfrm_Main::Btn_FraudClick);
    fw::on(Btn_End, &QPushButton::clicked, this, &Tfrm_Main::Btn_EndClick);
    fw::on(Btn_Exit, &QPushButton::clicked, this, &Tfrm_Main::Btn_ExitClick);
    fw::on(N1, &QAction::triggered, this, &Tfrm_Main::N1Click);
    fw::on(N2, &QAction::triggered, this, &Tfrm_Main::N2Click);
    fw::on(N4, &QAction::triggered, this, &Tfrm_Main::Btn_ExitClick);
    fw::on(ServerSocket1, &fw::ServerSocket::clientRead, this, &Tfrm_Main::ServerSocket1ClientRead);
    fw::on(ServerSocket1, &fw::ServerSocket::clientError, this,
           &Tfrm_Main::ServerSocket1ClientError);
    fw::on(ServerSocket1, &fw::ServerSocket::acceptError, this,
           &Tfrm_Main::ServerSocket1AcceptError);
    fw::on(ServerSocket1, &fw::ServerSocket::silentClosed, this,
           &Tfrm_Main::ServerSocket1ClientSilent);
}

bool Tfrm_Main::HasCurrentExaminee() const {
    return ADOTable1->active() && ADOTable1->recNo() > 0;
}

// ---- start-up and closing ----

void Tfrm_Main::FormCreate(QObject*) {
    AppPath = fw::executableFolder();
}

void Tfrm_Main::FormShow(QObject*) {
    UnfinishedSittingAtShow = HasUnfinishedSitting(*ADOConnection1);
}

void Tfrm_Main::FormClose(QObject*, CloseAction& Action) {
    if (Btn_Start->Tag == 1) {
        fw::dialogs().showMessage("请先收卷！");
        Action = CloseAction::caNone;
        return;
    }
    if (fw::dialogs().messageDlg("是否真的要关闭考试服务器？", fw::MsgDlgType::Information,
                                 fw::MsgDlgButtons::YesNo) == fw::mrNo)
        Action = CloseAction::caNone;
}

void Tfrm_Main::Btn_ExitClick(QObject*) {
    close();
}

// ---- the exam workflow ----

bool Tfrm_Main::ChooseFile(const QString& filter) {
    OpenDialog1.Filter = filter;
    return OpenDialog1.Execute();
}

void Tfrm_Main::CallProcedure(const QString& name, const QString& fileName) {
    ADOStoredProc1->setProcedureName(name);
    ADOStoredProc1->refreshParameters();
    if (!fileName.isNull())
        ADOStoredProc1->paramByName("@filename").setValue(fileName);
    ADOStoredProc1->execProc();
}

void Tfrm_Main::N1Click(QObject*) {
    if (Refused(ExamineeListImported, "考生名单已导入，无需再次导入!"))
        return;
    if (!ChooseFile(ExcelFilter))
        return;
    CallProcedure("ImportExamineeInfo", OpenDialog1.FileName);
    ExamineeListImported = true;
    fw::dialogs().showMessage("考生名单已导入!");
}

void Tfrm_Main::N2Click(QObject*) {
    if (Refused(!ExamineeListImported, "请先导入考生名单!"))
        return;
    frm_SelectClass->ShowModal();
}

void Tfrm_Main::Btn_LoadQuestionClick(QObject*) {
    if (!ChooseFile(AccessFilter))
        return;
    CallProcedure("ImportQuestion", OpenDialog1.FileName);
    fw::dialogs().showMessage("试题加载完毕!");
    Btn_LoadQuestion->Tag = 1;
}

void Tfrm_Main::Btn_GenerateQuestionClick(QObject*) {
    if (Refused(Btn_LoadQuestion->Tag == 0, "请先加载试题!"))
        return;
    if (Refused(!frm_SelectClass->AnyClassChecked(), "请先选择考试班级!"))
        return;
    if (Refused(Btn_End->Tag == 0 && Btn_Start->Tag == 1, "请先收卷!"))
        return;
    CallProcedure("GenerateQuestionTable");
    fw::dialogs().showMessage("试卷生成完毕!");
    Btn_GenerateQuestion->Tag = 1;
}

void Tfrm_Main::Btn_StartClick(QObject*) {
    if (Refused(Btn_GenerateQuestion->Tag == 0, "请先生成试卷!"))
        return;
    CallProcedure("GrantPermissions");
    ServerSocket1->open();
    Btn_Start->Tag = 1;
    Btn_LoadQuestion->setEnabled(false);
    Btn_GenerateQuestion->setEnabled(false);
    Btn_Resume->setEnabled(true);
    Btn_Fraud->setEnabled(true);
    Btn_End->setEnabled(true);
}

void Tfrm_Main::Btn_ResumeClick(QObject*) {
    if (Refused(!HasCurrentExaminee(), NoCurrentExaminee))
        return;
    // The examinee confirmed is the one reset, even when a report moves the
    // grid's row while the question is open.
    const QString examNo = ADOTable1->fieldByName("准考证号").asString();
    const QString name = ADOTable1->fieldByName("姓名").asString();
    const QString question =
        "是否要对当前选择的考生重新考试？" + QString("\r\r") + examNo + "-" + name;
    if (fw::dialogs().messageBox(question, "警告",
                                 fw::MB_OKCANCEL | fw::MB_ICONQUESTION | fw::MB_DEFBUTTON2) !=
        fw::IDOK)
        return;
    if (!ADOTable1->active() || !ADOTable1->locate("准考证号", examNo)) {
        fw::dialogs().showMessage("考生 " + examNo + "-" + name + " 已不在考生列表中，未作改动。");
        return;
    }
    ADOTable1->edit();
    ADOTable1->fieldByName("登录标志").setAsInteger(0);
    ADOTable1->fieldByName("IP").setAsString("");
    ADOTable1->fieldByName("考试状态").setAsString("");
    PostOrCancel(*ADOTable1);
}

void Tfrm_Main::Btn_FraudClick(QObject*) {
    frm_Cheat->ShowModal();
}

void Tfrm_Main::Btn_EndClick(QObject*) {
    if (fw::dialogs().messageBox("请确认考生都已交卷。是否真的要收卷？", "提示",
                                 fw::MB_OKCANCEL | fw::MB_ICONQUESTION) != fw::IDOK)
        return;
    frm_SelectClass->CheckRowsMatchList();
    CollectResults();
    MarkClassesExamined();
    Btn_Resume->setEnabled(false);
    Btn_Fraud->setEnabled(false);
    Btn_End->setEnabled(false);
    Btn_LoadQuestion->setEnabled(true);
    Btn_GenerateQuestion->setEnabled(true);
    Btn_GenerateQuestion->Tag = 0;
    ADOTable1->close();
    fw::dialogs().showMessage("收卷完成!");
    Btn_LoadQuestion->Tag = 0;
    Btn_Start->Tag = 0;
    Btn_End->Tag = 1;
    ServerSocket1->close();
}

// The ticked classes of the class dialog become examined, row by row of its
// class query, which holds one row per list item.
void Tfrm_Main::MarkClassesExamined() {
    fw::Query* classes = frm_SelectClass->ADOQuery1;
    if (!classes->active())
        return;
    classes->first();
    const int n = classes->recordCount();
    for (int i = 0; i < n; ++i) {
        if (frm_SelectClass->Ticked(i)) {
            classes->edit();
            classes->fieldByName("是否已考").setAsInteger(1);
            classes->post();
        }
        classes->next();
    }
}

// ---- the status listener ----

void Tfrm_Main::ServerSocket1ClientRead(QObject*, fw::ClientConnection* Socket) {
    const QByteArray message = Socket->receiveBytes();
    const char code = message.isEmpty() ? '\0' : message.at(0);
    const QString examNo = fw::fromGbk(message.mid(1, 8));
    const QString peer = Socket->remoteAddress();
    // Whatever a peer on the network sends must not open a box on the
    // invigilator's screen nor leave a row in editing.
    if (code < '0' || code > '9')
        return Ignore(peer, message, "代码不是数字");
    if (!ADOTable1->active())
        return Ignore(peer, message, "考生列表未打开");
    if (!ADOTable1->locate("准考证号", examNo))
        return Ignore(peer, message, "准考证号不在考生列表中");
    ADOTable1->edit();
    // A login is answered once it is stored: the database lets the client
    // at the recorded address reach its examinee's rows from then on.
    QByteArray answer;
    switch (code - '0') {
    case 1:
        if (fw::Field& flag = ADOTable1->fieldByName("登录标志");
            !flag.isNull() && flag.asInteger() == 0) {
            ADOTable1->fieldByName("IP").setAsString(peer);
            ADOTable1->fieldByName("考试状态").setAsString("登录成功!");
            flag.setAsInteger(1);
            answer = "00";
        } else {
            answer = "11";
        }
        break;
    case 2:
        ADOTable1->fieldByName("考试状态").setAsString("正在考试中...");
        break;
    case 3:
        ADOTable1->fieldByName("考试状态").setAsString("交卷结束!");
        break;
    default:
        break;
    }
    PostOrCancel(*ADOTable1);
    if (!answer.isEmpty())
        Socket->sendBytes(answer);
}

void Tfrm_Main::Ignore(const QString& peer, const QByteArray& message, const QString& why) {
    QString shown = fw::fromGbk(message.left(9));
    for (QChar& c : shown)
        if (!c.isPrint())
            c = '?';
    ShowRefusal(Refusal::Report, QString("已忽略 %1 的报告“%2”：%3").arg(peer, shown, why));
}

void Tfrm_Main::ShowRefusal(Refusal kind, const QString& text) {
    WaitingRefusal& waiting = RefusalsWaiting[kind];
    waiting.text = text;
    ++waiting.times;
    ShowRefusals();
}

void Tfrm_Main::ShowRefusals() {
    if (RefusalsWaiting.empty())
        return;
    if (RefusalShown.isValid() && RefusalShown.elapsed() < 1000) {
        if (!RefusalLine->isActive())
            RefusalLine->start(int(1000 - RefusalShown.elapsed()));
        return;
    }
    QStringList line;
    for (const auto& [kind, waiting] : RefusalsWaiting)
        line << (waiting.times == 1
                     ? waiting.text
                     : QString("%1（共 %2 次）").arg(waiting.text).arg(waiting.times));
    StatusBar1->showMessage(line.join("；"));
    RefusalShown.start();
    RefusalsWaiting.clear();
}

void Tfrm_Main::ServerSocket1ClientError(QObject*, fw::ClientConnection*, int& ErrorCode) {
    ErrorCode = 0;
}

void Tfrm_Main::ServerSocket1AcceptError(QObject*, const QString& Reason) {
    ShowRefusal(Refusal::Accepting,
                QString("暂时无法接受新的连接（%1），稍后自动重试").arg(Reason));
}

void Tfrm_Main::ServerSocket1ClientSilent(QObject*, const QString& Peer) {
    ShowRefusal(Refusal::Silent, QString("已关闭 %1 的连接：连接后 %2 秒内没有发送任何内容")
                                     .arg(Peer)
                                     .arg(SilenceLimit / 1000));
}

// ---- collection ----

namespace {

const QString CreateScoreTable =
    "create table 成绩表(准考证号 varchar(8),姓名 varchar(8) ,班级 varchar(20),选择 integer,判断 "
    "integer,填空 integer,备注 varchar(255))";

// Blanks and control characters off both ends, nothing else.
QString TrimBlanks(const QString& text) {
    qsizetype first = 0, last = text.size();
    while (first < last && text.at(first).unicode() <= ' ')
        ++first;
    while (last > first && text.at(last - 1).unicode() <= ' ')
        --last;
    return text.mid(first, last - first);
}

// The archive file of an examinee: class, exam number and name (without
// asterisks) run together, trimmed, ".rar".
QString ArchiveFileName(const QString& cls, const QString& examNo, QString name) {
    return TrimBlanks(cls + examNo + name.remove('*')) + ".rar";
}

// A name that stays one entry inside its folder: no separator of either
// form, and not the folder itself or its parent.
bool StaysInside(const QString& name) {
    return !name.trimmed().isEmpty() && name != "." && name != ".." && !name.contains('/') &&
           !name.contains('\\') && !name.contains(QChar(0));
}

// The archive file name of the row an examinee query stands on; raises for
// a name that would leave its folder.
QString ArchiveFile(fw::Dataset& examinee, const QString& cls) {
    const QString examNo = examinee.fieldByName("准考证号").asString();
    const QString fileName = ArchiveFileName(examinee.fieldByName("班级").asString(), examNo,
                                             examinee.fieldByName("姓名").asString());
    if (!StaysInside(fileName))
        throw fw::Error("考生“" + examNo + "”的答卷文件名“" + fileName + "”含有路径字符，班级“" +
                        cls + "”未能收卷。");
    return fileName;
}

} // namespace

void Tfrm_Main::CollectResults() {
    for (const QString& cls : SelectedClasses)
        CollectClass(cls);
}

void Tfrm_Main::CollectClass(const QString& cls) {
    // A ";" would end the score database's path inside its connection text.
    if (!StaysInside(cls) || cls.contains(';'))
        throw fw::Error("班级名“" + cls + "”不能用作文件夹名，该班级未能收卷。");
    const QString folder = AppPath + cls;
    const QString scoreDb = folder + "\\score.mdb";
    const QString scoreConnection = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + scoreDb;
    const QString archiveFolder = folder + "\\操作题";

    // Every archive's file name is checked before anything is written.
    ADOQuery2->close();
    ADOQuery2->paramByName("bj").setValue(cls);
    ADOQuery2->open();
    for (ADOQuery2->first(); !ADOQuery2->eof(); ADOQuery2->next())
        ArchiveFile(*ADOQuery2, cls);

    QDir().mkdir(fw::hostPath(folder));
    QFile::remove(fw::hostPath(scoreDb));
    fw::createCatalog(scoreConnection);
    ADOConnection2->setConnectionString(scoreConnection);
    try {
        ADOQuery1->sqlClear();
        ADOQuery1->sqlAdd(CreateScoreTable);
        ADOQuery1->execSQL();
        ADOStoredProc2->paramByName("@ScoreDB").setValue(fw::hostPath(scoreDb));
        ADOStoredProc2->paramByName("@ClassName").setValue(cls);
        ADOStoredProc2->execProc();
    } catch (...) {
        // Closed, so that a further "收卷" can make the file anew.
        ADOConnection2->close();
        throw;
    }
    ADOConnection2->close();

    QDir().mkdir(fw::hostPath(archiveFolder));
    // One archive in memory at a time, straight from the database to its file.
    ADOQuery3->close();
    ADOQuery3->paramByName("bj").setValue(cls);
    ADOQuery3->open();
    try {
        for (ADOQuery3->first(); !ADOQuery3->eof(); ADOQuery3->next())
            ADOQuery3->fieldByName("操作题答卷")
                .saveToFile(archiveFolder + "\\" + ArchiveFile(*ADOQuery3, cls));
    } catch (...) {
        ADOQuery3->close(); // the connection is free again
        throw;
    }
    ADOQuery3->close();
}

} // namespace server
