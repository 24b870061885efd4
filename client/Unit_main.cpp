#include "client/Unit_main.h"

#include "client/Unit_Common.h"
#include "client/Unit_Instructions.h"
#include "client/Unit_login.h"
#include "framework/core/ClientSocket.h"
#include "framework/core/Convert.h"
#include "framework/core/Drives.h"
#include "framework/core/Error.h"
#include "framework/core/Gbk.h"
#include "framework/core/ProfileFile.h"
#include "framework/core/Shell.h"
#include "framework/core/Timer.h"
#include "framework/data/Connection.h"
#include "framework/data/DataSource.h"
#include "framework/data/Query.h"
#include "framework/desktop/Image.h"
#include "framework/widgets/DbControls.h"
#include "framework/widgets/Dialogs.h"
#include "framework/widgets/Label.h"

#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTabWidget>
#include <tuple>

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

// The examinee's paper of one kind: at most five rows in a new random order
// at every opening (the doubled blanks are the statements' own).
const QString ChoicePaper = "select a.ID,a.subject,a.a,a.b,a.c,a.d,a.pic,"
                            "b.QuestionID,b.准考证号,b.题号,b.试题类别,b.答题结果 "
                            "from 选择题 a inner join 试卷表 b on a.id=b.题号 "
                            "where 试题类别=1 and  准考证号=:zkzh order by random() limit 5";
const QString TrueFalsePaper = "select a.ID,a.subject,a.pic,"
                               "b.QuestionID,b.准考证号,b.题号,b.试题类别,b.答题结果 "
                               "from 判断题 a  inner join 试卷表 b on a.id=b.题号 "
                               "where  试题类别=2 and 准考证号=:zkzh order by random() limit 5";
const QString FillInPaper = "select a.ID,a.subject,a.pic,"
                            "b.QuestionID,b.准考证号,b.题号,b.试题类别,b.答题结果 "
                            "from 填空题 a inner join 试卷表 b on a.id=b.题号 "
                            "where  试题类别=3 and 准考证号=:zkzh order by random() limit 5";

const QString ViewHint = "双击图片可在IE中查看";

// ---- the layout's building blocks ----

template <class W> W* place(W* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(name);
    widget->setGeometry(left, top, width, height);
    return widget;
}

void colour(QWidget* widget, const QColor& text) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, text);
    widget->setPalette(palette);
}

// A label that takes the size of its text, as labels here do.
template <class L = QLabel>
L* label(QWidget* parent, const char* name, const QString& text, int left, int top,
         int fontPixelHeight) {
    auto* l = new L(text, parent);
    l->setObjectName(name);
    l->setFont(fw::formFont(fontPixelHeight));
    l->move(left, top);
    l->adjustSize();
    return l;
}

void setCaption(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

fw::DBMemo* memo(QWidget* parent, const char* name, fw::DataSource* source, const QString& field,
                 int left, int top, int width, int height) {
    auto* m = place(new fw::DBMemo(parent), name, left, top, width, height);
    m->setDataSource(source);
    m->setDataField(field);
    m->setReadOnly(true);
    m->setFocusPolicy(Qt::StrongFocus);
    m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    return m;
}

// A tab of the page control.
QWidget* sheet(QTabWidget* pages, const char* name, const QString& caption) {
    auto* page = new QWidget;
    page->setObjectName(name);
    pages->addTab(page, caption);
    return page;
}

// A scrolling box holding one picture control at its picture's natural size.
std::tuple<QScrollArea*, fw::Image*> pictureBox(QWidget* parent, const char* boxName,
                                                const char* imageName, int left, int top, int width,
                                                int height) {
    auto* box = place(new QScrollArea(parent), boxName, left, top, width, height);
    auto* image = new fw::Image;
    image->setObjectName(imageName);
    box->setWidget(image);
    box->setWidgetResizable(false);
    return {box, image};
}

} // namespace

Tfrm_Main::Tfrm_Main(QWidget* parent) : Form(parent) {
    shapeDialog("frm_Main", QString(), 876, 569, 16);
    move(122, y());
    CreateLoginComponents();
    CreateDatasets();
    CreatePanel1();
    CreatePageControl1();
    CreatePanel2();
    ConnectHandlers();
    FormCreate(this);
}

Tfrm_Main::~Tfrm_Main() {
    if (frm_Main == this)
        frm_Main = nullptr; // freed by its close
    // The datasets, the query and the socket go before the connection.
    delete ADOTable2;
    delete ADOTable1;
    delete ADOQuery4;
    delete ADOQuery3;
    delete ADOQuery2;
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

// ---- the exam ----

void Tfrm_Main::CreateDatasets() {
    const auto paper = [this](const char* name, const QString& sql) {
        auto* query = new fw::Query(this);
        query->setObjectName(name);
        query->setConnection(ADOConnection1);
        query->setSQL(sql);
        query->paramByName("zkzh").setDataType(fw::DataType::String);
        query->paramByName("zkzh").setSize(50);
        return query;
    };
    ADOQuery2 = paper("ADOQuery2", ChoicePaper);
    ADOQuery3 = paper("ADOQuery3", TrueFalsePaper);
    ADOQuery4 = paper("ADOQuery4", FillInPaper);

    const auto table = [this](const char* name, const QString& tableName) {
        auto* t = new fw::Table(this);
        t->setObjectName(name);
        t->setConnection(ADOConnection1);
        t->setTableName(tableName);
        return t;
    };
    ADOTable1 = table("ADOTable1", "操作题");
    ADOTable2 = table("ADOTable2", "操作题答卷");
    // Each row holds a whole work folder: the start reads the keys only, and
    // a row's archive comes from the database when the hand-in reads it.
    ADOTable2->setBlobsDeferred(true);

    const auto source = [this](const char* name, fw::Dataset* dataset) {
        auto* s = new fw::DataSource(this);
        s->setObjectName(name);
        s->setDataSet(dataset);
        return s;
    };
    DataSource1 = source("DataSource1", ADOQuery2);
    DataSource2 = source("DataSource2", ADOQuery3);
    DataSource3 = source("DataSource3", ADOQuery4);
    DataSource4 = source("DataSource4", ADOTable1);

    Timer1 = new fw::Timer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(60000);
    Timer1->setEnabled(false);
}

// The top band on the desktop's colour: class, exam number, name, and the
// minutes left in the gap of "考试时间    分钟".
void Tfrm_Main::CreatePanel1() {
    Panel1 = place(new QFrame(this), "Panel1", 0, 0, 876, 65);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setAutoFillBackground(true);
    QPalette desktop = Panel1->palette();
    desktop.setColor(QPalette::Window, fw::desktopColor());
    Panel1->setPalette(desktop);

    const auto white = [this](const char* name, const QString& text, int left) {
        QLabel* l = label(Panel1, name, text, left, 20, 24);
        colour(l, Qt::white);
        return l;
    };
    Label20 = white("Label20", "Label20", 47);
    Label1 = white("Label1", "Label1", 183);
    Label2 = white("Label2", "Label2", 311);
    Label3 = white("Label3", "考试时间    分钟", 592);
    Label4 = white("Label4", "100", 695);
    QFont bold = Label4->font();
    bold.setBold(true);
    Label4->setFont(bold);
    colour(Label4, Qt::yellow);
    setCaption(Label4, Label4->text());
}

void Tfrm_Main::CreatePageControl1() {
    PageControl1 = place(new QTabWidget(this), "PageControl1", 0, 65, 876, 448);
    CreateTabSheet1();
    CreateTabSheet2();
    CreateTabSheet3();
    CreateTaskSheets();
}

// "选择题": the question, the answer A to D with the four option texts beside
// the buttons, the question's picture.
void Tfrm_Main::CreateTabSheet1() {
    TabSheet1 = sheet(PageControl1, "TabSheet1", "选择题");

    Label5 = label(TabSheet1, "Label5", "题目", 8, 8, 16);
    DBMemo1 = memo(TabSheet1, "DBMemo1", DataSource1, "subject", 8, 30, 561, 130);
    DBRadioGroup1 = place(new fw::DBRadioGroup(TabSheet1), "DBRadioGroup1", 8, 168, 561, 176);
    DBRadioGroup1->setTitle("选择");
    DBRadioGroup1->setItems({"A", "B", "C", "D"});
    DBRadioGroup1->setDataSource(DataSource1);
    DBRadioGroup1->setDataField("答题结果");
    std::tie(ScrollBox2, Image1) = pictureBox(TabSheet1, "ScrollBox2", "Image1", 585, 8, 274, 337);

    // Each option text on the group, right of its button. The question
    // tables are the database's: the texts are shown, not edited.
    DBRadioGroup1->layout()->activate();
    const auto option = [this](const char* name, int index, const QString& field) {
        const QRadioButton* button = DBRadioGroup1->button(index);
        const QPoint at = button->mapTo(TabSheet1, QPoint(40, 0));
        auto* edit = place(new fw::DBEdit(TabSheet1), name, at.x(), 0, 561 - at.x(), 26);
        edit->move(at.x(), at.y() + (button->height() - edit->height()) / 2);
        edit->setDataSource(DataSource1);
        edit->setDataField(field);
        edit->setReadOnly(true);
        return edit;
    };
    DBEdit2 = option("DBEdit2", 0, "a");
    DBEdit3 = option("DBEdit3", 1, "b");
    DBEdit4 = option("DBEdit4", 2, "c");
    DBEdit5 = option("DBEdit5", 3, "d");

    setTabOrder(DBEdit2, DBEdit3);
    setTabOrder(DBEdit3, DBEdit4);
    setTabOrder(DBEdit4, DBEdit5);
    setTabOrder(DBEdit5, DBMemo1);
    setTabOrder(DBMemo1, DBRadioGroup1->button(0));
    for (int i = 1; i < 4; ++i)
        setTabOrder(DBRadioGroup1->button(i - 1), DBRadioGroup1->button(i));
    setTabOrder(DBRadioGroup1->button(3), ScrollBox2);
}

// "判断题": the statement and the answer 是 ("1") or 否 ("0"), in larger type.
void Tfrm_Main::CreateTabSheet2() {
    TabSheet2 = sheet(PageControl1, "TabSheet2", "判断题");
    TabSheet2->setFont(fw::formFont(19));

    Label6 = label(TabSheet2, "Label6", "题目", 8, 8, 16);
    DBMemo2 = memo(TabSheet2, "DBMemo2", DataSource2, "subject", 8, 30, 561, 170);
    DBRadioGroup2 = place(new fw::DBRadioGroup(TabSheet2), "DBRadioGroup2", 8, 208, 561, 80);
    DBRadioGroup2->setTitle("选择");
    DBRadioGroup2->setItems({"是", "否"}, {"1", "0"}, 2);
    DBRadioGroup2->setDataSource(DataSource2);
    DBRadioGroup2->setDataField("答题结果");
    std::tie(ScrollBox3, Image2) = pictureBox(TabSheet2, "ScrollBox3", "Image2", 585, 8, 274, 337);
}

// "填空题": the question and the typed answer, at most 50 bytes in GBK.
void Tfrm_Main::CreateTabSheet3() {
    TabSheet3 = sheet(PageControl1, "TabSheet3", "填空题");

    Label7 = label(TabSheet3, "Label7", "题目", 8, 8, 16);
    DBMemo3 = memo(TabSheet3, "DBMemo3", DataSource3, "subject", 8, 30, 561, 130);
    GroupBox1 = place(new QGroupBox("答题结果", TabSheet3), "GroupBox1", 8, 168, 561, 72);
    DBEdit6 = place(new fw::DBEdit(GroupBox1), "DBEdit6", 16, 30, 529, 28);
    DBEdit6->setDataSource(DataSource3);
    DBEdit6->setDataField("答题结果");
    DBEdit6->setMaxLength(50);
    DBEdit6->setMaxLengthInGbkBytes(true);
    std::tie(ScrollBox4, Image3) = pictureBox(TabSheet3, "ScrollBox4", "Image3", 585, 8, 274, 337);
}

// "操作题(一)" to "操作题(三)": a task's text and picture, the work folder as a
// link under them.
void Tfrm_Main::CreateTaskSheets() {
    struct Names {
        const char *sheet, *title, *memo, *box, *image, *folderTitle, *folder, *viewHint;
    };
    const auto task = [this](const Names& n, const QString& caption, const QString& field) {
        QWidget* page = sheet(PageControl1, n.sheet, caption);
        QLabel* title = label(page, n.title, "题目", 8, 8, 16);
        fw::DBMemo* text = memo(page, n.memo, DataSource4, field, 8, 30, 561, 307);
        text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        const auto [box, image] = pictureBox(page, n.box, n.image, 585, 8, 274, 329);
        image->setCursor(Qt::PointingHandCursor);
        image->setToolTip(ViewHint);
        QLabel* folderTitle = label(page, n.folderTitle, "考生文件夹：", 8, 352, 14);
        colour(folderTitle, Qt::blue);
        fw::Label* folder = label<fw::Label>(page, n.folder, n.folder, 92, 352, 14);
        QFont underlined = folder->font();
        underlined.setUnderline(true);
        folder->setFont(underlined);
        colour(folder, Qt::red);
        folder->setCursor(Qt::PointingHandCursor);
        setCaption(folder, folder->text());
        QLabel* viewHint = label(page, n.viewHint, ViewHint, 585, 345, 14);
        colour(viewHint, Qt::red);
        return std::tuple(page, title, text, box, image, folderTitle, folder, viewHint);
    };
    std::tie(TabSheet4, Label10, DBMemo4, ScrollBox1, Image4, Label8, Label9, Label17) = task(
        {"TabSheet4", "Label10", "DBMemo4", "ScrollBox1", "Image4", "Label8", "Label9", "Label17"},
        "操作题(一)", "subject1");
    std::tie(TabSheet5, Label11, DBMemo5, ScrollBox5, Image5, Label12, Label13, Label18) =
        task({"TabSheet5", "Label11", "DBMemo5", "ScrollBox5", "Image5", "Label12", "Label13",
              "Label18"},
             "操作题(二)", "subject2");
    std::tie(TabSheet6, Label14, DBMemo6, ScrollBox6, Image6, Label15, Label16, Label19) =
        task({"TabSheet6", "Label14", "DBMemo6", "ScrollBox6", "Image6", "Label15", "Label16",
              "Label19"},
             "操作题(三)", "subject3");
}

// The bottom band: the navigator over the current tab's questions, and "交卷".
void Tfrm_Main::CreatePanel2() {
    Panel2 = place(new QFrame(this), "Panel2", 0, 513, 876, 56);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    DBNavigator1 = place(new fw::DBNavigator(Panel2), "DBNavigator1", 240, 12, 264, 32);
    DBNavigator1->setDataSource(DataSource1);
    // The hints go by button kind in the navigator's fixed order: "保存" and
    // "放弃" land on insert and delete, which it doesn't show, so save and
    // cancel keep their own.
    DBNavigator1->setHints({"第一题", "上一题", "下一题", "最后一题", "保存", "放弃"});
    Button1 = place(new QPushButton("交卷", Panel2), "Button1", 600, 12, 97, 32);
}

void Tfrm_Main::ConnectHandlers() {
    ADOConnection1->setBeforeConnect([this] { ADOConnection1BeforeConnect(ADOConnection1); });
    fw::on(ClientSocket1, &fw::ClientSocket::connectedToServer, this,
           &Tfrm_Main::ClientSocket1Connect);
    fw::on(ClientSocket1, &fw::ClientSocket::dataArrived, this, &Tfrm_Main::ClientSocket1Read);
    fw::on(ClientSocket1, &fw::ClientSocket::error, this, &Tfrm_Main::ClientSocket1Error);

    fw::on(PageControl1, &QTabWidget::currentChanged, this, &Tfrm_Main::PageControl1Change);
    fw::on(Timer1, &fw::Timer::timeout, this, &Tfrm_Main::Timer1Timer);
    fw::on(ADOQuery2, &fw::Dataset::afterScroll, this, &Tfrm_Main::ADOQuery2AfterScroll);
    fw::on(ADOQuery3, &fw::Dataset::afterScroll, this, &Tfrm_Main::ADOQuery3AfterScroll);
    fw::on(ADOQuery4, &fw::Dataset::afterScroll, this, &Tfrm_Main::ADOQuery4AfterScroll);
    fw::on(DBRadioGroup1, &fw::DBRadioGroup::exited, this, &Tfrm_Main::DBRadioGroup1Exit);
    fw::on(DBRadioGroup2, &fw::DBRadioGroup::exited, this, &Tfrm_Main::DBRadioGroup2Exit);
    fw::on(DBEdit6, &fw::DBEdit::exited, this, &Tfrm_Main::DBEdit6Exit);

    for (fw::Image* image : {Image4, Image5, Image6})
        fw::on(image, &fw::Image::doubleClicked, this, &Tfrm_Main::Image4DblClick);
    for (fw::Label* link : {Label9, Label13, Label16})
        fw::on(link, &fw::Label::clicked, this, &Tfrm_Main::Label9Click);

    fw::on(Button1, &QPushButton::clicked, this, &Tfrm_Main::Button1Click);
}

// The exam start, before the window is on the screen. A step that fails ends
// it there: the window is shown all the same, and without PaperReady its
// close hands nothing in.
void Tfrm_Main::FormShow(QObject*) {
    const QRect workArea = screen()->availableGeometry();
    move(x(), (workArea.height() - frameGeometry().height()) / 2);

    for (fw::Query* paper : {ADOQuery2, ADOQuery3, ADOQuery4}) {
        paper->paramByName("zkzh").setValue(ExamNo);
        paper->open();
    }
    ADOTable1->open();
    ADOTable2->open();
    {
        // Not a change of the examinee's: the navigator stays on DataSource1.
        const QSignalBlocker quiet(PageControl1);
        PageControl1->setCurrentWidget(TabSheet1);
    }
    Timer1->setEnabled(true);
    ClientSocket1->send(fw::toGbk("2" + ExamNo));

    setCaption(Label1, ExamNo);
    setCaption(Label2, ExamineeName);
    setCaption(Label20, ADOQuery1->fieldByName("班级").asString());
    setCaption(Label9, WorkDir);
    setCaption(Label4, ExamTime);

    PrepareWorkFolder(ADOTable1->fieldByName("ExamFolder"), WorkDir, ExamNo);
    PaperReady = true;
}

void Tfrm_Main::PageControl1Change(QObject*) {
    switch (PageControl1->currentIndex()) {
    case 0:
        DBNavigator1->setDataSource(DataSource1);
        break;
    case 1:
        DBNavigator1->setDataSource(DataSource2);
        break;
    case 2:
        DBNavigator1->setDataSource(DataSource3);
        break;
    case 3:
        DBNavigator1->setDataSource(DataSource4);
        ShowBlobImage(ADOTable1->fieldByName("pic1"), Image4);
        break;
    case 4:
        DBNavigator1->setDataSource(DataSource4);
        ShowBlobImage(ADOTable1->fieldByName("pic2"), Image5);
        break;
    case 5:
        DBNavigator1->setDataSource(DataSource4);
        ShowBlobImage(ADOTable1->fieldByName("pic3"), Image6);
        break;
    }
    setCaption(Label9, WorkDir);
    setCaption(Label13, WorkDir);
    setCaption(Label16, WorkDir);
}

// Every minute: one minute less in Label4, until it reads 0 or less.
void Tfrm_Main::Timer1Timer(QObject*) {
    const int minutes = fw::strToInt(Label4->text());
    if (minutes <= 0) {
        Timer1->setEnabled(false);
        fw::dialogs().showMessage("考试结束，请准备交卷！");
        return;
    }
    setCaption(Label4, QString::number(minutes - 1));
}

namespace {

// The question number of this opening of the paper, and the question's picture.
void ShowQuestion(QLabel* number, fw::Dataset* paper, fw::Image* picture) {
    setCaption(number, "题目(" + QString::number(paper->recNo()) + ")");
    ShowBlobImage(paper->fieldByName("pic"), picture);
}

// An answer left: saved when it changed.
void SaveAnswer(fw::Dataset* paper) {
    paper->updateRecord();
    if (paper->modified())
        paper->post();
}

} // namespace

void Tfrm_Main::ADOQuery2AfterScroll(QObject*) {
    ShowQuestion(Label5, ADOQuery2, Image1);
}

void Tfrm_Main::ADOQuery3AfterScroll(QObject*) {
    ShowQuestion(Label6, ADOQuery3, Image2);
}

void Tfrm_Main::ADOQuery4AfterScroll(QObject*) {
    ShowQuestion(Label7, ADOQuery4, Image3);
}

void Tfrm_Main::DBRadioGroup1Exit(QObject*) {
    SaveAnswer(ADOQuery2);
}

void Tfrm_Main::DBRadioGroup2Exit(QObject*) {
    SaveAnswer(ADOQuery3);
}

void Tfrm_Main::DBEdit6Exit(QObject*) {
    SaveAnswer(ADOQuery4);
}

// ---- the pictures ----

// A task picture, saved beside the program under its control's name, shown
// in the web browser. The path is the browser's one argument, blanks and all.
void Tfrm_Main::Image4DblClick(QObject* Sender) {
    auto* image = static_cast<fw::Image*>(Sender);
    const QString path = fw::executableFolder() + image->objectName() + ".jpg";
    image->saveToFile(path);
    if (QFileInfo::exists(path))
        fw::shell().openProgram("IEXPLORE.EXE", path);
}

void Tfrm_Main::Label9Click(QObject*) {
    fw::shell().openPath(WorkDir);
}

// ---- the hand-in ----

void Tfrm_Main::Button1Click(QObject*) {
    close();
}

// Closing the exam window hands in, once the exam has started; the window,
// the program's main window, then goes and the program ends. A refused or
// cancelled hand-in, or one that fails, leaves the exam running.
void Tfrm_Main::FormClose(QObject*, fw::CloseAction& Action) {
    if (!PaperReady)
        return;
    if (HandingIn) {
        Action = fw::CloseAction::caNone; // one hand-in at a time
        return;
    }
    const QScopedValueRollback<bool> running(HandingIn, true);
    if (OfficeWindowOpen()) {
        fw::dialogs().showMessage(
            "请先关闭Word、Excel、PowerPoint、Franpage、Access窗口，然后交卷！");
        Action = fw::CloseAction::caNone;
        return;
    }
    if (fw::dialogs().messageBox("是否真的要交卷？", "提示",
                                 fw::MB_OKCANCEL | fw::MB_ICONQUESTION) != fw::IDOK) {
        Action = fw::CloseAction::caNone;
        return;
    }
    Button1->setFocus(); // the answer being edited is saved as its control is left
    HandIn();
    Action = fw::CloseAction::caFree;
}

// The work folder packed and stored, the answers still pending saved; only
// then is the server told. A step that fails puts the work folder back as it
// was (see Unit_Common) and raises.
void Tfrm_Main::HandIn() {
    try {
        PackWorkFolder(WorkDir, ExamNo);
        StoreArchive();
        WorkFolderStored(WorkDir, ExamNo);
        for (fw::Query* paper : {ADOQuery2, ADOQuery3, ADOQuery4})
            SaveAnswer(paper);
    } catch (const std::exception& failure) {
        if (ADOTable2->editing())
            ADOTable2->cancel();
        const QString notPutBack = PutBackWorkFolder(WorkDir, ExamNo);
        if (notPutBack.isEmpty())
            throw;
        throw fw::Error(QString::fromUtf8(failure.what()) + "\n" + notPutBack);
    }
    ClientSocket1->send(fw::toGbk("3" + ADOQuery1->fieldByName("准考证号").asString()));
}

// One row of answer archives per exam number: replaced when there is one.
void Tfrm_Main::StoreArchive() {
    if (ADOTable2->editing())
        ADOTable2->cancel(); // what a failed hand-in left
    if (ADOTable2->locate("准考证号", ExamNo))
        ADOTable2->edit();
    else
        ADOTable2->append();
    ADOTable2->fieldByName("准考证号").setAsString(ExamNo);
    ADOTable2->fieldByName("操作题答卷").loadFromFile(AnswerArchive(WorkDir));
    ADOTable2->post();
}

} // namespace client
