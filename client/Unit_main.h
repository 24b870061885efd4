#pragma once

#include "framework/widgets/Form.h"

#include <QString>
#include <QWidget>

class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QTabWidget;

namespace fw {
class ClientSocket;
class Connection;
class DataSource;
class DBEdit;
class DBMemo;
class DBNavigator;
class DBRadioGroup;
class Dataset;
class Image;
class Label;
class Query;
class Table;
class Timer;
} // namespace fw

namespace client {

// Program-wide state of the client, shared by its windows. Everything starts
// empty or false with the program; no flag is ever set back; nothing of it is
// stored. (EnteredExam belongs to the instructions window's unit.)
extern QString ExamNo;       // the exam number as the examinee's record holds it
extern QString ExamineeName; // the name of that record
extern QString ServerIp;     // the exam server: status connection and database host
extern QString WorkDir;      // the examinee's work folder, "e:\考生文件夹" by default
extern QString ExamTime;     // the exam's length in minutes, as the settings give it
extern bool LoginAccepted;   // the server answered "00"
extern bool PaperReady;      // the exam window has finished its start

// The settings file "Morvel.ini" beside the program, and its one section.
QString IniFileName();
inline const QString IniSection = QStringLiteral("Morvel");

// The exam window, the program's main window: created hidden at start-up and
// shown when the examinee enters the exam, which starts it: the examinee's
// paper opened, the server told, the work folder prepared, the countdown
// running. It holds the components that the whole client uses: the exam
// database connection, the login query and the status connection.
class Tfrm_Main : public fw::Form<QWidget> {
    Q_OBJECT
public:
    explicit Tfrm_Main(QWidget* parent = nullptr);
    ~Tfrm_Main() override;

    // The login components.
    fw::Connection* ADOConnection1 = nullptr;  // the exam database, as the login Morvel
    fw::Query* ADOQuery1 = nullptr;            // the examinee's record, open from the login on
    fw::ClientSocket* ClientSocket1 = nullptr; // the status connection, port 5000

    void FormCreate(QObject* Sender);
    void ADOConnection1BeforeConnect(QObject* Sender);
    void ClientSocket1Connect(QObject* Sender);
    void ClientSocket1Read(QObject* Sender);
    void ClientSocket1Error(QObject* Sender, int& ErrorCode);

    // The exam: the paper of each kind (at most five rows, in a new random
    // order at each opening), the practical tasks and the answer archives.
    fw::Query* ADOQuery2 = nullptr; // multiple-choice
    fw::Query* ADOQuery3 = nullptr; // true/false
    fw::Query* ADOQuery4 = nullptr; // fill-in
    fw::Table* ADOTable1 = nullptr; // 操作题
    fw::Table* ADOTable2 = nullptr; // 操作题答卷, for the hand-in
    fw::DataSource* DataSource1 = nullptr;
    fw::DataSource* DataSource2 = nullptr;
    fw::DataSource* DataSource3 = nullptr;
    fw::DataSource* DataSource4 = nullptr;
    fw::Timer* Timer1 = nullptr; // the minute countdown

    // Top band: class, exam number, name and the minutes left.
    QFrame* Panel1 = nullptr;
    QLabel* Label20 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr; // the only store of the remaining minutes

    QTabWidget* PageControl1 = nullptr;
    // Tab 0, "选择题".
    QWidget* TabSheet1 = nullptr;
    QLabel* Label5 = nullptr;
    fw::DBMemo* DBMemo1 = nullptr;
    fw::DBRadioGroup* DBRadioGroup1 = nullptr;
    fw::DBEdit* DBEdit2 = nullptr;
    fw::DBEdit* DBEdit3 = nullptr;
    fw::DBEdit* DBEdit4 = nullptr;
    fw::DBEdit* DBEdit5 = nullptr;
    QScrollArea* ScrollBox2 = nullptr;
    fw::Image* Image1 = nullptr;
    // Tab 1, "判断题".
    QWidget* TabSheet2 = nullptr;
    QLabel* Label6 = nullptr;
    fw::DBMemo* DBMemo2 = nullptr;
    fw::DBRadioGroup* DBRadioGroup2 = nullptr;
    QScrollArea* ScrollBox3 = nullptr;
    fw::Image* Image2 = nullptr;
    // Tab 2, "填空题".
    QWidget* TabSheet3 = nullptr;
    QLabel* Label7 = nullptr;
    fw::DBMemo* DBMemo3 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    fw::DBEdit* DBEdit6 = nullptr;
    QScrollArea* ScrollBox4 = nullptr;
    fw::Image* Image3 = nullptr;
    // Tabs 3 to 5, "操作题(一)" to "操作题(三)".
    QWidget* TabSheet4 = nullptr;
    QLabel* Label10 = nullptr;
    fw::DBMemo* DBMemo4 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
    fw::Image* Image4 = nullptr;
    QLabel* Label8 = nullptr;
    fw::Label* Label9 = nullptr;
    QLabel* Label17 = nullptr;
    QWidget* TabSheet5 = nullptr;
    QLabel* Label11 = nullptr;
    fw::DBMemo* DBMemo5 = nullptr;
    QScrollArea* ScrollBox5 = nullptr;
    fw::Image* Image5 = nullptr;
    QLabel* Label12 = nullptr;
    fw::Label* Label13 = nullptr;
    QLabel* Label18 = nullptr;
    QWidget* TabSheet6 = nullptr;
    QLabel* Label14 = nullptr;
    fw::DBMemo* DBMemo6 = nullptr;
    QScrollArea* ScrollBox6 = nullptr;
    fw::Image* Image6 = nullptr;
    QLabel* Label15 = nullptr;
    fw::Label* Label16 = nullptr;
    QLabel* Label19 = nullptr;

    // Bottom band.
    QFrame* Panel2 = nullptr;
    fw::DBNavigator* DBNavigator1 = nullptr;
    QPushButton* Button1 = nullptr; // "交卷"

    void FormShow(QObject* Sender) override;
    void PageControl1Change(QObject* Sender);
    void Timer1Timer(QObject* Sender);
    void ADOQuery2AfterScroll(QObject* Sender);
    void ADOQuery3AfterScroll(QObject* Sender);
    void ADOQuery4AfterScroll(QObject* Sender);
    void DBRadioGroup1Exit(QObject* Sender);
    void DBRadioGroup2Exit(QObject* Sender);
    void DBEdit6Exit(QObject* Sender);

    // The pictures and the work folder, shown by the desktop.
    void Image4DblClick(QObject* Sender);
    void Label9Click(QObject* Sender);

    // The hand-in.
    void Button1Click(QObject* Sender);
    void FormClose(QObject* Sender, fw::CloseAction& Action) override;

private:
    void HandIn();
    void StoreArchive();
    bool HandingIn = false; // a hand-in runs: a further close is refused
    void CreateLoginComponents();
    void CreateDatasets();
    void CreatePanel1();
    void CreatePageControl1();
    void CreateTabSheet1();
    void CreateTabSheet2();
    void CreateTabSheet3();
    void CreateTaskSheets();
    void CreatePanel2();
    void ConnectHandlers();
};

extern Tfrm_Main* frm_Main;

} // namespace client
