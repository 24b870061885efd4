// The settings file "Morvel.ini" beside the client: what the windows read
// from it and when, what the settings box writes, and the windows' layout.
#include "ClientFixture.h"
#include "tests/server/ConsoleFixture.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestMain.h"

#include "client/Unit_Instructions.h"
#include "client/Unit_login.h"
#include "client/Unit_main.h"
#include "framework/core/Gbk.h"
#include "framework/widgets/Label.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <memory>

using namespace clientfixture;
using client::frm_Instructions;
using client::frm_Login;
using client::frm_Main;
using fixture::nextTabStop;

namespace {

QStringList memoLines() {
    QStringList lines;
    for (QTextBlock b = frm_Instructions->Memo1->document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<Client> running;

    void start() {
        running.reset();
        running = std::make_unique<Client>();
    }

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init() {
        removeSettings();
        dialogs = std::make_unique<ScriptedDialogs>();
    }
    void cleanup() {
        running.reset();
        dialogs.reset();
        removeSettings();
    }

    void theFileIsBesideTheProgram() {
        QCOMPARE(settingsPath(), QCoreApplication::applicationDirPath() + "/Morvel.ini");
    }

    void withoutASettingsFile() {
        start();
        QCOMPARE(client::ServerIp, QString());
        QCOMPARE(client::ExamTime, QString("90"));
        QCOMPARE(client::WorkDir, QString("e:\\考生文件夹"));
        QCOMPARE(frm_Main->windowTitle(), QString());
        frm_Instructions->show();
        QCOMPARE(memoLines(), QStringList(14, QString()));
        QCOMPARE(dialogs->calls.size(), 0);
    }

    void theKeysAsTheFileHoldsThem_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("serverIp");
        QTest::addColumn<QString>("examTime");
        QTest::addColumn<QString>("workDir");
        QTest::addColumn<QString>("title");
        QTest::newRow("every key")
            << fw::toGbk("[Morvel]\r\nServerIp=10.1.2.3\r\nExamTime=45\r\nWorkDir=d:\\答题\r\n"
                         "Title=《计算机基础》期末考试\r\n")
            << "10.1.2.3"
            << "45"
            << "d:\\答题"
            << "《计算机基础》期末考试";
        QTest::newRow("empty values are not the defaults")
            << QByteArray("[Morvel]\nServerIp=\nExamTime=\nWorkDir=\nTitle=\n") << ""
            << ""
            << ""
            << "";
        QTest::newRow("another section") << QByteArray("[Client]\nExamTime=45\n") << ""
                                         << "90"
                                         << "e:\\考生文件夹"
                                         << "";
        QTest::newRow("letters for a time pass through")
            << QByteArray("[MORVEL]\nexamtime=ninety\n") << ""
            << "ninety"
            << "e:\\考生文件夹"
            << "";
        QTest::newRow("a host name is stored as it stands")
            << QByteArray("[Morvel]\nServerIp=exam-server\n") << "exam-server"
            << "90"
            << "e:\\考生文件夹"
            << "";
        QTest::newRow("bytes that are not GBK, no line end")
            << QByteArray("\xff\xfe\n[Morvel]\n\x81=\x82\nExamTime=60") << ""
            << "60"
            << "e:\\考生文件夹"
            << "";
    }

    void theKeysAsTheFileHoldsThem() {
        QFETCH(QByteArray, file);
        QFETCH(QString, serverIp);
        QFETCH(QString, examTime);
        QFETCH(QString, workDir);
        QFETCH(QString, title);
        writeSettings(file);
        start();
        QCOMPARE(client::ServerIp, serverIp);
        QCOMPARE(client::ExamTime, examTime);
        QCOMPARE(client::WorkDir, workDir);
        QCOMPARE(frm_Main->windowTitle(), title);
        QCOMPARE(dialogs->calls.size(), 0);
    }

    // The file is read at the start; a change while the client runs counts
    // from the next run (the instruction lines: when they are shown).
    void changesCountAtTheirNextReading() {
        writeSettingsLines({"ServerIp=1.1.1.1", "ExamTime=45", "WorkDir=d:\\a", "Title=A"});
        start();
        writeSettingsLines(
            {"ServerIp=2.2.2.2", "ExamTime=60", "WorkDir=d:\\b", "Title=B", "T1=第一条"});
        QCOMPARE(client::ServerIp, QString("1.1.1.1"));
        QCOMPARE(client::ExamTime, QString("45"));
        QCOMPARE(client::WorkDir, QString("d:\\a"));
        QCOMPARE(frm_Main->windowTitle(), QString("A"));
        frm_Instructions->show();
        QCOMPARE(memoLines().value(1), QString("第一条"));
        start();
        QCOMPARE(client::ExamTime, QString("60"));
        QCOMPARE(client::WorkDir, QString("d:\\b"));
        QCOMPARE(frm_Main->windowTitle(), QString("B"));
    }

    void theSettingsBox_data() {
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<QString>("held");      // ServerIp of the program when the box opens
        QTest::addColumn<QVariant>("answer");   // a text for OK, invalid for Cancel
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("serverIp");
        QTest::newRow("OK creates the file")
            << QByteArray() << "" << QVariant("192.168.0.10")
            << QByteArray("[Morvel]\r\nServerIp=192.168.0.10\r\n") << "192.168.0.10";
        QTest::newRow("OK with an emptied field")
            << QByteArray("[Morvel]\r\nServerIp=1.1.1.1\r\n") << "1.1.1.1" << QVariant("")
            << QByteArray("[Morvel]\r\nServerIp=\r\n") << "";
        QTest::newRow("no check of what is typed")
            << QByteArray("[Morvel]\nTitle=t\n") << "" << QVariant(" 考场 服务器 ")
            << QByteArray("[Morvel]\nTitle=t\nServerIp= ") + fw::toGbk("考场 服务器 ") + "\n"
            << " 考场 服务器 ";
        QTest::newRow("Cancel writes nothing")
            << QByteArray("[Morvel]\r\nServerIp=1.1.1.1\r\n") << "1.1.1.1" << QVariant()
            << QByteArray("[Morvel]\r\nServerIp=1.1.1.1\r\n") << "1.1.1.1";
        QTest::newRow("Cancel without a file")
            << QByteArray() << "" << QVariant() << QByteArray() << "";
        QTest::newRow("the box reads the file afresh")
            << QByteArray("[Morvel]\r\nServerIp=3.3.3.3\r\n") << "9.9.9.9" << QVariant()
            << QByteArray("[Morvel]\r\nServerIp=3.3.3.3\r\n") << "3.3.3.3";
    }

    void theSettingsBox() {
        QFETCH(QByteArray, before);
        QFETCH(QString, held);
        QFETCH(QVariant, answer);
        QFETCH(QByteArray, after);
        QFETCH(QString, serverIp);
        if (!before.isNull())
            writeSettings(before);
        start();
        client::ServerIp = held;
        dialogs->answer(answer);
        QTest::mouseClick(frm_Login->Label2, Qt::LeftButton);
        QCOMPARE(dialogs->calls.size(), 1);
        const ScriptedDialogs::Call& box = dialogs->calls.first();
        QCOMPARE(box.kind, ScriptedDialogs::Kind::Input);
        QCOMPARE(box.caption, QString("设置"));
        QCOMPARE(box.text, QString("请指定考试服务器IP\u3000\u3000\u3000"));
        QCOMPARE(settingsBytes(), after);
        QCOMPARE(QFile::exists(settingsPath()), !after.isNull());
        QCOMPARE(client::ServerIp, serverIp);
        QVERIFY(frm_Login->isVisible());
    }

    void aFileThatCannotBeWrittenSaysSo() {
        writeSettings("[Morvel]\r\nServerIp=1.1.1.1\r\n");
        QFile::setPermissions(settingsPath(), QFile::ReadOwner);
        start();
        dialogs->answer("2.2.2.2");
        QTest::mouseClick(frm_Login->Label2, Qt::LeftButton);
        QCOMPARE(dialogs->errors(), QStringList{"Unable to write to " + settingsPath()});
        QCOMPARE(client::ServerIp, QString("2.2.2.2")); // for this run
        QCOMPARE(settingsBytes(), QByteArray("[Morvel]\r\nServerIp=1.1.1.1\r\n"));
        QVERIFY(frm_Login->isVisible());
    }

    void theInstructionsShowTheNumberTheNameAndSevenLines() {
        writeSettingsLines({"T1=考试时间为90分钟。", "T3=请勿关闭本程序。", "T7=祝考试顺利！",
                            "T5=" + QString(200, QChar(0x8003))});
        start();
        client::ExamNo = "20260001";
        client::ExamineeName = "张三";
        frm_Instructions->show();
        QCOMPARE(frm_Instructions->Label1->text(), QString("20260001"));
        QCOMPARE(frm_Instructions->Label2->text(), QString("张三"));
        QCOMPARE(memoLines(),
                 (QStringList{"", "考试时间为90分钟。", "", "", "", "请勿关闭本程序。", "", "", "",
                              QString(200, QChar(0x8003)), "", "", "", "祝考试顺利！"}));
        QVERIFY(frm_Instructions->Memo1->isReadOnly());
        QCOMPARE(dialogs->calls.size(), 0);
    }

    void theLoginWindowsLayout() {
        start();
        QCOMPARE(frm_Login->objectName(), QString("frm_Login"));
        QCOMPARE(frm_Login->windowTitle(), QString("考生登录"));
        QCOMPARE(frm_Login->size(), QSize(366, 191));
        QCOMPARE(frm_Login->minimumSize(), frm_Login->maximumSize());
        QCOMPARE(frm_Login->font().family(), QString("宋体"));
        QCOMPARE(frm_Login->font().pixelSize(), 19);
        QCOMPARE(frm_Login->Label1->text(), QString("输入准考证号"));
        QCOMPARE(frm_Login->Label1->geometry(), QRect(56, 24, 114, 19));
        QCOMPARE(frm_Login->Edit1->geometry(), QRect(56, 56, 257, 41));
        QCOMPARE(frm_Login->Edit1->maxLength(), 8);
        QCOMPARE(frm_Login->Edit1->font().pixelSize(), 32);
        QCOMPARE(frm_Login->Edit1->palette().color(QPalette::Text), QColor(Qt::white));
        QCOMPARE(frm_Login->BitBtn1->text(), QString("确定"));
        QCOMPARE(frm_Login->BitBtn1->geometry(), QRect(64, 120, 85, 32));
        QCOMPARE(frm_Login->BitBtn1->font().pixelSize(), 16);
        QVERIFY(frm_Login->BitBtn1->isDefault());
        QCOMPARE(frm_Login->BitBtn2->text(), QString("取消"));
        QCOMPARE(frm_Login->BitBtn2->geometry(), QRect(160, 120, 85, 32));
        QCOMPARE(frm_Login->Label2->text(), QString("设置"));
        QCOMPARE(frm_Login->Label2->geometry(), QRect(296, 160, 38, 19));
        QVERIFY(frm_Login->Label2->font().underline());
        QCOMPARE(frm_Login->Label2->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QCOMPARE(frm_Login->Label2->cursor().shape(), Qt::PointingHandCursor);
        // the exam number first, then the two buttons
        QVERIFY(QTest::qWaitForWindowActive(frm_Login));
        QCOMPARE(frm_Login->focusWidget(), frm_Login->Edit1);
        QCOMPARE(nextTabStop(frm_Login->Edit1), frm_Login->BitBtn1);
        QCOMPARE(nextTabStop(frm_Login->BitBtn1), frm_Login->BitBtn2);
        QCOMPARE(nextTabStop(frm_Login->BitBtn2), frm_Login->Edit1);
    }

    void theInstructionsWindowsLayout() {
        start();
        const auto* w = frm_Instructions;
        QCOMPARE(w->windowTitle(), QString("考生需知"));
        QCOMPARE(w->size(), QSize(474, 367));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QCOMPARE(w->font().pixelSize(), 16);
        QCOMPARE(w->Panel1->text(), QString("==考生须知=="));
        QCOMPARE(w->Panel1->geometry(), QRect(0, 0, 474, 49));
        QVERIFY(w->Panel1->font().bold());
        QCOMPARE(w->Panel1->font().pixelSize(), 19);
        QCOMPARE(w->Memo1->geometry(), QRect(16, 49, 441, 265));
        QCOMPARE(w->Memo1->font().pixelSize(), 15);
        QCOMPARE(w->Panel2->geometry(), QRect(0, 314, 474, 53));
        QCOMPARE(w->Label1->pos(), QPoint(32, 16));
        QCOMPARE(w->Label2->pos(), QPoint(176, 16));
        QCOMPARE(w->Label1->font().pixelSize(), 21);
        QVERIFY(w->Label2->font().bold());
        QCOMPARE(w->Button1->text(), QString("进入考试 >>"));
        QCOMPARE(w->Button1->geometry(), QRect(336, 11, 129, 31));
        QVERIFY(!w->Button1->isDefault());
        QCOMPARE(nextTabStop(w->Memo1), w->Button1);
    }

    void theExamWindowIsHiddenUntilTheExam() {
        start();
        QVERIFY(!frm_Main->isVisible());
        QVERIFY(!frm_Instructions->isVisible());
        QVERIFY(frm_Login->isVisible());
        QCOMPARE(frm_Main->size(), QSize(876, 569));
        QCOMPARE(frm_Main->minimumSize(), frm_Main->maximumSize());
        QCOMPARE(frm_Main->font().pixelSize(), 16);
        QCOMPARE(frm_Main->x(), 122);
        const Qt::WindowFlags flags = frm_Main->windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    }
};

MORVEL_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
