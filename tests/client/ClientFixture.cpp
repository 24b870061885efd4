#include "ClientFixture.h"

#include "client/Program.h"
#include "client/Unit_Instructions.h"
#include "client/Unit_login.h"
#include "client/Unit_main.h"
#include "framework/core/Application.h"
#include "framework/core/Gbk.h"
#include "framework/core/Sockets.h"
#include "server/Unit_Common.h"
#include "server/Unit_Main.h"
#include "tests/server/ConsoleFixture.h"
#include "tests/support/FileTree.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace clientfixture {

QString settingsPath() {
    return client::IniFileName();
}

void writeSettings(const QByteArray& bytes) {
    QFile file(settingsPath());
    QFile::setPermissions(settingsPath(), QFile::ReadOwner | QFile::WriteOwner);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(settingsPath()));
    file.write(bytes);
}

void removeSettings() {
    QFile::setPermissions(settingsPath(), QFile::ReadOwner | QFile::WriteOwner);
    QFile::remove(settingsPath());
}

QByteArray settingsBytes() {
    QFile file(settingsPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeSettingsLines(const QStringList& lines) {
    writeSettings(fw::toGbk("[Morvel]\r\n" + lines.join("\r\n") + "\r\n"));
}

void mapDrives(const QString& root) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const QString folder = root + "/drive-" + QChar(letter).toLower();
        QDir().mkpath(folder);
        qputenv(QByteArray("MORVEL_DRIVE_") + letter, QFile::encodeName(folder));
    }
}

Client::Client() {
    fw::resetTerminated();
    client::StartProgram();
}

Client::~Client() {
    client::EndProgram();
}

void startExam(fixture::Console& console, const QStringList& classes) {
    server::ExamineeListImported = true;
    fixture::chooseClasses(classes);
    console.dialogs.answer(fixture::sampleBank());
    console.main->Btn_LoadQuestion->click();
    console.main->Btn_GenerateQuestion->click();
    console.main->Btn_Start->click();
    if (!console.main->ServerSocket1->active())
        qFatal("the exam did not start: %s", qPrintable(console.dialogs.texts().join(" | ")));
    console.dialogs.clear();
}

void pressOk(const QString& examNo) {
    client::frm_Login->Edit1->setText(examNo);
    client::frm_Login->BitBtn1->click();
}

void showTab(int index) {
    QTabBar* bar = client::frm_Main->PageControl1->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    QCOMPARE(client::frm_Main->PageControl1->currentIndex(), index);
}

void choose(QRadioButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    QVERIFY(button->isChecked());
}

void typeText(QWidget* widget, const QString& text) {
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void logInAndEnter(const QString& examNo) {
    pressOk(examNo);
    QVERIFY(QTest::qWaitFor([] { return client::frm_Instructions->isVisible(); }, 5000));
    client::frm_Instructions->Button1->click();
    QVERIFY(client::frm_Main->isVisible());
    QApplication::setActiveWindow(client::frm_Main);
    QVERIFY(QTest::qWaitForWindowActive(client::frm_Main));
}

ScriptedListener::ScriptedListener(const QByteArray& answer, bool closeOnMessage)
    : answer(answer), closeOnMessage(closeOnMessage), m_server(new QTcpServer(this)) {
    if (!m_server->listen(QHostAddress::AnyIPv4, 5000))
        qFatal("port 5000: %s", qPrintable(m_server->errorString()));
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            ++connections;
            m_latest = socket;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                messages << socket->readAll();
                if (this->closeOnMessage)
                    socket->close();
                else if (!this->answer.isEmpty())
                    socket->write(this->answer);
            });
        }
    });
}

ScriptedListener::~ScriptedListener() = default;

bool ScriptedListener::waitForMessages(int n) {
    return QTest::qWaitFor([&] { return messages.size() >= n; }, 5000);
}

void ScriptedListener::send(const QByteArray& bytes) {
    if (m_latest)
        m_latest->write(bytes);
}

bool ScriptedListener::listening() const {
    return m_server->isListening();
}

QMap<QString, QByteArray> doSomeWork(const QString& folder, qsizetype size) {
    writeFile(folder + "/Word/文档.txt", "计算机基础\n已修改标题。\n");
    QFile::remove(folder + "/Excel/说明.txt");
    writeFile(folder + "/作业 一/说明 副本.txt", readFile(folder + "/PowerPoint/说明.txt"));
    writeFile(folder + "/0 数据 文件.bin", randomBytes(size));
    return treeOf(folder);
}

QMap<QString, QByteArray> storedWorkFolder(const QString& examNo, const QString& folder) {
    QTemporaryDir dir;
    writeFile(dir.filePath("stored.rar"),
              fixture::value("select 操作题答卷 from 操作题答卷 where 准考证号 = ?", {examNo})
                  .toByteArray());
    if (!extractWith("bsdtar", dir.filePath("stored.rar"), dir.filePath("x")))
        return {{"(bsdtar failed)", {}}};
    return treeOf(dir.filePath("x/" + folder));
}

ExamSuite::ExamSuite() {
    QApplication::setQuitOnLastWindowClosed(false);
    mapDrives(scratch.path());
}

ExamSuite::~ExamSuite() = default;

void ExamSuite::enterExam(const QString& examNo, const QStringList& settings) {
    running.reset();
    listener.reset();
    listener = std::make_unique<ScriptedListener>();
    writeSettingsLines(QStringList{"ServerIp=127.0.0.1"} + settings);
    running = std::make_unique<Client>();
    fixture::exec("update 考生信息 set ip = '127.0.0.1', 登录标志 = 1, 考试状态 = '登录成功!' "
                  "where 准考证号 = ?",
                  {examNo});
    logInAndEnter(examNo);
}

} // namespace clientfixture
