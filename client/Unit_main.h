#pragma once

#include "framework/widgets/Form.h"

#include <QString>
#include <QWidget>

namespace fw {
class ClientSocket;
class Connection;
class Query;
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
// shown when the examinee enters the exam. It holds the components that the
// whole client uses: the exam database connection, the login query and the
// status connection to the exam server.
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

    // The hand-in.
    void FormClose(QObject* Sender, fw::CloseAction& Action) override;

private:
    void CreateLoginComponents();
    void ConnectHandlers();
};

extern Tfrm_Main* frm_Main;

} // namespace client
