#pragma once

#include "framework/widgets/Form.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPushButton>
#include <map>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;
class QTimer;

namespace fw {
class ClientConnection;
class Connection;
class DataSource;
class DBGrid;
class Query;
class ServerSocket;
class StoredProc;
class Table;
} // namespace fw

namespace server {

// A push button with a picture beside its caption; its Tag holds a step of
// the exam's progress.
class TagButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(int Tag MEMBER Tag)
public:
    TagButton(const QString& caption, QWidget* parent);
    int Tag = 0;
};

// The file-open dialog component: the filter it offers and the file chosen
// last, which it offers again as the starting name.
class OpenDialog {
public:
    QString Filter;
    QString FileName;
    bool Execute(); // true when a file was chosen; FileName is then its full path
};

using fw::CloseAction;

// The console's main window: the examinee grid, the exam buttons and the
// components that the whole console uses.
class Tfrm_Main : public fw::Form<QMainWindow> {
    Q_OBJECT
public:
    // Opens the exam database on the way; a failure raises.
    explicit Tfrm_Main(QWidget* parent = nullptr);
    ~Tfrm_Main() override;

    // The grid, the button panel, the status bar and the menu.
    fw::DBGrid* DBGrid1 = nullptr;
    QFrame* Panel1 = nullptr;
    TagButton* Btn_LoadQuestion = nullptr;
    TagButton* Btn_GenerateQuestion = nullptr;
    TagButton* Btn_Start = nullptr;
    TagButton* Btn_Resume = nullptr;
    TagButton* Btn_Fraud = nullptr;
    TagButton* Btn_End = nullptr;
    TagButton* Btn_Exit = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QMenu* F1 = nullptr;
    QAction* N1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QAction* N4 = nullptr;
    QMenu* H1 = nullptr;
    QAction* N5 = nullptr;
    QAction* N6 = nullptr;

    // The components without a face.
    fw::Connection* ADOConnection1 = nullptr; // the exam database
    fw::Table* ADOTable1 = nullptr;           // 考生信息, behind the grid
    fw::DataSource* DataSource1 = nullptr;
    fw::StoredProc* ADOStoredProc1 = nullptr; // the workflow's procedures
    fw::StoredProc* ADOStoredProc2 = nullptr; // "mark;1"
    fw::Query* ADOQuery2 = nullptr;           // the handed-in examinees of one class
    fw::Query* ADOQuery3 = nullptr;           // their archives, read forward only
    fw::Connection* ADOConnection2 = nullptr; // one class's score database
    fw::Query* ADOQuery1 = nullptr;           // statements on the score database
    OpenDialog OpenDialog1;
    fw::ServerSocket* ServerSocket1 = nullptr;

    // Whether the grid has an examinee selected.
    bool HasCurrentExaminee() const;

    void FormCreate(QObject* Sender);
    void FormShow(QObject* Sender) override;
    void FormClose(QObject* Sender, CloseAction& Action) override;
    void Btn_ExitClick(QObject* Sender);
    void N1Click(QObject* Sender);
    void N2Click(QObject* Sender);
    void Btn_LoadQuestionClick(QObject* Sender);
    void Btn_GenerateQuestionClick(QObject* Sender);
    void Btn_StartClick(QObject* Sender);
    void Btn_ResumeClick(QObject* Sender);
    void Btn_FraudClick(QObject* Sender);
    void Btn_EndClick(QObject* Sender);
    void ServerSocket1ClientRead(QObject* Sender, fw::ClientConnection* Socket);
    void ServerSocket1ClientError(QObject* Sender, fw::ClientConnection* Socket, int& ErrorCode);
    void ServerSocket1AcceptError(QObject* Sender, const QString& Reason);
    void ServerSocket1ClientSilent(QObject* Sender, const QString& Peer);

    // Collects every class of SelectedClasses into its score database and
    // its archive files; raises at the first failure.
    void CollectResults();

    // The answer of the open-exam test when the window was last shown.
    bool UnfinishedSittingAtShow = false;

private:
    void CreateComponents();
    void CreateControls();
    void CreateMenu();
    void ConnectHandlers();
    bool ChooseFile(const QString& filter);
    void CallProcedure(const QString& name, const QString& fileName = QString());
    void MarkClassesExamined();
    void CollectClass(const QString& cls);
    void Ignore(const QString& peer, const QByteArray& message, const QString& why);
    // What the listener refused, by kind.
    enum class Refusal { Report, Accepting, Silent };
    void ShowRefusal(Refusal kind, const QString& text);
    void ShowRefusals();

    // The status line says what the listener refused, at most once a second:
    // what comes sooner waits, the latest of each kind with the number of
    // those it stands for.
    struct WaitingRefusal {
        QString text;
        int times = 0;
    };
    QTimer* RefusalLine = nullptr;
    QElapsedTimer RefusalShown;
    std::map<Refusal, WaitingRefusal> RefusalsWaiting;
};

extern Tfrm_Main* frm_Main;

} // namespace server
