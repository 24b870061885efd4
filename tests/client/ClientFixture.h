#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class QRadioButton;
class QTcpServer;
class QWidget;
class QTcpSocket;

namespace fixture {
class Console;
}
class ScriptedDialogs;

// What the client's suites share: the settings file beside the test program
// (each suite has a folder of its own), the client started as the program
// starts it, and a listener that stands in for the console.
namespace clientfixture {

// "Morvel.ini" beside the running program, as the client finds it.
QString settingsPath();
void writeSettings(const QByteArray& bytes);
void removeSettings();
QByteArray settingsBytes();
// A settings file with the section Morvel and the given "key=value" lines.
void writeSettingsLines(const QStringList& lines);

// Every drive letter of the client mapped to a folder of its own below
// `root` (made here), as MORVEL_DRIVE_A to MORVEL_DRIVE_Z say; child
// processes inherit the mapping.
void mapDrives(const QString& root);

// The client of one test: the windows created and the login window shown,
// as the start-up does it before its message loop (without the
// single-instance mark); ended with the object.
class Client {
public:
    Client();
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
};

// The console's exam started for the classes, as the invigilator starts it:
// classes chosen, questions loaded, papers generated, "开始考试" (which grants
// the client's login its rights and opens the listener).
void startExam(fixture::Console& console, const QStringList& classes);

// Types the exam number and presses "确定".
void pressOk(const QString& examNo);

// The examinee's hand on the exam window: a click on a tab; a click on a
// radio button's mark (an answer chosen); typing as a keyboard or an input
// method does, one character at a time.
void showTab(int index);
void choose(QRadioButton* button);
void typeText(QWidget* widget, const QString& text);

// Logs examNo in (a listener must admit it), enters the exam from the
// instructions and makes the exam window the active one.
void logInAndEnter(const QString& examNo);

// A status listener on port 5000 in place of the console: it records every
// message and answers each one as the script says.
class ScriptedListener : public QObject {
    Q_OBJECT
public:
    // what follows a message: the answer's bytes (none when empty), or the
    // connection closed
    explicit ScriptedListener(const QByteArray& answer = "00", bool closeOnMessage = false);
    ~ScriptedListener() override;

    QByteArray answer;
    bool closeOnMessage;
    QList<QByteArray> messages;
    int connections = 0;

    // Waits until n messages have come; false after a while.
    bool waitForMessages(int n);
    // Sends bytes on the latest connection.
    void send(const QByteArray& bytes);
    bool listening() const;

private:
    QTcpServer* m_server;
    QPointer<QTcpSocket> m_latest;
};

// What an examinee does in a work folder made from the sample template (its
// Word, Excel and PowerPoint files): a file changed, one deleted, a nested
// folder with a copy added and a file of `size` random bytes, names with
// blanks and Chinese characters. Returns what the folder then holds.
QMap<QString, QByteArray> doSomeWork(const QString& folder, qsizetype size);

// The work folder in the archive that the database holds for examNo, as
// bsdtar extracts it: the folder named `folder` in the archive.
QMap<QString, QByteArray> storedWorkFolder(const QString& examNo,
                                           const QString& folder = "考生文件夹");

// What the exam window's suites share: a scratch folder that the client's
// drives are mapped into, the scripted dialogs, a scripted listener in place
// of the console, and the client.
class ExamSuite : public QObject {
    Q_OBJECT
protected:
    ExamSuite();
    ~ExamSuite() override;

    // The client started afresh with ServerIp=127.0.0.1 and `settings` in its
    // settings file, examNo admitted from 127.0.0.1 as the console admits it,
    // logged in against a new listener and the exam entered.
    void enterExam(const QString& examNo = "0001", const QStringList& settings = {});

    QTemporaryDir scratch;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<ScriptedListener> listener;
    std::unique_ptr<Client> running;
};

} // namespace clientfixture
