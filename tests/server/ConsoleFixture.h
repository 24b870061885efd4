#pragma once

#include "tests/support/ScriptedDialogs.h"

#include <QApplication>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <QVariantList>
#include <memory>

namespace server {
class Tfrm_Main;
}

// What the console's suites share: the catalog reached directly (setup and
// checks never go through the console's own data layer), a reset of the
// exam's tables, and a console started as the program starts it.
namespace fixture {

QSqlDatabase catalog();
// Runs a statement on the catalog; the test fails on an error.
void exec(const QString& sql, const QVariantList& values = {});
// The first column of the first row (an invalid QVariant when there is none).
QVariant value(const QString& sql, const QVariantList& values = {});
// Every row, its columns joined by "|" (a null as an empty text).
QStringList rows(const QString& sql, const QVariantList& values = {});

// Empties the tables the console works on.
void resetCatalog();
void addClass(const QString& cls, const QVariant& chosen = 0, const QVariant& examined = 0);
void addExaminee(int id, const QString& examNo, const QString& name, const QString& cls,
                 const QVariant& loginFlag = 0);
// An examinee's 登录标志|IP|考试状态.
QString examineeState(const QString& examNo);

// The sample workbook and question bank built with the database.
QString sampleWorkbook();
QString sampleBank();

// Starts the console (the windows created and shown); fails the test when
// the start-up ends the program.
server::Tfrm_Main* startConsole();
void endConsole();

// One test's console: the scripted dialogs installed, the windows created
// and the main window shown; ended with the object. Its program folder
// (AppPath) is "program" in a scratch folder that holds nothing else.
class Console {
public:
    Console();
    ~Console() { endConsole(); }
    ScriptedDialogs dialogs;
    server::Tfrm_Main* main;
    QTemporaryDir scratch;
};

// What the console suites share: a console per test, its dialogs and its
// main window.
class ConsoleSuite : public QObject {
    Q_OBJECT
protected:
    // The suites open and close windows again and again: closing the last
    // one must not end the test program.
    ConsoleSuite() { QApplication::setQuitOnLastWindowClosed(false); }
    void startConsole(); // after the catalog's rows for the test are in place
    void endConsole();
    // The console started, the classes chosen, the sample bank loaded, the
    // papers generated and the exam started; the dialogs' record cleared.
    void startExam(const QStringList& classes);
    std::unique_ptr<Console> console;
    ScriptedDialogs* dialogs = nullptr;
    server::Tfrm_Main* main = nullptr;
};

// Asks the main window to close by the button, the menu item or the close box.
void askToClose(const QString& way);

// The client's login Morvel over TCP, as a client connects (not yet open).
QSqlDatabase clientLogin(const QString& connectionName);

// Checks a recorded Windows message box.
void expectMessageBox(const ScriptedDialogs::Call& call, const QString& text,
                      const QString& caption, unsigned flags);

// Ticks exactly the named classes in the class dialog and confirms it, as
// the invigilator does through "选择班级...".
void chooseClasses(const QStringList& classes);

// The widget that Tab moves to from w.
QWidget* nextTabStop(QWidget* w);

// Runs f as soon as the next modal loop runs.
void whenModal(std::function<void()> f);

} // namespace fixture
