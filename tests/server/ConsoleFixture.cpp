#include "ConsoleFixture.h"

#include "server/Program.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"
#include "server/Unit_SelectClass.h"

#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QTimer>

namespace fixture {

QSqlDatabase catalog() {
    const QString name = "fixture-catalog";
    if (QSqlDatabase::contains(name))
        return QSqlDatabase::database(name);
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", name);
    db.setHostName(qEnvironmentVariable("PGHOST"));
    db.setPort(qEnvironmentVariableIntValue("PGPORT"));
    db.setDatabaseName("Morvel");
    if (!db.open())
        qFatal("catalog: %s", qPrintable(db.lastError().text()));
    return db;
}

static QSqlQuery run(const QString& sql, const QVariantList& values) {
    QSqlQuery query(catalog());
    bool done = false;
    if (values.isEmpty()) {
        done = query.exec(sql);
    } else if (query.prepare(sql)) {
        for (const QVariant& v : values)
            query.addBindValue(v);
        done = query.exec();
    }
    if (!done)
        qFatal("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    return query;
}

void exec(const QString& sql, const QVariantList& values) {
    run(sql, values);
}

QVariant value(const QString& sql, const QVariantList& values) {
    QSqlQuery query = run(sql, values);
    return query.next() ? query.value(0) : QVariant();
}

QStringList rows(const QString& sql, const QVariantList& values) {
    QSqlQuery query = run(sql, values);
    QStringList out;
    while (query.next()) {
        QStringList columns;
        for (int i = 0; i < query.record().count(); ++i)
            columns << (query.isNull(i) ? QString() : query.value(i).toString());
        out << columns.join('|');
    }
    return out;
}

void resetCatalog() {
    exec("truncate 考生信息, 考试情况, 试卷表, 操作题答卷, 作弊处理");
}

void addClass(const QString& cls, const QVariant& chosen, const QVariant& examined) {
    exec("insert into 考试情况(班级, 是否选择, 是否已考) values (?, ?, ?)",
         {cls, chosen, examined});
}

void addExaminee(int id, const QString& examNo, const QString& name, const QString& cls,
                 const QVariant& loginFlag) {
    exec("insert into 考生信息(考生id, 准考证号, 姓名, 班级, ip, 考试状态, 登录标志) "
         "values (?, ?, ?, ?, '', '', ?)",
         {id, examNo, name, cls, loginFlag});
}

QString examineeState(const QString& examNo) {
    const QStringList r =
        rows("select 登录标志, ip, 考试状态 from 考生信息 where 准考证号 = ?", {examNo});
    return r.value(0);
}

QString sampleWorkbook() {
    return qEnvironmentVariable("MORVEL_BINARY_DIR") + "/samples/examinees.xls";
}

QString sampleBank() {
    return qEnvironmentVariable("MORVEL_BINARY_DIR") + "/samples/bank.mdb";
}

server::Tfrm_Main* startConsole() {
    const auto ended = server::StartProgram();
    if (ended)
        qFatal("the console did not start (exit code %d)", *ended);
    return server::frm_Main;
}

void endConsole() {
    server::EndProgram();
}

Console::Console() : main(startConsole()) {
    QDir(scratch.path()).mkdir("program");
    server::AppPath = scratch.path() + "/program/";
}

QWidget* nextTabStop(QWidget* w) {
    QWidget* next = w->nextInFocusChain();
    while (next != w && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    return next;
}

void ConsoleSuite::startConsole() {
    console.reset(); // a failed check may have left the last test's console
    console = std::make_unique<Console>();
    dialogs = &console->dialogs;
    main = console->main;
}

void ConsoleSuite::startExam(const QStringList& classes) {
    startConsole();
    server::ExamineeListImported = true;
    chooseClasses(classes);
    dialogs->answer(sampleBank());
    main->Btn_LoadQuestion->click();
    main->Btn_GenerateQuestion->click();
    main->Btn_Start->click();
    dialogs->clear();
}

QSqlDatabase clientLogin(const QString& connectionName) {
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", connectionName);
    db.setHostName("127.0.0.1");
    db.setPort(qEnvironmentVariableIntValue("PGPORT"));
    db.setDatabaseName("Morvel");
    db.setUserName("Morvel");
    db.setPassword("5093718");
    return db;
}

void ConsoleSuite::endConsole() {
    console.reset();
    dialogs = nullptr;
    main = nullptr;
}

void askToClose(const QString& way) {
    if (way == "Btn_Exit")
        server::frm_Main->Btn_Exit->click();
    else if (way == "N4")
        server::frm_Main->N4->trigger();
    else
        server::frm_Main->close();
}

void expectMessageBox(const ScriptedDialogs::Call& call, const QString& text,
                      const QString& caption, unsigned flags) {
    QCOMPARE(call.kind, ScriptedDialogs::Kind::MessageBox);
    QCOMPARE(call.text, text);
    QCOMPARE(call.caption, caption);
    QCOMPARE(call.flags, flags);
}

void whenModal(std::function<void()> f) {
    QTimer::singleShot(0, std::move(f));
}

void chooseClasses(const QStringList& classes) {
    whenModal([classes] {
        QListWidget* list = server::frm_SelectClass->CheckListBox1;
        for (int k = 0; k < list->count(); ++k)
            list->item(k)->setCheckState(classes.contains(list->item(k)->text()) ? Qt::Checked
                                                                                 : Qt::Unchecked);
        server::frm_SelectClass->Btn_OK->click();
    });
    server::frm_Main->N2->trigger();
}

} // namespace fixture
